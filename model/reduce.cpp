// Level-of-detail reduction.
//
// Order: the edge table exactly as stored (weight ascending, ties in the order the
// edges were produced); every call starts again from the full model, so the result
// depends only on the fraction and the table.
//
// Phases, all over the stored tables (nothing is allocated):
//  1. reset the vertex and texture-coordinate targets;
//  2. collapse loop over the edge table, lightest first; the edges' `active` reset is
//     folded into it (each examined entry is set before it is judged, the rest after);
//     faces hidden here are marked kHiddenNow instead of paying a separate reset pass
//     over every face first;
//  3. one pass over the faces: turns the marks into 0/1, resolves the corners of the
//     visible faces and hides the degenerate ones.
// Doing resolve and degenerate test face by face gives the same result as two full
// passes as long as every chain resolves within the step limit (a resolved corner then
// never changes again); when a chain is cut by the limit, a second degenerate pass
// re-tests the faces that could have changed (see kHiddenLate).
#include <cmath>

#include "KGLModel.h"

namespace kgl {

namespace {

constexpr int kResolveSteps = 100;   // a chain is followed for at most 101 steps
constexpr TBool kHiddenNow = 2;      // hidden by this call's collapse loop (phase 2 only)
constexpr TBool kHiddenLate = 3;     // degenerate after a chain was cut by the limit (phase 3 only)

// Last usable slot of a one-based table: its count, but never past the stored entries.
inline int32_t LastSlot(size_t size, int32_t count) {
    int64_t last = static_cast<int64_t>(size) - 1;
    return static_cast<int32_t>(count < last ? count : last);
}

// Face `face` of group `group` when it is one of the group's faces 1 .. fCount, else
// nullptr: no face outside a group's table is ever addressed, and the spare slot 0 is
// not a face.
inline TFace* FaceAt(TKGLModel& m, int32_t lastGroup, int32_t group, int32_t face) {
    if (group < 0 || group > lastGroup || face < 1) return nullptr;
    TGroup& g = m.groups[static_cast<size_t>(group)];
    if (face > LastSlot(g.faces.size(), g.fCount)) return nullptr;
    return &g.faces[static_cast<size_t>(face)];
}

// Vertex of a corner of face f; 0 without a face or past its corners (as EdgeVertexA/B).
inline int32_t CornerVertex(const TFace* f, int32_t corner) {
    if (!f || corner < 0 || static_cast<uint32_t>(corner) >= f->vIdx.size()) return 0;
    return f->vIdx[static_cast<uint32_t>(corner)];
}

// End of the target chain from key over table[0 .. last]; a target outside the table
// ends the chain where it stands. cut is set when the step limit stopped the walk.
template <class TElement>
inline int32_t ResolveIn(const TElement* table, int32_t last, int32_t key, bool& cut) {
    if (key < 0 || key > last) return key;
    int32_t cur = key;
    for (int steps = 0;;) {
        int32_t next = table[cur].target;
        if (next < 0 || next == cur || next > last) return cur;
        cur = next;
        if (cur == key) return cur;  // back at the start
        if (++steps > kResolveSteps) {
            cut = true;
            return cur;
        }
    }
}

// Corner count that can be read: count, but never past vIdx.
inline uint32_t Corners(const TFace& f) {
    if (f.count <= 0) return 0;
    uint32_t n = static_cast<uint32_t>(f.count);
    return n < f.vIdx.size() ? n : f.vIdx.size();
}

// Two consecutive corners (or the first and the last) on the same drawn vertex.
inline bool Degenerate(const TFace& f, const TVertex* verts, int32_t lastV) {
    uint32_t n = Corners(f);
    if (n == 0) return false;
    auto mapped = [&](int32_t v) {
        if (v < 0 || v > lastV) return v;
        int32_t t = verts[v].target;
        return t >= 0 ? t : v;
    };
    int32_t first = mapped(f.vIdx[0]);
    int32_t prev = first;
    for (uint32_t j = 1; j < n; ++j) {
        int32_t cur = mapped(f.vIdx[j]);
        if (cur == prev) return true;
        prev = cur;
    }
    return first == prev;  // a one-corner face meets itself
}

}  // namespace

int32_t ResolveVertex(const TKGLModel& model, int32_t index) {
    bool cut = false;
    return ResolveIn(model.vertices.data(), LastSlot(model.vertices.size(), model.vCount), index, cut);
}

int32_t ResolveTexCoord(const TKGLModel& model, int32_t index) {
    bool cut = false;
    return ResolveIn(model.texCoords.data(), LastSlot(model.texCoords.size(), model.tCount), index, cut);
}

void Reduce(TKGLModel& model, double fraction) {
    if (model.vCount < 1 || model.fCount < 1) return;
    const int32_t lastV = LastSlot(model.vertices.size(), model.vCount);
    const int32_t lastT = LastSlot(model.texCoords.size(), model.tCount);
    const int32_t lastG = LastSlot(model.groups.size(), model.gCount);
    const int32_t lastE = LastSlot(model.edges.size(), model.eCount);
    TVertex* verts = model.vertices.data();
    TTexCoord* tex = model.texCoords.data();
    TEdge* edges = model.edges.data();

    // 1. reset (pinned targets stay)
    for (int32_t v = 0; v <= lastV; ++v) {
        if (verts[v].target != kTargetPinned) verts[v].target = kTargetFree;
        verts[v].merges = 0;
    }
    for (int32_t t = 0; t <= lastT; ++t)
        if (tex[t].target != kTargetPinned) tex[t].target = kTargetFree;

    // 2. collapse loop. A collapsed entry is examined once more by the plain loop and
    // always skipped then (its second end is no longer free), so advancing at once is
    // the same.
    const double goal = std::nearbyint(static_cast<double>(model.fCount) * fraction);  // halves to even
    int64_t removed = 0;
    const int32_t loopEnd = model.eCount < lastE + 1 ? model.eCount : lastE + 1;
    // The entries name faces all over the face tables, so the loop is bound by memory
    // latency. It runs in batches: first the end points of a batch of entries are
    // gathered (independent loads that overlap, with the next batch's faces and these
    // ends fetched ahead), then the entries are judged in order on the live targets,
    // exactly as one at a time.
    constexpr int32_t kBatch = 64;
    TFace* batchFace[kBatch];
    int32_t batchA[kBatch], batchB[kBatch];
    int32_t i = 0;
    bool reached = false;
    while (!reached && i < loopEnd) {
        const int32_t n = loopEnd - i < kBatch ? loopEnd - i : kBatch;
        for (int32_t k = 0; k < n; ++k) {
            const int32_t next = i + n + k;
            if (next < loopEnd) {
                const TEdge& p = edges[next];
                if (p.group >= 0 && p.group <= lastG) {
                    const TGroup& pg = model.groups[static_cast<size_t>(p.group)];
                    if (p.face >= 0 && static_cast<size_t>(p.face) < pg.faces.size()) {
                        // vIdx with its size and inline flag: the first 24 bytes, maybe two lines
                        const char* pf = reinterpret_cast<const char*>(&pg.faces[static_cast<size_t>(p.face)]);
                        __builtin_prefetch(pf);
                        __builtin_prefetch(pf + sizeof(TIndexList) - 1);
                    }
                }
            }
            const TEdge& e = edges[i + k];
            TFace* f = FaceAt(model, lastG, e.group, e.face);
            const int32_t a = CornerVertex(f, e.corner0), b = CornerVertex(f, e.corner1);
            batchFace[k] = f;
            batchA[k] = a;
            batchB[k] = b;
            if (a >= 0 && a <= lastV) __builtin_prefetch(&verts[a].target);
            if (b >= 0 && b <= lastV) __builtin_prefetch(&verts[b].target);
        }
        for (int32_t k = 0; k < n; ++k) {
            if (!(static_cast<double>(removed) < goal)) {
                reached = true;
                break;
            }
            TEdge& e = edges[i++];
            e.active = 1;
            TFace* f = batchFace[k];
            const int32_t a = batchA[k], b = batchB[k];
            if (a < 0 || a > lastV || b < 0 || b > lastV) continue;  // an end outside the table is never moved
            if (verts[a].target != kTargetFree || verts[b].target != kTargetFree) continue;
            verts[b].target = a;
            if (f) {
                // only the first face's texture coordinates take part
                const TIndexList& t = f->tIdx;
                const uint32_t c0 = static_cast<uint32_t>(e.corner0), c1 = static_cast<uint32_t>(e.corner1);
                if (c1 < t.size() && c0 < t.size()) {
                    const int32_t from = t[c1], to = t[c0];
                    if (from >= 0 && from <= lastT && to >= 0 && to <= lastT && tex[from].target == kTargetFree)
                        tex[from].target = to;
                }
            }
            verts[b].merges += 1;
            // a second face beyond the group's faces (or any other index but kNoFace that
            // names no face) is neither counted nor hidden
            TFace* f2 = e.face2 == kNoFace ? nullptr : FaceAt(model, lastG, e.group, e.face2);
            if (f && f->visible != kHiddenNow) ++removed;
            if (f2 && f2->visible != kHiddenNow) ++removed;
            if (f) f->visible = kHiddenNow;
            if (f2) f2->visible = kHiddenNow;
            e.active = 0;
        }
    }
    for (; i <= lastE; ++i) edges[i].active = 1;

    // 3. marks to flags, resolve, degenerate test
    bool cut = false;
    for (int32_t g = 0; g <= lastG; ++g) {
        TGroup& group = model.groups[static_cast<size_t>(g)];
        const int32_t lastF = LastSlot(group.faces.size(), group.fCount);
        TFace* faces = group.faces.data();
        for (int32_t fi = 1; fi <= lastF; ++fi) {
            TFace& f = faces[fi];
            if (f.visible == kHiddenNow) {
                f.visible = 0;
                continue;
            }
            f.visible = 1;
            const uint32_t n = Corners(f);
            for (uint32_t j = 0; j < n; ++j) {
                const int32_t v = f.vIdx[j];
                if (v >= 0 && v <= lastV && verts[v].target >= 0) verts[v].target = ResolveIn(verts, lastV, v, cut);
            }
            for (int32_t t : f.tIdx)
                if (t >= 0 && t <= lastT && tex[t].target >= 0) tex[t].target = ResolveIn(tex, lastT, t, cut);
            if (Degenerate(f, verts, lastV)) f.visible = cut ? kHiddenLate : 0;
        }
    }
    if (!cut) return;
    // A chain cut by the limit is walked further each time a later face resolves it,
    // so faces judged after the first cut are judged again on the final targets.
    // Faces judged before it only have corners at true chain ends, which never move.
    for (int32_t g = 0; g <= lastG; ++g) {
        TGroup& group = model.groups[static_cast<size_t>(g)];
        const int32_t lastF = LastSlot(group.faces.size(), group.fCount);
        for (int32_t fi = 1; fi <= lastF; ++fi) {
            TFace& f = group.faces[static_cast<size_t>(fi)];
            if (f.visible == 1 || f.visible == kHiddenLate) f.visible = Degenerate(f, verts, lastV) ? 0 : 1;
        }
    }
}

}  // namespace kgl
