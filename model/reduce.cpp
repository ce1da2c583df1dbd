// Level-of-detail reduction.
//
// Order: the edge table exactly as stored (weight ascending, ties in the order the
// edges were produced); every call starts again from the full model, so the result
// depends only on the fraction and the table.
//
// The collapse loop walks up to the whole edge table, and the faces an entry names lie
// all over the face tables: looking them up was most of a call. So the reduction keeps
// its own compact tables (TReductionCache::TTables): per entry the end points and texture pair taken
// from the first face once, vertex targets in a dense array while the call runs, and
// one byte per face for the faces the loop hid. Phases:
//  1. reset: dense targets from the vertices (pinned stay), texture targets;
//  2. collapse loop over the entries, lightest first, on the compact tables; the
//     entries' `active` reset is folded into it (each examined entry is set before it is
//     judged, the rest after);
//  3. one pass over the faces: visible from the loop's marks, corners of the visible
//     faces resolved, degenerate faces hidden;
//  4. the dense targets back into the vertices, with merges.
// Doing resolve and degenerate test face by face gives the same result as two full
// passes as long as every chain resolves within the step limit (a resolved corner then
// never changes again); when a chain is cut by the limit, a second degenerate pass
// re-tests the faces that could have changed (see kHiddenLate).
// merges: a vertex is retired at most once per call (it is never free again), and only
// a collapse gives a target of 0 or more after the reset, so merges is 1 exactly for
// the vertices whose target ends 0 or more.
#include <cmath>
#include <cstring>

#include "KGLModel.h"
#include "face_table.h"
#include "parallel.h"
#include "reduction_tables.h"

