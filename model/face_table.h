#pragma once
// Bounded access to the group and face tables. Every model-sized loop over faces and
// every face looked up by (group, face) goes through these, so that no count and no
// index, whatever a file or a hand-built model holds, reads outside a table.
//
// Contract:
//  - LastSlot: the last slot a loop over slots 0 .. count of a table visits, never past
//    the table's end (-1 when it visits none).
//  - SlotOrZero: slot i of a table, or a zero-filled value where the table has none (for
//    the writers, which write every slot 0 .. count the counts promise).
//  - LastGroup: the last group a walk visits, gCount within the table; -1 when none.
//  - LastFace: the last face slot of a group a walk visits, fCount within the table
//    (0 when the group has only its spare slot 0, -1 when its table is empty); loops
//    over "faces 1 .. fCount" run 1 .. LastFace, loops that include the spare slot 0
//    run 0 .. LastFace.
//  - FaceAt: face `face` of group `group` when it is one of the group's faces
//    1 .. LastFace, else nullptr (slot 0 is a spare, not a face).
//  - CornerIndex: the vertex index at corner `corner` of a face; 0 (the spare vertex)
//    without a face or past its vIdx.
//  - ReadableCorners: count, but never past vIdx (0 for a count of 0 or less).
//  - HasSide: whether two consecutive corners of the face (or its last and first) are
//    the vertices a and b, either way round, within its readable corners.
//  - ForEachFace(model, first, fn): fn(group, g, face, f) for the slots first .. LastFace
//    of every group 0 .. LastGroup, in that order; first is 0 or 1.
#include "KGLModel.h"

namespace kgl {

template <class Table>
inline int32_t LastSlot(const Table& table, int32_t count) {
    const int64_t last = static_cast<int64_t>(table.size()) - 1;
    return static_cast<int32_t>(count < last ? (count < -1 ? -1 : count) : last);
}

template <class Table>
inline const typename Table::value_type& SlotOrZero(const Table& table, int64_t i) {
    static const typename Table::value_type zero{};
    return i >= 0 && static_cast<uint64_t>(i) < table.size() ? table[static_cast<size_t>(i)] : zero;
}

inline int32_t LastGroup(const TKGLModel& model) { return LastSlot(model.groups, model.gCount); }

inline int32_t LastFace(const TGroup& group) { return LastSlot(group.faces, group.fCount); }

inline const TFace* FaceAt(const TKGLModel& model, int32_t group, int32_t face) {
    if (group < 0 || group > LastGroup(model) || face < 1) return nullptr;
    const TGroup& g = model.groups[static_cast<size_t>(group)];
    if (face > LastFace(g)) return nullptr;
    return &g.faces[static_cast<size_t>(face)];
}

inline int32_t CornerIndex(const TFace* face, int32_t corner) {
    if (!face || corner < 0 || static_cast<uint32_t>(corner) >= face->vIdx.size()) return 0;
    return face->vIdx[static_cast<uint32_t>(corner)];
}

inline uint32_t ReadableCorners(const TFace& face) {
    if (face.count <= 0) return 0;
    const auto n = static_cast<uint32_t>(face.count);
    return n < face.vIdx.size() ? n : face.vIdx.size();
}

inline bool HasSide(const TFace& face, int32_t a, int32_t b) {
    const uint32_t n = ReadableCorners(face);
    for (uint32_t j = 0; j < n; ++j) {
        const int32_t x = face.vIdx[j], y = face.vIdx[j + 1 < n ? j + 1 : 0];
        if ((x == a && y == b) || (x == b && y == a)) return true;
    }
    return false;
}

template <class TModel, class Fn>
inline void ForEachFace(TModel& model, int32_t first, Fn&& fn) {
    const int32_t lastGroup = LastGroup(model);
    for (int32_t g = 0; g <= lastGroup; ++g) {
        auto& group = model.groups[static_cast<size_t>(g)];
        const int32_t last = LastFace(group);
        auto* faces = group.faces.data();
        for (int32_t f = first; f <= last; ++f) fn(group, g, faces[f], f);
    }
}

}  // namespace kgl
