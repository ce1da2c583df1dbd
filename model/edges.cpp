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
#include <cstring>
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

// An unsigned key whose order is the order of the doubles; -0.0 and +0.0 share one key,
// not-a-number sorts after everything.
uint64_t WeightKey(double w) {
    if (w != w) return UINT64_MAX;
    if (w == 0) w = 0.0;  // -0.0 ties with +0.0
    uint64_t bits;
    std::memcpy(&bits, &w, sizeof bits);
    return (bits >> 63) ? ~bits : bits | (uint64_t(1) << 63);
}

// Positions 0 .. n-1 in stable order of weight: LSD radix sort, 11 bits a pass (the
// counters stay in cache), all histograms from one read, passes skipped where every
// key has the same digit.
std::vector<uint32_t> StableWeightOrder(const std::vector<double>& weights) {
    const uint32_t n = static_cast<uint32_t>(weights.size());
    constexpr int kBits = 11, kPasses = 6;  // 66 bits cover the 64-bit key
    constexpr uint32_t kMask = (1u << kBits) - 1;
    std::vector<uint64_t> keys(n), keys2(n);
    std::vector<uint32_t> order(n), order2(n);
    std::vector<uint32_t> count(static_cast<size_t>(kPasses) << kBits, 0);
    for (uint32_t i = 0; i < n; ++i) {
        const uint64_t k = WeightKey(weights[i]);
        keys[i] = k;
        order[i] = i;
        for (int pass = 0; pass < kPasses; ++pass) ++count[(static_cast<size_t>(pass) << kBits) + ((k >> (pass * kBits)) & kMask)];
    }
    for (int pass = 0; pass < kPasses && n > 0; ++pass) {
        uint32_t* c = count.data() + (static_cast<size_t>(pass) << kBits);
        const int shift = pass * kBits;
        if (c[(keys[0] >> shift) & kMask] == n) continue;
        uint32_t sum = 0;
        for (uint32_t d = 0; d <= kMask; ++d) {
            uint32_t k = c[d];
            c[d] = sum;
            sum += k;
        }
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t d = c[(keys[i] >> shift) & kMask]++;
            keys2[d] = keys[i];
            order2[d] = order[i];
        }
        keys.swap(keys2);
        order.swap(order2);
    }
    return order;
}

}  // namespace

int32_t EdgeVertexA(const TKGLModel& model, const TEdge& edge) {
    return CornerIndex(model, edge.group, edge.face, edge.corner0);
}

int32_t EdgeVertexB(const TKGLModel& model, const TEdge& edge) {
    return CornerIndex(model, edge.group, edge.face, edge.corner1);
}

