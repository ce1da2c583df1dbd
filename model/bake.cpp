// The model as shown: a plain model of what the reduction leaves visible.
//
// Two passes over the faces: the first resolves every visible face's corners and
// decides which faces stay (so each group's table is sized once), the second builds
// the kept faces and numbers vertices, normals and texture coordinates in the order
// they are first used. Each table has its own map from the old index to the new one,
// with one extra key for an index that names no entry (read as an all-zero entry, as
// the drawing places such a corner at the origin). The measures and the edge table
// then come from the same finishing steps as an OBJ load.
#include <new>
#include <vector>

#include "KGLModel.h"
#include "box.h"
#include "face_table.h"
#include "progress.h"
#include "reporting.h"

namespace kgl {

namespace {

// First-use numbering of one table: key k in 0 .. slots (slots: an index that names no
// entry) gets 1, 2, ... in the order Use sees it; order[n] is the key numbered n.
class TRenumber {
public:
    explicit TRenumber(int64_t slots) : slots_(slots), newIndex_(static_cast<size_t>(slots) + 1, 0), order_(1, 0) {}
    int32_t Use(int32_t index) {
        const int64_t key = index >= 0 && index < slots_ ? index : slots_;
        int32_t& n = newIndex_[static_cast<size_t>(key)];
        if (n == 0) {
            order_.push_back(key);
            n = static_cast<int32_t>(order_.size() - 1);
        }
        return n;
    }
    int32_t Count() const { return static_cast<int32_t>(order_.size() - 1); }
    // The entry numbered n of table (an all-zero one for the key of no entry).
    template <class Table>
    typename Table::value_type Entry(const Table& table, int32_t n) const {
        const int64_t key = order_[static_cast<size_t>(n)];
        return SlotOrZero(table, key < slots_ ? key : -1);
    }

private:
    int64_t slots_;
    std::vector<int32_t> newIndex_;
    std::vector<int64_t> order_;  // order_[0] unused
};

// Whether the face, corners resolved, still shows: it has corners and no two
// consecutive ones (nor the first and the last) land on the same vertex.
bool Shows(const TKGLModel& m, const TFace& f) {
    const uint32_t n = ReadableCorners(f);
    if (n == 0) return false;
    const int32_t first = ResolveVertex(m, f.vIdx[0]);
    int32_t prev = first;
    for (uint32_t j = 1; j < n; ++j) {
        const int32_t cur = ResolveVertex(m, f.vIdx[j]);
        if (cur == prev) return false;
        prev = cur;
    }
    return first != prev;  // a one-corner face meets itself
}

void Bake(const TKGLModel& m, TKGLModel& out) {
    const int32_t lastG = LastGroup(m);
    int64_t faceSlots = 0;
    for (int32_t g = 0; g <= lastG; ++g) faceSlots += LastFace(m.groups[static_cast<size_t>(g)]) + 1;
    TProgressMeter meter(2 * static_cast<uint64_t>(faceSlots), 1 << 16);
    uint64_t done = 0;

    // 1. which faces stay, per group
    TLargeTable<TBool> keep(static_cast<size_t>(faceSlots));
    InitModel(out);
    out.name = m.name;
    out.gCount = lastG;
    out.groups.resize(static_cast<size_t>(lastG + 1));
    int64_t at = 0, kept = 0;
    for (int32_t g = 0; g <= lastG; ++g) {
        const TGroup& group = m.groups[static_cast<size_t>(g)];
        const int32_t lastF = LastFace(group);
        int32_t count = 0;
        for (int32_t f = 0; f <= lastF; ++f, ++at) {
            meter.At(++done);
            const TFace& face = group.faces[static_cast<size_t>(f)];
            keep[static_cast<size_t>(at)] = f >= 1 && face.visible && Shows(m, face);
            count += keep[static_cast<size_t>(at)];
        }
        out.groups[static_cast<size_t>(g)].fCount = count;
        kept += count;
    }
    if (kept > INT32_MAX - 2) throw ERangeError("The model as shown has too many faces");
    out.fCount = static_cast<int32_t>(kept);

    // 2. the kept faces, indices renumbered in first use
    // entries 0 .. count of each table, never past what it stores
    TRenumber vertices(LastSlot(m.vertices, m.vCount) + 1), normals(LastSlot(m.normals, m.nCount) + 1),
        texCoords(LastSlot(m.texCoords, m.tCount) + 1);
    out.vCount = out.nCount = out.tCount = 0;
    AllocateModel(out);  // the groups' face tables; the others are sized below
    at = 0;
    for (int32_t g = 0; g <= lastG; ++g) {
        const TGroup& group = m.groups[static_cast<size_t>(g)];
        TGroup& to = out.groups[static_cast<size_t>(g)];
        to.name = group.name;
        const int32_t lastF = LastFace(group);
        int32_t slot = 0;
        for (int32_t f = 0; f <= lastF; ++f, ++at) {
            meter.At(++done);
            if (!keep[static_cast<size_t>(at)]) continue;
            const TFace& face = group.faces[static_cast<size_t>(f)];
            TFace& baked = to.faces[static_cast<size_t>(++slot)];
            const uint32_t n = ReadableCorners(face);
            baked.vIdx.reserve(n);
            for (uint32_t j = 0; j < n; ++j) baked.vIdx.push_back(vertices.Use(ResolveVertex(m, face.vIdx[j])));
            baked.tIdx.reserve(face.tIdx.size());
            for (int32_t t : face.tIdx) baked.tIdx.push_back(texCoords.Use(ResolveTexCoord(m, t)));
            baked.nIdx.reserve(face.nIdx.size());
            for (int32_t v : face.nIdx) baked.nIdx.push_back(normals.Use(v));
            baked.count = static_cast<int32_t>(n);
            baked.visible = 1;
        }
    }

    // 3. the tables in their new order; the box and the running sum as a load makes them
    out.vCount = vertices.Count();
    out.nCount = normals.Count();
    out.tCount = texCoords.Count();
    auto sized = [](auto& table, int32_t count) { table.resize(static_cast<size_t>(count) + 2); };
    sized(out.vertices, out.vCount);
    sized(out.normals, out.nCount);
    sized(out.texCoords, out.tCount);
    TVec3 sum{};
    for (int32_t i = 1; i <= out.vCount; ++i) {
        TVertex v = vertices.Entry(m.vertices, i);
        v.target = v.target == kTargetPinned ? kTargetPinned : kTargetFree;
        v.merges = 0;
        out.vertices[static_cast<size_t>(i)] = v;
        sum.x += v.x;
        sum.y += v.y;
        sum.z += v.z;
        WidenBox(out.boxMin, out.boxMax, v);
    }
    for (int32_t i = 1; i <= out.nCount; ++i) out.normals[static_cast<size_t>(i)] = normals.Entry(m.normals, i);
    for (int32_t i = 1; i <= out.tCount; ++i) {
        TTexCoord t = texCoords.Entry(m.texCoords, i);
        t.target = t.target == kTargetPinned ? kTargetPinned : kTargetFree;
        out.texCoords[static_cast<size_t>(i)] = t;
    }
    out.centroid = sum;
    FinishOBJ(out);
    Reduce(out, 0.0);
}

}  // namespace

bool BakeReduction(const TKGLModel& model, TKGLModel& baked) {
    TKGLModel fresh;
    const bool ok = ReportFailure([&] { Bake(model, fresh); }, std::string());  // work in memory
    if (ok) baked = std::move(fresh);
    return ok;
}

}  // namespace kgl
