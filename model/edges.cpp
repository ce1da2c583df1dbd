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
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

#include "KGLModel.h"
#include "errors.h"
#include "face_table.h"
#include "large_table.h"
#include "reduction_tables.h"

namespace kgl {

namespace {

// Calls fn(candidate, group, face, corner0, corner1) for every side in matching order.
template <class F>
void ForEachSide(const TKGLModel& model, F&& fn) {
    uint32_t c = 0;
    ForEachFace(model, 1, [&](const TGroup&, int32_t g, const TFace& face, int32_t f) {
        const int32_t n = face.count;
        if (n < 1) return;  // a face without corners has no sides
        for (int32_t i = 0; i + 1 < n; ++i) fn(c++, g, f, i, i + 1);
        fn(c++, g, f, 0, n - 1);
    });
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

uint64_t KeyOf(const TEdge& e) { return WeightKey(e.weight); }

// Stable by key: insertion sort for the short runs, merge sort beyond.
void SortRun(TEdge* first, TEdge* last) {
    if (std::is_sorted(first, last, [](const TEdge& a, const TEdge& b) { return KeyOf(a) < KeyOf(b); })) return;
    if (last - first > 32) {
        std::stable_sort(first, last, [](const TEdge& a, const TEdge& b) { return KeyOf(a) < KeyOf(b); });
        return;
    }
    for (TEdge* i = first + 1; i < last; ++i) {
        const TEdge x = *i;
        const uint64_t k = KeyOf(x);
        TEdge* j = i;
        for (; j > first && KeyOf(*(j - 1)) > k; --j) *j = *(j - 1);
        *j = x;
    }
}

// Copies from[0 .. n-1] to out in stable order of weight, given that every weight not
// in lo .. hi is infinite or not a number. One counting pass into buckets by value, a
// few entries each (the bucket is monotonic in the weight, and the pass keeps the
// creation order in each bucket), then each bucket sorted where it lies, in cache.
// Not-a-number weights go to the last bucket, which sorts them last.
void StableSortByWeight(const TLargeTable<TEdge>& from, TEdge* out, double lo, double hi) {
    const size_t n = from.size();
    const size_t buckets = std::max<size_t>(1, n / 4);
    double scale = static_cast<double>(buckets) / (hi - lo);
    if (!(std::isfinite(lo) && std::isfinite(hi) && std::isfinite(scale) && scale > 0)) scale = 0;  // one bucket
    auto bucketOf = [&](double w) -> size_t {
        if (w >= lo) {
            const double x = (w - lo) * scale;
            return x < static_cast<double>(buckets) ? static_cast<size_t>(x) : buckets - 1;
        }
        return w < lo ? 0 : buckets - 1;  // below the range: -infinity; else not a number
    };
    TLargeTable<uint32_t> start(buckets + 1, 0);
    for (const TEdge& e : from) ++start[bucketOf(e.weight) + 1];
    for (size_t d = 1; d < start.size(); ++d) start[d] += start[d - 1];
    TLargeTable<uint32_t> fill(start.begin(), start.end() - 1);
    for (size_t i = 0; i < n; ++i) out[fill[bucketOf(from[i].weight)]++] = from[i];
    for (size_t d = 0; d < buckets; ++d)
        if (start[d + 1] - start[d] > 1) SortRun(out + start[d], out + start[d + 1]);
}

}  // namespace

int32_t EdgeVertexA(const TKGLModel& model, const TEdge& edge) {
    return CornerIndex(FaceAt(model, edge.group, edge.face), edge.corner0);
}

int32_t EdgeVertexB(const TKGLModel& model, const TEdge& edge) {
    return CornerIndex(FaceAt(model, edge.group, edge.face), edge.corner1);
}

void BuildEdges(TKGLModel& model) {
    // Phase 1: the unordered end pair of every side, in candidate order.
    uint64_t sides = 0;
    ForEachFace(model, 1, [&](const TGroup&, int32_t, const TFace& face, int32_t) {
        if (face.count > 0) sides += static_cast<uint64_t>(face.count);
    });
    if (sides > static_cast<uint64_t>(std::numeric_limits<int32_t>::max() - 3))
        throw ERangeError("The model has too many edges");
    const uint32_t nSides = static_cast<uint32_t>(sides);
    const size_t nVerts = model.vertices.size();
    const size_t outside = nVerts;  // one bucket for ends outside the vertex table (hand-built models only)

    TLargeTable<uint64_t> pairs(nSides);  // (smaller end << 32) | larger end, as unsigned 32-bit halves
    TLargeTable<uint32_t> start(nVerts + 2, 0);
    {
        auto pairOf = [&](int32_t a, int32_t b) {
            if (a > b) std::swap(a, b);
            size_t bucket = (a >= 0 && static_cast<size_t>(b) < nVerts) ? static_cast<size_t>(a) : outside;
            ++start[bucket + 1];
            return (static_cast<uint64_t>(static_cast<uint32_t>(a)) << 32) | static_cast<uint32_t>(b);
        };
        uint32_t c = 0;
        ForEachFace(model, 1, [&](const TGroup&, int32_t, const TFace& face, int32_t) {
            const int32_t n = face.count;
            if (n < 1) return;
            if (static_cast<uint32_t>(n) <= face.vIdx.size()) {
                const int32_t* v = face.vIdx.data();
                for (int32_t i = 0; i + 1 < n; ++i) pairs[c++] = pairOf(v[i], v[i + 1]);
                pairs[c++] = pairOf(v[0], v[n - 1]);
            } else {  // count and vIdx disagree: the guarded lookup
                for (int32_t i = 0; i + 1 < n; ++i)
                    pairs[c++] = pairOf(CornerIndex(&face, i), CornerIndex(&face, i + 1));
                pairs[c++] = pairOf(CornerIndex(&face, 0), CornerIndex(&face, n - 1));
            }
        });
    }
    for (size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];

    // Bucket by the smaller end (counting sort keeps candidate order): (larger end << 32
    // | candidate) per bucket; the outside bucket keeps whole pairs beside.
    TLargeTable<uint64_t> slots(nSides);
    std::vector<std::pair<uint64_t, uint32_t>> strays;
    {
        TLargeTable<uint32_t> fill(start.begin(), start.end() - 1);
        for (uint32_t c = 0; c < nSides; ++c) {
            const uint64_t p = pairs[c];
            const int32_t lo = static_cast<int32_t>(p >> 32), hi = static_cast<int32_t>(static_cast<uint32_t>(p));
            const size_t b = (lo >= 0 && static_cast<size_t>(hi) < nVerts) ? static_cast<size_t>(lo) : outside;
            slots[fill[b]++] = (static_cast<uint64_t>(static_cast<uint32_t>(hi)) << 32) | c;
            if (b == outside) strays.push_back({p, c});
        }
    }
    decltype(pairs)().swap(pairs);

    // Phase 2: pair consecutive candidates of each vertex pair. link[c] is -1 for a
    // candidate that starts an entry, -(starter + 2) for one that is its second face.
    TLargeTable<int32_t> link(nSides, -1);
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
        } else if (first != last) {                         // an empty bucket may sit at a null table (no faces)
            for (uint64_t* i = first + 1; i < last; ++i) {  // small buckets: insertion sort
                uint64_t x = *i;
                uint64_t* j = i;
                for (; j > first && *(j - 1) > x; --j) *j = *(j - 1);
                *j = x;
            }
        }
        pairRuns(
            first, last, [](uint64_t s) { return s >> 32; }, [](uint64_t s) { return static_cast<uint32_t>(s); });
    }
    std::sort(strays.begin(), strays.end());
    pairRuns(
        strays.begin(), strays.end(), [](const auto& s) { return s.first; }, [](const auto& s) { return s.second; });
    decltype(slots)().swap(slots);
    decltype(start)().swap(start);
    decltype(strays)().swap(strays);