void BuildEdges(TKGLModel& model) {
    // Phase 1: the unordered end pair of every side, in candidate order.
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
    const size_t outside = nVerts;  // one bucket for ends outside the vertex table (hand-built models only)

    std::vector<uint64_t> pairs(nSides);  // (smaller end << 32) | larger end, as unsigned 32-bit halves
    std::vector<uint32_t> start(nVerts + 2, 0);
    {
        auto pairOf = [&](int32_t a, int32_t b) {
            if (a > b) std::swap(a, b);
            size_t bucket = (a >= 0 && static_cast<size_t>(b) < nVerts) ? static_cast<size_t>(a) : outside;
            ++start[bucket + 1];
            return (static_cast<uint64_t>(static_cast<uint32_t>(a)) << 32) | static_cast<uint32_t>(b);
        };
        uint32_t c = 0;
        for (int32_t g = 0; g <= model.gCount && g < static_cast<int32_t>(model.groups.size()); ++g) {
            const TGroup& group = model.groups[g];
            for (int32_t f = 1; f <= group.fCount && f < static_cast<int32_t>(group.faces.size()); ++f) {
                const TFace& face = group.faces[f];
                const int32_t n = face.count;
                if (n < 1) continue;
                if (static_cast<uint32_t>(n) <= face.vIdx.size()) {
                    const int32_t* v = face.vIdx.data();
                    for (int32_t i = 0; i + 1 < n; ++i) pairs[c++] = pairOf(v[i], v[i + 1]);
                    pairs[c++] = pairOf(v[0], v[n - 1]);
                } else {  // count and vIdx disagree: the guarded lookup
                    for (int32_t i = 0; i + 1 < n; ++i) pairs[c++] = pairOf(CornerIndex(model, g, f, i), CornerIndex(model, g, f, i + 1));
                    pairs[c++] = pairOf(CornerIndex(model, g, f, 0), CornerIndex(model, g, f, n - 1));
                }
            }
        }
    }
    for (size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];

    // Bucket by the smaller end (counting sort keeps candidate order): (larger end << 32
    // | candidate) per bucket; the outside bucket keeps whole pairs beside.
    std::vector<uint64_t> slots(nSides);
    std::vector<std::pair<uint64_t, uint32_t>> strays;
    {
        std::vector<uint32_t> fill(start.begin(), start.end() - 1);
        for (uint32_t c = 0; c < nSides; ++c) {
            const uint64_t p = pairs[c];
            const int32_t lo = static_cast<int32_t>(p >> 32), hi = static_cast<int32_t>(static_cast<uint32_t>(p));
            const size_t b = (lo >= 0 && static_cast<size_t>(hi) < nVerts) ? static_cast<size_t>(lo) : outside;
            slots[fill[b]++] = (static_cast<uint64_t>(static_cast<uint32_t>(hi)) << 32) | c;
            if (b == outside) strays.push_back({p, c});
        }
    }
    std::vector<uint64_t>().swap(pairs);

    // Phase 2: pair consecutive candidates of each vertex pair. link[c] is -1 for a
    // candidate that starts an entry, -(starter + 2) for one that is its second face.
    std::vector<int32_t> link(nSides, -1);
    int32_t eCount = 0;
    auto pairRuns = [&](auto first, auto last, auto keyOf, auto candOf) {
        for (auto it = first; it != last;) {
            auto runEnd = it + 1;
            while (runEnd != last && keyOf(*runEnd) == keyOf(*it)) ++runEnd;
            for (auto p = it; p != runEnd; p += 2) {
                ++eCount;
                if (p + 1 == runEnd) break;
                link[candOf(*(p + 1))] = -static_cast<int32_t>(candOf(*p)) - 2;
            }
            it = runEnd;
        }
    };
    for (size_t b = 0; b < outside; ++b) {
        uint64_t* first = slots.data() + start[b];
        uint64_t* last = slots.data() + start[b + 1];
        if (last - first > 24) {
            std::sort(first, last);
        } else if (first != last) {  // an empty bucket may sit at a null table (no faces)
            for (uint64_t* i = first + 1; i < last; ++i) {  // small buckets: insertion sort
                uint64_t x = *i;
                uint64_t* j = i;
                for (; j > first && *(j - 1) > x; --j) *j = *(j - 1);
                *j = x;
            }
        }
        pairRuns(first, last, [](uint64_t s) { return s >> 32; }, [](uint64_t s) { return static_cast<uint32_t>(s); });
    }
    std::sort(strays.begin(), strays.end());
    pairRuns(strays.begin(), strays.end(), [](const auto& s) { return s.first; },
             [](const auto& s) { return s.second; });
    std::vector<uint64_t>().swap(slots);
    std::vector<uint32_t>().swap(start);
    decltype(strays)().swap(strays);

    // Phase 3: the weights of entries 0 .. eCount in creation order (the last is the
    // all-zero entry); link[c] becomes the entry of a starting candidate.
    std::vector<double> weights(static_cast<size_t>(eCount) + 1, 0.0);
    {
        int32_t next = 0;
        ForEachSide(model, [&](uint32_t c, int32_t g, int32_t f, int32_t, int32_t) {
            const double area = model.groups[g].faces[f].area;
            if (link[c] == -1) {
                weights[next] = area;
                link[c] = next++;
            } else {
                double& w = weights[link[static_cast<uint32_t>(-link[c] - 2)]];
                w = (w + area) / 2;
            }
        });
    }

    // Phase 4: rank of each entry in the stable weight order.
    std::vector<uint32_t> rank = StableWeightOrder(weights);
    std::vector<double>().swap(weights);
    {
        std::vector<uint32_t> order = std::move(rank);
        rank.assign(order.size(), 0);
        for (uint32_t i = 0; i < order.size(); ++i) rank[order[i]] = i;
    }

    // Phase 5: every entry written straight to its sorted place, its second face added
    // the same way (and with the same arithmetic) as the weights above. The all-zero
    // entry and the spare are the zero-filled slots left over.
    std::vector<TEdge> edges(static_cast<size_t>(eCount) + 2);
    ForEachSide(model, [&](uint32_t c, int32_t g, int32_t f, int32_t c0, int32_t c1) {
        const double area = model.groups[g].faces[f].area;
        if (link[c] >= 0) {
            edges[rank[static_cast<uint32_t>(link[c])]] = TEdge{c0, c1, f, kNoFace, g, 0, area};
        } else {
            TEdge& e = edges[rank[static_cast<uint32_t>(link[static_cast<uint32_t>(-link[c] - 2)])]];
            e.active = 1;
            e.weight = (e.weight + area) / 2;
            e.face2 = f;
        }
    });

    model.eCount = eCount;
    model.edges = std::move(edges);
}

}  // namespace kgl
