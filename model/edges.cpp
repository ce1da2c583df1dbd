// The edge table.
//
// Matching, equal to the literal linear search: every face side is a candidate, taken
// in the order groups 0 .. gCount, faces 1 .. fCount, sides (0,1) .. (n-2,n-1), then
// the closing side (0,n-1). A candidate joins the one entry with the same unordered
// pair of end vertices that has no second face yet, else it starts a new entry. So
// among the candidates of one vertex pair, in order, the 1st, 3rd, 5th ... start
// entries and each following one is their second face. We find those runs by
// bucketing candidates on the smaller end vertex (counting sort, keeps candidate
// order) and sorting each bucket by (larger end, candidate): linear for real meshes,
// n log n for a vertex shared by a huge fan, never quadratic.
//
// Order, equal to the literal selection sort over entries 0 .. eCount (the eCount
// edges in creation order, then the all-zero entry): weight ascending, ties by
// position, i.e. a stable sort by weight. Weights are never not-a-number after a
// load; should one be, it sorts last so the order stays a strict weak one.
#include <algorithm>
#include <limits>
#include <numeric>
#include <vector>

#include "KGLModel.h"
#include "errors.h"

namespace kgl {

namespace {

int32_t CornerIndex(const TKGLModel& model, int32_t group, int32_t face, int32_t corner) {
    if (face < 1 || group < 0 || static_cast<size_t>(group) >= model.groups.size()) return 0;
    const TGroup& g = model.groups[static_cast<size_t>(group)];
    if (static_cast<size_t>(face) >= g.faces.size()) return 0;
    const TFace& f = g.faces[static_cast<size_t>(face)];
    if (corner < 0 || static_cast<uint32_t>(corner) >= f.vIdx.size()) return 0;
    return f.vIdx[static_cast<uint32_t>(corner)];
}

// Calls fn(candidate, group, face, corner0, corner1) for every side in matching order.
template <class F>
void ForEachSide(const TKGLModel& model, F&& fn) {
    uint32_t c = 0;
    for (int32_t g = 0; g <= model.gCount && g < static_cast<int32_t>(model.groups.size()); ++g) {
        const TGroup& group = model.groups[g];
        for (int32_t f = 1; f <= group.fCount && f < static_cast<int32_t>(group.faces.size()); ++f) {
            const int32_t n = group.faces[f].count;
            if (n < 1) continue;  // a face without corners has no sides
            for (int32_t i = 0; i + 1 < n; ++i) fn(c++, g, f, i, i + 1);
            fn(c++, g, f, 0, n - 1);
        }
    }
}

bool WeightBefore(double a, double b) {
    if (a != a) return false;  // not-a-number: after everything
    if (b != b) return true;
    return a < b;
}

}  // namespace

int32_t EdgeVertexA(const TKGLModel& model, const TEdge& edge) {
    return CornerIndex(model, edge.group, edge.face, edge.corner0);
}

int32_t EdgeVertexB(const TKGLModel& model, const TEdge& edge) {
    return CornerIndex(model, edge.group, edge.face, edge.corner1);
}

void BuildEdges(TKGLModel& model) {
    // Phase 1: count the sides and bucket them by their smaller end vertex. Ends
    // outside the vertex table (only a hand-built model has them) share one last bucket.
    uint64_t sides = 0;
    for (int32_t g = 0; g <= model.gCount && g < static_cast<int32_t>(model.groups.size()); ++g) {
        const TGroup& group = model.groups[g];
        for (int32_t f = 1; f <= group.fCount && f < static_cast<int32_t>(group.faces.size()); ++f)
            if (group.faces[f].count > 0) sides += static_cast<uint64_t>(group.faces[f].count);
    }
    if (sides > static_cast<uint64_t>(std::numeric_limits<int32_t>::max() - 3))
        throw ERangeError("The model has too many edges");
    const uint32_t nSides = static_cast<uint32_t>(sides);
    const size_t nVerts = model.vertices.size();
    const size_t outside = nVerts;  // the bucket for out-of-table ends

    struct TEnds {
        int32_t lo, hi;
    };
    auto ends = [&](int32_t g, int32_t f, int32_t c0, int32_t c1) {
        int32_t a = CornerIndex(model, g, f, c0), b = CornerIndex(model, g, f, c1);
        return a < b ? TEnds{a, b} : TEnds{b, a};
    };
    auto bucketOf = [&](int32_t lo, int32_t hi) {
        return (lo >= 0 && static_cast<size_t>(hi) < nVerts) ? static_cast<size_t>(lo) : outside;
    };

    std::vector<uint32_t> start(nVerts + 2, 0);
    ForEachSide(model, [&](uint32_t, int32_t g, int32_t f, int32_t c0, int32_t c1) {
        TEnds e = ends(g, f, c0, c1);
        ++start[bucketOf(e.lo, e.hi) + 1];
    });
    for (size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];

    // (larger end, candidate) per bucket, in candidate order; the outside bucket keeps
    // its smaller end as well.
    std::vector<uint64_t> slots(nSides);
    std::vector<uint32_t> fill(start.begin(), start.end() - 1);
    std::vector<std::pair<int64_t, uint32_t>> strays;  // ((lo, hi), candidate) of the outside bucket
    ForEachSide(model, [&](uint32_t c, int32_t g, int32_t f, int32_t c0, int32_t c1) {
        TEnds e = ends(g, f, c0, c1);
        size_t b = bucketOf(e.lo, e.hi);
        slots[fill[b]++] = (static_cast<uint64_t>(static_cast<uint32_t>(e.hi)) << 32) | c;
        if (b == outside)
            strays.push_back({(static_cast<int64_t>(e.lo) << 32) | static_cast<uint32_t>(e.hi), c});
    });
    std::vector<uint32_t>().swap(fill);

    // Phase 2: pair consecutive candidates of each vertex pair. link[c] is -1 for a
    // candidate that starts an entry, -(starter + 2) for one that is a second face.
    std::vector<int32_t> link(nSides, -1);
    int32_t eCount = 0;
    auto pairRuns = [&](auto first, auto last, auto keyOf, auto candOf) {
        for (auto it = first; it != last;) {
            auto runEnd = it + 1;
            while (runEnd != last && keyOf(*runEnd) == keyOf(*it)) ++runEnd;
            for (auto p = it; p != runEnd; p += 2) {
                ++eCount;
                if (p + 1 != runEnd) link[candOf(*(p + 1))] = -static_cast<int32_t>(candOf(*p)) - 2;
                else break;
            }
            it = runEnd;
        }
    };
    for (size_t b = 0; b < outside; ++b) {
        uint64_t* first = slots.data() + start[b];
        uint64_t* last = slots.data() + start[b + 1];
        if (last - first > 1) std::sort(first, last);
        pairRuns(first, last, [](uint64_t s) { return s >> 32; }, [](uint64_t s) { return static_cast<uint32_t>(s); });
    }
    std::sort(strays.begin(), strays.end());
    pairRuns(strays.begin(), strays.end(), [](const auto& s) { return s.first; },
             [](const auto& s) { return s.second; });
    std::vector<uint64_t>().swap(slots);
    std::vector<uint32_t>().swap(start);
    decltype(strays)().swap(strays);

    // Phase 3: the entries in creation order, then the all-zero entry and the spare.
    std::vector<TEdge> buffer(static_cast<size_t>(eCount) + 2);
    int32_t next = 0;
    ForEachSide(model, [&](uint32_t c, int32_t g, int32_t f, int32_t c0, int32_t c1) {
        const double area = model.groups[g].faces[f].area;
        if (link[c] == -1) {
            buffer[next] = TEdge{c0, c1, f, kNoFace, g, 0, area};
            link[c] = next++;
        } else {
            TEdge& e = buffer[link[static_cast<uint32_t>(-link[c] - 2)]];
            e.active = 1;
            e.weight = (e.weight + area) / 2;
            e.face2 = f;
        }
    });
    std::vector<int32_t>().swap(link);

    // Phase 4: stable order by weight over entries 0 .. eCount, applied in place.
    struct TKey {
        double weight;
        uint32_t index;
    };
    std::vector<TKey> keys(static_cast<size_t>(eCount) + 1);
    for (uint32_t i = 0; i < keys.size(); ++i) keys[i] = {buffer[i].weight, i};
    std::sort(keys.begin(), keys.end(), [](const TKey& a, const TKey& b) {
        if (WeightBefore(a.weight, b.weight)) return true;
        if (WeightBefore(b.weight, a.weight)) return false;
        return a.index < b.index;
    });
    // keys[out].index is the entry that goes to out; follow each cycle once
    for (uint32_t i = 0; i < keys.size(); ++i) {
        if (keys[i].index == i || keys[i].index == UINT32_MAX) continue;
        TEdge held = buffer[i];
        uint32_t j = i;
        for (;;) {
            uint32_t src = keys[j].index;
            keys[j].index = UINT32_MAX;
            if (src == i) {
                buffer[j] = held;
                break;
            }
            buffer[j] = buffer[src];
            j = src;
        }
    }

    model.eCount = eCount;
    model.edges = std::move(buffer);
}

}  // namespace kgl