    // Phase 3: the entries 0 .. eCount in creation order (the last is the all-zero
    // entry). A second face updates an entry made shortly before in mesh order, so
    // these updates stay in cache; link[c] becomes the entry of a starting candidate.
    TLargeTable<TEdge> created(static_cast<size_t>(eCount) + 1);
    double lo = 0, hi = 0;  // the all-zero entry's weight; a mean of areas stays in their range
    {
        int32_t next = 0;
        ForEachSide(model, [&](uint32_t c, int32_t g, int32_t f, int32_t c0, int32_t c1) {
            const double area = model.groups[g].faces[f].area;
            if (area < lo) lo = area;
            if (area > hi) hi = area;
            if (link[c] == -1) {
                created[static_cast<size_t>(next)] = TEdge{c0, c1, f, kNoFace, g, 0, area};
                link[c] = next++;
            } else {
                TEdge& e = created[static_cast<uint32_t>(link[static_cast<uint32_t>(-link[c] - 2)])];
                e.active = 1;
                e.weight = (e.weight + area) / 2;
                e.face2 = f;
            }
        });
    }
    decltype(link)().swap(link);

    // Phase 4: a stable sort by weight into the table, plus the all-zero spare.
    TLargeTable<TEdge> edges(static_cast<size_t>(eCount) + 2);
    StableSortByWeight(created, edges.data(), lo, hi);
    model.eCount = eCount;
    model.edges = std::move(edges);
    DropReductionTables(model);
}

}  // namespace kgl
