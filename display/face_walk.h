#pragma once
// Internal to the display unit: the face walk and the corner rules every drawing and
// picking pass shares. GL-free, so the guards can be tested on their own.
//
// Guards (the bounded walk of face_table.h, and these): tables loaded by this program are validated, but a hand-built
// or damaged record must never make a draw read outside a table. Each guard is one compare on the hot path: groups
// beyond the table, faces beyond a group's table and corners beyond vIdx are not walked; a vertex index outside the
// table draws at the origin; a target outside the table is ignored (own position); a normal or texture index outside
// its table is not sent.
#include <cstdint>
#include <limits>

#include "KGLModel.h"
#include "face_table.h"

namespace kgl::detail {

inline constexpr TVertex kOrigin{};

// Vertex whose position a corner with vertex index v is drawn at: its own position
// when free (-1) or pinned (-2), else exactly one step through its target (the
// reduction resolves the targets of visible corners to the end of their chains).
inline const TVertex& CornerVertex(const TKGLModel& model, int32_t v) {
    const auto n = model.vertices.size();
    if (v < 0 || static_cast<size_t>(v) >= n) return kOrigin;
    const TVertex& own = model.vertices[static_cast<size_t>(v)];
    const int32_t t = own.target;
    if (t >= 0 && static_cast<size_t>(t) < n) return model.vertices[static_cast<size_t>(t)];
    return own;
}

// Whether the corner with vertex index v is merged (its target is an entry).
inline bool CornerMerged(const TKGLModel& model, int32_t v) {
    if (v < 0 || static_cast<size_t>(v) >= model.vertices.size()) return false;
    const int32_t t = model.vertices[static_cast<size_t>(v)].target;
    return t >= 0 && static_cast<size_t>(t) < model.vertices.size();
}

// CornerVertex and CornerMerged in one lookup, for the textured draw's hot loop.
inline const TVertex& CornerVertex(const TKGLModel& model, int32_t v, bool& merged) {
    merged = false;
    const auto n = model.vertices.size();
    if (v < 0 || static_cast<size_t>(v) >= n) return kOrigin;
    const TVertex& own = model.vertices[static_cast<size_t>(v)];
    const int32_t t = own.target;
    if (t >= 0 && static_cast<size_t>(t) < n) {
        merged = true;
        return model.vertices[static_cast<size_t>(t)];
    }
    return own;
}

// Texture coordinate a corner sends, or nullptr when ti addresses no entry. A merged
// corner follows its texture coordinate's target one step when that is an entry; an
// unmerged corner always uses its own.
inline const TTexCoord* CornerTexCoord(const TKGLModel& model, int32_t ti, bool merged) {
    const auto n = model.texCoords.size();
    if (ti < 0 || static_cast<size_t>(ti) >= n) return nullptr;
    const TTexCoord& own = model.texCoords[static_cast<size_t>(ti)];
    if (merged && own.target >= 0 && static_cast<size_t>(own.target) < n)
        return &model.texCoords[static_cast<size_t>(own.target)];
    return &own;
}

// Normal a corner sends, or nullptr when ni addresses no entry. Normals have no
// collapse targets, so a merged corner keeps the normal its face gave it (lighting
// is never enabled, the choice is invisible).
inline const TVec3* CornerNormal(const TKGLModel& model, int32_t ni) {
    if (ni < 0 || static_cast<size_t>(ni) >= model.normals.size()) return nullptr;
    return &model.normals[static_cast<size_t>(ni)];
}

// The face walk: groups 0 .. gCount ascending, faces 1 .. fCount ascending, visible
// faces only. fn(face, g, n) gets the running face number n, which counts every face
// slot (hidden or not) so that hiding never renumbers.
template <class Fn>
inline void WalkVisibleFaces(const TKGLModel& model, Fn&& fn) {
    const int32_t lastGroup = LastGroup(model);
    int64_t base = 0;
    for (int32_t g = 0; g <= lastGroup; ++g) {
        const TGroup& group = model.groups[static_cast<size_t>(g)];
        const int32_t last = LastFace(group);
        const TFace* faces = group.faces.data();
        for (int32_t j = 1; j <= last; ++j) {
            const TFace& face = faces[j];
            if (!face.visible) continue;
            fn(face, g, base + j);
        }
        if (group.fCount > 0) base += group.fCount;
    }
}

// The texture coordinate DrawModel sends last (and so leaves current), or nullptr when
// it sends none: the last corner with a texture index that addresses an entry, of the
// last visible face that has one. Found from the end, so usually in one step.
inline const TTexCoord* LastSentTexCoord(const TKGLModel& model) {
    if (model.fCount < 1) return nullptr;
    for (int32_t g = LastGroup(model); g >= 0; --g) {
        const TGroup& group = model.groups[static_cast<size_t>(g)];
        for (int32_t j = LastFace(group); j >= 1; --j) {
            const TFace& face = group.faces[static_cast<size_t>(j)];
            if (!face.visible) continue;
            const uint32_t corners = ReadableCorners(face);
            const uint32_t texs = face.tIdx.size();
            for (uint32_t k = corners < texs ? corners : texs; k-- > 0;)
                if (const TTexCoord* t = CornerTexCoord(model, face.tIdx[k], CornerMerged(model, face.vIdx[k])))
                    return t;
        }
    }
    return nullptr;
}

// Where an edge end point with vertex index v is drawn: its own position when free,
// else the end of its target chain (a pinned vertex resolves to itself). v outside
// the table draws at the origin.
inline const TVertex& EdgeEndVertex(const TKGLModel& model, int32_t v) {
    const auto n = model.vertices.size();
    if (v < 0 || static_cast<size_t>(v) >= n) return kOrigin;
    const TVertex& own = model.vertices[static_cast<size_t>(v)];
    if (own.target == kTargetFree) return own;
    const int32_t r = ResolveVertex(model, v);
    if (r < 0 || static_cast<size_t>(r) >= n) return own;
    return model.vertices[static_cast<size_t>(r)];
}

}  // namespace kgl::detail