namespace kgl {

// What the collapse loop reads of one edge entry, taken from its first face once: the
// end points a and b (0 when the edge has no face among its group's faces 1 .. fCount or
// a corner lies past vIdx), the texture pair, texFrom = tIdx[corner1] and texTo =
// tIdx[corner0] (both -1 when tIdx lacks either entry), and whether its face2 is its
// second face: a face of its group with a side from a to b. An entry between two groups
// names its second face by its number in the other group; that number names some other
// face of its own group, far from the edge, which a collapse must not hide.
struct TEdgeEnds {
    int32_t a = 0, b = 0;
    int32_t texFrom = -1, texTo = -1;
    TBool secondOnEdge = 0;
};

struct TReductionCache::TTables {
    TLargeTable<TEdgeEnds> ends;   // one per edge entry 0 .. eCount
    TLargeTable<int32_t> targets;  // vertex targets while a call runs, slots 0 .. vCount
    TLargeTable<TBool> hidden;     // faces hidden by the collapse loop, all groups in a row
    std::vector<int64_t> first;    // where group g's face 0 sits in hidden; gCount + 2 entries
};

TReductionCache::TReductionCache() noexcept = default;
TReductionCache::~TReductionCache() = default;
TReductionCache::TReductionCache(const TReductionCache&) noexcept {}  // derived: a copy builds its own
TReductionCache& TReductionCache::operator=(const TReductionCache& other) noexcept {
    if (this != &other) {
        tables_.reset();
        builds_ = 0;
    }
    return *this;
}
TReductionCache::TReductionCache(TReductionCache&&) noexcept = default;
TReductionCache& TReductionCache::operator=(TReductionCache&&) noexcept = default;

struct TReductionAccess {
    static TReductionCache::TTables* Tables(TKGLModel& m) { return m.reduction.tables_.get(); }
    static TReductionCache::TTables& Build(TKGLModel& m) {
        if (!m.reduction.tables_) m.reduction.tables_ = std::make_unique<TReductionCache::TTables>();
        ++m.reduction.builds_;
        return *m.reduction.tables_;
    }
    static void Drop(TKGLModel& m) { m.reduction.tables_.reset(); }
};

void DropReductionTables(TKGLModel& model) { TReductionAccess::Drop(model); }

namespace {

using TTables = TReductionCache::TTables;

constexpr int kResolveSteps = 100;  // a chain is followed for at most 101 steps
constexpr TBool kHiddenLate = 3;    // degenerate after a chain was cut by the limit (phase 3 only)

// Place of a face in the tables' hidden, or -1 when the edge's group has no such face.
inline int64_t HiddenSlot(const int64_t* first, int32_t lastGroup, int32_t group, int32_t face) {
    if (group < 0 || group > lastGroup || face < 1) return -1;
    const int64_t at = first[group] + face;
    return at < first[group + 1] ? at : -1;
}

// End of the target chain from key over target(0 .. last); a target outside the table
// ends the chain where it stands. cut is set when the step limit stopped the walk.
template <class TargetOf>
inline int32_t ResolveIn(TargetOf target, int32_t last, int32_t key, bool& cut) {
    if (key < 0 || key > last) return key;
    int32_t cur = key;
    for (int steps = 0;;) {
        int32_t next = target(cur);
        if (next < 0 || next == cur || next > last) return cur;
        cur = next;
        if (cur == key) return cur;  // back at the start
        if (++steps > kResolveSteps) {
            cut = true;
            return cur;
        }
    }
}

// Two consecutive corners (or the first and the last) on the same vertex, as mapped(v)
// draws each.
template <class Mapped>
inline bool DegenerateAs(const TFace& f, Mapped mapped) {
    uint32_t n = ReadableCorners(f);
    if (n == 0) return false;
    int32_t first = mapped(f.vIdx[0]);
    int32_t prev = first;
    for (uint32_t j = 1; j < n; ++j) {
        int32_t cur = mapped(f.vIdx[j]);
        if (cur == prev) return true;
        prev = cur;
    }
    return first == prev;  // a one-corner face meets itself
}

// Degenerate as drawn: each corner on its vertex's collapse target.
inline bool Degenerate(const TFace& f, const int32_t* targets, int32_t lastV) {
    return DegenerateAs(f, [&](int32_t v) {
        if (v < 0 || v > lastV) return v;
        int32_t t = targets[v];
        return t >= 0 ? t : v;
    });
}

// Degenerate on its own vertices (nothing collapsed).
inline bool DegenerateAsRead(const TFace& f) {
    return DegenerateAs(f, [](int32_t v) { return v; });
}

struct TLimits {
    int32_t lastV, lastT, lastG, lastE;
    explicit TLimits(const TKGLModel& m)
        : lastV(LastSlot(m.vertices, m.vCount)),
          lastT(LastSlot(m.texCoords, m.tCount)),
          lastG(LastGroup(m)),
          lastE(LastSlot(m.edges, m.eCount)) {}
};

// Whether the tables exist and have the model's shape (the operations that replace
// what they derive from drop them).
bool Fits(const TKGLModel& m, const TTables* r, const TLimits& l) {
    if (!r || r->ends.size() != static_cast<size_t>(l.lastE + 1) ||
        r->targets.size() != static_cast<size_t>(l.lastV + 1) || r->first.size() != static_cast<size_t>(l.lastG + 2))
        return false;
    for (int32_t g = 0; g <= l.lastG; ++g)
        if (r->first[g + 1] - r->first[g] != static_cast<int64_t>(LastFace(m.groups[static_cast<size_t>(g)])) + 1)
            return false;
    return r->hidden.size() == static_cast<size_t>(r->first[l.lastG + 1]);
}

// Builds the tables (in the storage they have when that suffices) and takes every
// entry's ends from its first face, fetching faces ahead: they lie all over. Returns
// the first entry with a face of 1 or more that names no face of its group, or a
// corner past that face's vIdx; -1 when there is none.
int32_t Prepare(TKGLModel& m, const TLimits& l) {
    TTables& r = TReductionAccess::Build(m);
    r.first.resize(static_cast<size_t>(l.lastG) + 2);
    int64_t faces = 0;
    for (int32_t g = 0; g <= l.lastG; ++g) {
        r.first[g] = faces;
        faces += static_cast<int64_t>(LastFace(m.groups[static_cast<size_t>(g)])) + 1;
    }
    r.first[l.lastG + 1] = faces;
    r.hidden.resize(static_cast<size_t>(faces));
    r.targets.resize(static_cast<size_t>(l.lastV) + 1);
    r.ends.resize(static_cast<size_t>(l.lastE) + 1);

    constexpr int32_t kAhead = 24;
    const TEdge* edges = m.edges.data();
    const int32_t count = l.lastE + 1;
    const size_t threads = WorkThreads(static_cast<uint64_t>(count), kItemsPerThread);
    std::vector<int32_t> bads(threads, -1);
    ParallelRanges(threads, static_cast<uint64_t>(count), [&](size_t t, uint64_t from, uint64_t to) {
        int32_t bad = -1;
        const auto last = static_cast<int32_t>(to);
        for (auto i = static_cast<int32_t>(from); i < last; ++i) {
            if (i + kAhead < last) {
                const TEdge& p = edges[i + kAhead];
                if (const TFace* pf = FaceAt(m, p.group, p.face)) {
                    __builtin_prefetch(pf);  // vIdx and tIdx: the first 48 bytes
                    __builtin_prefetch(reinterpret_cast<const char*>(pf) + 2 * sizeof(TIndexList) - 1);
                }
            }
            const TEdge& e = edges[i];
            const TFace* f = FaceAt(m, e.group, e.face);
            TEdgeEnds& out = r.ends[static_cast<size_t>(i)];
            out = TEdgeEnds{CornerIndex(f, e.corner0), CornerIndex(f, e.corner1), -1, -1, 0};
            const TFace* f2 = e.face2 == kNoFace ? nullptr : FaceAt(m, e.group, e.face2);
            out.secondOnEdge = f2 && HasSide(*f2, out.a, out.b);
            const uint32_t c0 = static_cast<uint32_t>(e.corner0), c1 = static_cast<uint32_t>(e.corner1);
            if (e.face >= 1 && (!f || c0 >= f->vIdx.size() || c1 >= f->vIdx.size()) && bad < 0) bad = i;
            if (!f) continue;
            if (c0 < f->tIdx.size() && c1 < f->tIdx.size()) {  // only the first face's texture coordinates take part
                out.texFrom = f->tIdx[c1];
                out.texTo = f->tIdx[c0];
            }
        }
        bads[t] = bad;
    });
    for (int32_t bad : bads)  // the ranges in order: the first bad entry of the first range that has one
        if (bad >= 0) return bad;
    return -1;
}

}  // namespace

int32_t ResolveVertex(const TKGLModel& model, int32_t index) {
    bool cut = false;
    const TVertex* v = model.vertices.data();
    return ResolveIn([v](int32_t i) { return v[i].target; }, LastSlot(model.vertices, model.vCount), index, cut);
}

int32_t ResolveTexCoord(const TKGLModel& model, int32_t index) {
    bool cut = false;
    const TTexCoord* t = model.texCoords.data();
    return ResolveIn([t](int32_t i) { return t[i].target; }, LastSlot(model.texCoords, model.tCount), index, cut);
}

namespace {

// Every face shown unless it is degenerate on its own vertices: the faces when nothing
// is collapsed, cut in one range a thread.
void ShowFacesAsRead(TKGLModel& model) {
    const TFaceRows rows(model, 1);
    ParallelRanges(WorkThreads(rows.Count(), kItemsPerThread), rows.Count(), [&](size_t, uint64_t b, uint64_t e) {
        rows.ForEach(model, b, e, [&](TGroup&, int32_t, TFace& f, int32_t) { f.visible = !DegenerateAsRead(f); });
    });
}

// Reduce with a goal of no face: nothing can collapse, so the reset and the degenerate
// test of every face on its own vertices are the whole result, and no table is needed
// (a load ends here, so a loaded model holds no reduction table until the first real
// reduction). Each loop is cut in one range a thread.
void ResetToFullDetail(TKGLModel& model, const TLimits& l) {
    TVertex* verts = model.vertices.data();
    TTexCoord* tex = model.texCoords.data();
    TEdge* edges = model.edges.data();
    const uint64_t vertices = static_cast<uint64_t>(l.lastV) + 1, coords = static_cast<uint64_t>(l.lastT) + 1,
                   entries = static_cast<uint64_t>(l.lastE) + 1;
    ParallelRanges(WorkThreads(vertices, kItemsPerThread * 4), vertices, [&](size_t, uint64_t b, uint64_t e) {
        for (uint64_t v = b; v < e; ++v) {
            if (verts[v].target != kTargetPinned) verts[v].target = kTargetFree;
            verts[v].merges = 0;
        }
    });
    ParallelRanges(WorkThreads(coords, kItemsPerThread * 4), coords, [&](size_t, uint64_t b, uint64_t e) {
        for (uint64_t t = b; t < e; ++t)
            if (tex[t].target != kTargetPinned) tex[t].target = kTargetFree;
    });
    ParallelRanges(WorkThreads(entries, kItemsPerThread * 4), entries, [&](size_t, uint64_t b, uint64_t e) {
        for (uint64_t i = b; i < e; ++i) edges[i].active = 1;
    });
    ShowFacesAsRead(model);
}

}  // namespace

void Reduce(TKGLModel& model, double fraction) {
    if (model.vCount < 1 || model.fCount < 1) return;
    const TLimits l(model);
    const double goal = std::nearbyint(static_cast<double>(model.fCount) * fraction);  // halves to even
    if (!(goal > 0)) {
        ResetToFullDetail(model, l);
        return;
    }
    if (!Fits(model, TReductionAccess::Tables(model), l)) Prepare(model, l);
    const int32_t lastV = l.lastV, lastT = l.lastT, lastG = l.lastG, lastE = l.lastE;
    TVertex* verts = model.vertices.data();
    TTexCoord* tex = model.texCoords.data();
    TEdge* edges = model.edges.data();
    TTables& r = *TReductionAccess::Tables(model);
    int32_t* targets = r.targets.data();
    TBool* hidden = r.hidden.data();
    const int64_t* first = r.first.data();
    const TEdgeEnds* ends = r.ends.data();

    // 1. reset (pinned targets stay)
    for (int32_t v = 0; v <= lastV; ++v) targets[v] = verts[v].target == kTargetPinned ? kTargetPinned : kTargetFree;
    for (int32_t t = 0; t <= lastT; ++t)
        if (tex[t].target != kTargetPinned) tex[t].target = kTargetFree;
    if (!r.hidden.empty()) std::memset(hidden, 0, r.hidden.size());

    // 2. collapse loop. A collapsed entry is examined once more by the plain loop and
    // always skipped then (its second end is no longer free), so advancing at once is
    // the same.
    int64_t removed = 0;
    const int32_t loopEnd = model.eCount < lastE + 1 ? model.eCount : lastE + 1;
    bool collapsed = false;
    constexpr int32_t kAhead = 16;  // the targets and texture coordinates an entry names lie all over
    int32_t i = 0;
    for (; i < loopEnd && static_cast<double>(removed) < goal; ++i) {
        if (i + kAhead < loopEnd) {
            const TEdgeEnds& p = ends[i + kAhead];
            if (p.a >= 0 && p.a <= lastV) __builtin_prefetch(&targets[p.a]);
            if (p.b >= 0 && p.b <= lastV) __builtin_prefetch(&targets[p.b]);
            if (p.texFrom >= 0 && p.texFrom <= lastT) __builtin_prefetch(&tex[p.texFrom]);
        }
        TEdge& e = edges[i];
        e.active = 1;
        const TEdgeEnds& end = ends[i];
        const int32_t a = end.a, b = end.b;
        if (a < 0 || a > lastV || b < 0 || b > lastV) continue;  // an end outside the table is never moved
        if (targets[a] != kTargetFree || targets[b] != kTargetFree) continue;
        targets[b] = a;
        collapsed = true;
        const int32_t from = end.texFrom, to = end.texTo;
        if (from >= 0 && from <= lastT && to >= 0 && to <= lastT && tex[from].target == kTargetFree)
            tex[from].target = to;
        // a face2 that is not the edge's second face (beyond the group's faces, off the
        // edge, or any other index but kNoFace) is neither counted nor hidden
        const int64_t h1 = HiddenSlot(first, lastG, e.group, e.face);
        const int64_t h2 = end.secondOnEdge ? HiddenSlot(first, lastG, e.group, e.face2) : -1;
        // both are counted before either is hidden: an entry whose second face is its
        // first (a two-corner face) counts that face twice, as the rules have it
        if (h1 >= 0 && !hidden[h1]) ++removed;
        if (h2 >= 0 && !hidden[h2]) ++removed;
        if (h1 >= 0) hidden[h1] = 1;
        if (h2 >= 0) hidden[h2] = 1;
        e.active = 0;
    }
    for (; i <= lastE; ++i) edges[i].active = 1;

    // 3. marks to flags, resolve, degenerate test. When nothing was collapsed no face
    // is hidden and no target is to be resolved: each face is judged on its own.
    bool cut = false;
    if (!collapsed) ShowFacesAsRead(model);
    auto targetOf = [targets](int32_t v) { return targets[v]; };
    auto texTargetOf = [tex](int32_t t) { return tex[t].target; };
    if (collapsed) {
        ForEachFace(model, 1, [&](TGroup&, int32_t g, TFace& f, int32_t fi) {
            if (hidden[first[g] + fi]) {
                f.visible = 0;
                return;
            }
            const uint32_t n = ReadableCorners(f);
            const int32_t* vi = f.vIdx.data();
            for (uint32_t j = 0; j < n; ++j) {
                const int32_t v = vi[j];
                if (v >= 0 && v <= lastV && targets[v] >= 0) targets[v] = ResolveIn(targetOf, lastV, v, cut);
            }
            for (int32_t t : f.tIdx)
                if (t >= 0 && t <= lastT && tex[t].target >= 0) tex[t].target = ResolveIn(texTargetOf, lastT, t, cut);
            f.visible = Degenerate(f, targets, lastV) ? (cut ? kHiddenLate : 0) : 1;
        });
    }
    if (cut) {
        // A chain cut by the limit is walked further each time a later face resolves
        // it, so faces judged after the first cut are judged again on the final
        // targets. Faces judged before it only have corners at true chain ends, which
        // never move.
        ForEachFace(model, 1, [&](TGroup&, int32_t, TFace& f, int32_t) {
            if (f.visible == 1 || f.visible == kHiddenLate) f.visible = Degenerate(f, targets, lastV) ? 0 : 1;
        });
    }

    // 4. targets back into the vertices
    for (int32_t v = 0; v <= lastV; ++v) {
        verts[v].target = targets[v];
        verts[v].merges = targets[v] >= 0 ? 1 : 0;
    }
}

}  // namespace kgl
