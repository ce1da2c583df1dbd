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
#include <functional>
#include <limits>
#include <numeric>
#include <vector>

#include "KGLModel.h"
#include "errors.h"
#include "face_table.h"
#include "large_table.h"
#include "parallel.h"
#include "reduction_tables.h"

namespace kgl {

namespace {

// An unsigned key whose order is the order of the doubles; -0.0 and +0.0 share one key,
// not-a-number sorts after everything.
uint64_t WeightKey(double w) {
    if (w != w) return UINT64_MAX;
    if (w == 0) w = 0.0;  // -0.0 ties with +0.0
    uint64_t bits;
    std::memcpy(&bits, &w, sizeof bits);
    return (bits >> 63) ? ~bits : bits | (uint64_t(1) << 63);
}

// Sorts a short run stably by insertion; an empty run may lie at a null table.
template <class T, class Less>
void SortShortRun(T* first, T* last, Less less) {
    if (first == last) return;
    for (T* i = first + 1; i < last; ++i) {
        const T x = *i;
        T* j = i;
        for (; j > first && less(x, *(j - 1)); --j) *j = *(j - 1);
        *j = x;
    }
}

// The place of every entry in the table sorted stably by weight, given that every weight
// not in lo .. hi is infinite or not a number. One counting pass into buckets by value, a
// few entries each (the bucket is monotonic in the weight, and the pass keeps the
// creation order in each bucket), then each bucket sorted by weight where it lies, in
// cache. Not-a-number weights go to the last bucket, which sorts them last. Each thread
// counts and places the entries of its own range, after those of the ranges before it.
TLargeTable<uint32_t> PositionsByWeight(const TLargeTable<double>& weight, double lo, double hi) {
    const size_t n = weight.size();
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
    const size_t threads = WorkThreads(n, kItemsPerThread);
    std::vector<TLargeTable<uint32_t>> fill(threads);
    ParallelRanges(threads, n, [&](size_t t, uint64_t b, uint64_t e) {
        fill[t].assign(buckets + 1, 0);
        for (uint64_t i = b; i < e; ++i) ++fill[t][bucketOf(weight[i])];
    });
    TLargeTable<uint32_t> start(buckets + 1, 0);
    uint32_t run = 0;
    for (size_t d = 0; d < buckets; ++d) {
        start[d] = run;
        for (size_t t = 0; t < threads; ++t) {
            const uint32_t c = fill[t][d];
            fill[t][d] = run;
            run += c;
        }
    }
    start[buckets] = run;
    // the entries in bucket order with their keys beside them, so that a bucket sorts in cache
    struct TKeyed {
        uint64_t key;
        uint32_t entry;
    };
    TLargeTable<TKeyed> order(n);
    ParallelRanges(threads, n, [&](size_t t, uint64_t b, uint64_t e) {
        for (uint64_t i = b; i < e; ++i)
            order[fill[t][bucketOf(weight[i])]++] = TKeyed{WeightKey(weight[i]), static_cast<uint32_t>(i)};
    });
    fill.clear();
    auto less = [](const TKeyed& a, const TKeyed& b) { return a.key < b.key; };
    TLargeTable<uint32_t> position(n);
    ParallelRanges(threads, buckets, [&](size_t, uint64_t b, uint64_t e) {
        for (uint64_t d = b; d < e; ++d) {
            TKeyed* first = order.data() + start[d];
            TKeyed* last = order.data() + start[d + 1];
            if (last - first > 32)
                std::stable_sort(first, last, less);
            else
                SortShortRun(first, last, less);
            for (TKeyed* i = first; i < last; ++i) position[i->entry] = static_cast<uint32_t>(i - order.data());
        }
    });
    return position;
}

}  // namespace

int32_t EdgeVertexA(const TKGLModel& model, const TEdge& edge) {
    return CornerIndex(FaceAt(model, edge.group, edge.face), edge.corner0);
}

int32_t EdgeVertexB(const TKGLModel& model, const TEdge& edge) {
    return CornerIndex(FaceAt(model, edge.group, edge.face), edge.corner1);
}

void BuildEdges(TKGLModel& model) {
    const TReuseLargeBlocks reuse;  // the phases' scratch tables follow one another
    // The faces cut in one range a thread; every phase that walks candidates walks these
    // ranges, each range's candidates numbered after those of the ranges before it.
    const TFaceRows rows(model, 1);
    const size_t threads = WorkThreads(rows.Count(), kItemsPerThread / 4);
    std::vector<uint64_t> firstSide(threads + 1, 0);
    ParallelRanges(threads, rows.Count(), [&](size_t t, uint64_t b, uint64_t e) {
        uint64_t sides = 0;
        rows.ForEach(model, b, e, [&](const TGroup&, int32_t, const TFace& face, int32_t) {
            if (face.count > 0) sides += static_cast<uint64_t>(face.count);
        });
        firstSide[t + 1] = sides;
    });
    for (size_t t = 0; t < threads; ++t) firstSide[t + 1] += firstSide[t];
    if (firstSide[threads] > static_cast<uint64_t>(std::numeric_limits<int32_t>::max() - 3))
        throw ERangeError("The model has too many edges");
    const uint32_t nSides = static_cast<uint32_t>(firstSide[threads]);
    const size_t nVerts = model.vertices.size();
    const size_t outside = nVerts;  // one bucket for ends outside the vertex table (hand-built models only)
    auto bucketOf = [&](int32_t lo, int32_t hi) {
        return (lo >= 0 && static_cast<size_t>(hi) < nVerts) ? static_cast<size_t>(lo) : outside;
    };

    // Phase 1: the unordered end pair of every side, in candidate order, and the count of
    // each range's candidates by smaller end.
    TLargeTable<uint64_t> pairs;
    ResizeFaultedIn(pairs, nSides);  // (smaller end << 32) | larger end, as unsigned 32-bit halves
    std::vector<TLargeTable<uint32_t>> fill(threads);
    ParallelRanges(threads, rows.Count(), [&](size_t t, uint64_t b, uint64_t e) {
        TLargeTable<uint32_t>& count = fill[t];
        count.assign(nVerts + 1, 0);
        auto pairOf = [&](int32_t a, int32_t z) {
            if (a > z) std::swap(a, z);
            ++count[bucketOf(a, z)];
            return (static_cast<uint64_t>(static_cast<uint32_t>(a)) << 32) | static_cast<uint32_t>(z);
        };
        auto c = static_cast<uint32_t>(firstSide[t]);
        rows.ForEach(model, b, e, [&](const TGroup&, int32_t, const TFace& face, int32_t) {
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
    });
    // Where each bucket starts, and in it where each range's candidates go.
    TLargeTable<uint32_t> start(nVerts + 2, 0);
    {
        uint32_t run = 0;
        for (size_t bucket = 0; bucket <= nVerts; ++bucket) {
            start[bucket] = run;
            for (size_t t = 0; t < threads; ++t) {
                const uint32_t c = fill[t][bucket];
                fill[t][bucket] = run;
                run += c;
            }
        }
        start[nVerts + 1] = run;
    }

    // Bucket by the smaller end (counting sort keeps candidate order): (larger end << 32
    // | candidate) per bucket; the outside bucket keeps whole pairs beside.
    TLargeTable<uint64_t> slots;
    ResizeFaultedIn(slots, nSides);
    std::vector<std::vector<std::pair<uint64_t, uint32_t>>> strayParts(threads);
    OnEachThread(threads, [&](size_t t) {
        TLargeTable<uint32_t>& at = fill[t];
        for (auto c = static_cast<uint32_t>(firstSide[t]); c < firstSide[t + 1]; ++c) {
            const uint64_t p = pairs[c];
            const int32_t lo = static_cast<int32_t>(p >> 32), hi = static_cast<int32_t>(static_cast<uint32_t>(p));
            const size_t bucket = bucketOf(lo, hi);
            slots[at[bucket]++] = (static_cast<uint64_t>(static_cast<uint32_t>(hi)) << 32) | c;
            if (bucket == outside) strayParts[t].push_back({p, c});
        }
    });
    decltype(pairs)().swap(pairs);
    fill.clear();
    std::vector<std::pair<uint64_t, uint32_t>> strays;
    for (auto& part : strayParts) strays.insert(strays.end(), part.begin(), part.end());

    // Phase 2: pair consecutive candidates of each vertex pair. link[c] is -1 for a
    // candidate that starts an entry, -(starter + 2) for one that is its second face.
    TLargeTable<int32_t> link(nSides, -1);
    auto pairRuns = [&](auto first, auto last, auto keyOf, auto candOf) {
        int64_t entries = 0;
        for (auto it = first; it != last;) {
            auto runEnd = it + 1;
            while (runEnd != last && keyOf(*runEnd) == keyOf(*it)) ++runEnd;
            for (auto p = it; p != runEnd; p += 2) {
                ++entries;
                if (p + 1 == runEnd) break;
                link[candOf(*(p + 1))] = -static_cast<int32_t>(candOf(*p)) - 2;
            }
            it = runEnd;
        }
        return entries;
    };
    std::vector<int64_t> entries(threads, 0);
    ParallelRanges(threads, outside, [&](size_t t, uint64_t b, uint64_t e) {
        for (uint64_t bucket = b; bucket < e; ++bucket) {
            uint64_t* first = slots.data() + start[bucket];
            uint64_t* last = slots.data() + start[bucket + 1];
            if (last - first > 24)
                std::sort(first, last);
            else
                SortShortRun(first, last, std::less<uint64_t>());
            entries[t] += pairRuns(
                first, last, [](uint64_t s) { return s >> 32; }, [](uint64_t s) { return static_cast<uint32_t>(s); });
        }
    });
    std::sort(strays.begin(), strays.end());
    int64_t total = pairRuns(
        strays.begin(), strays.end(), [](const auto& s) { return s.first; }, [](const auto& s) { return s.second; });
    for (int64_t part : entries) total += part;
    const auto eCount = static_cast<int32_t>(total);
    decltype(slots)().swap(slots);
    decltype(start)().swap(start);
    decltype(strays)().swap(strays);

    // Phase 3: the weight of every entry 0 .. eCount in creation order (the last is the
    // all-zero entry, weight 0): each range numbers the entries its starting candidates
    // begin after those of the ranges before it (link[c] becomes the entry), then, once
    // all are numbered, each second face averages its area into its entry's weight (and
    // its link names the entry, -(entry + 2), instead of the starting candidate).
    std::vector<int32_t> firstEntry(threads + 1, 0);
    std::vector<double> lo(threads, 0), hi(threads, 0);  // the all-zero entry's weight; a mean stays in range
    OnEachThread(threads, [&](size_t t) {
        int32_t starters = 0;
        for (auto c = static_cast<uint32_t>(firstSide[t]); c < firstSide[t + 1]; ++c) starters += link[c] == -1;
        firstEntry[t + 1] = starters;
    });
    for (size_t t = 0; t < threads; ++t) firstEntry[t + 1] += firstEntry[t];
    auto sidesOf = [&](size_t t, auto&& fn) {
        auto c = static_cast<uint32_t>(firstSide[t]);
        rows.ForEach(model, rows.Count() / threads * t,
                     t + 1 == threads ? rows.Count() : rows.Count() / threads * (t + 1),
                     [&](const TGroup&, int32_t g, const TFace& face, int32_t f) {
                         const int32_t n = face.count;
                         if (n < 1) return;
                         for (int32_t i = 0; i + 1 < n; ++i) fn(c++, g, f, face.area, i, i + 1);
                         fn(c++, g, f, face.area, 0, n - 1);
                     });
    };
    TLargeTable<double> weight(static_cast<size_t>(eCount) + 1, 0.0);
    OnEachThread(threads, [&](size_t t) {
        int32_t next = firstEntry[t];
        double l = 0, h = 0;
        sidesOf(t, [&](uint32_t c, int32_t, int32_t, double area, int32_t, int32_t) {
            if (area < l) l = area;
            if (area > h) h = area;
            if (link[c] == -1) {
                weight[static_cast<size_t>(next)] = area;
                link[c] = next++;
            }
        });
        lo[t] = l;
        hi[t] = h;
    });
    OnEachThread(threads, [&](size_t t) {
        sidesOf(t, [&](uint32_t c, int32_t, int32_t, double area, int32_t, int32_t) {
            if (link[c] >= 0) return;
            const int32_t entry = link[static_cast<uint32_t>(-link[c] - 2)];
            weight[static_cast<uint32_t>(entry)] = (weight[static_cast<uint32_t>(entry)] + area) / 2;
            link[c] = -entry - 2;
        });
    });

    // Phase 4: the place of every entry in the table sorted stably by weight, so that the
    // table is made in its order, without a copy in creation order beside it: the links
    // name places instead of entries (a starting candidate's place, a second face's
    // -(place + 2)), then each starting candidate writes its entry at its place, and each
    // second face completes it.
    {
        const TLargeTable<uint32_t> place =
            PositionsByWeight(weight, *std::min_element(lo.begin(), lo.end()), *std::max_element(hi.begin(), hi.end()));
        decltype(weight)().swap(weight);
        ParallelRanges(threads, nSides, [&](size_t, uint64_t b, uint64_t e) {
            for (uint64_t c = b; c < e; ++c) {
                const int32_t l = link[c];
                const auto at = static_cast<int32_t>(place[static_cast<uint32_t>(l >= 0 ? l : -l - 2)]);
                link[c] = l >= 0 ? at : -at - 2;
            }
        });
    }
    TLargeTable<TEdge> edges(static_cast<size_t>(eCount) + 2);  // all zero: the all-zero entry and the spare
    OnEachThread(threads, [&](size_t t) {
        sidesOf(t, [&](uint32_t c, int32_t g, int32_t f, double area, int32_t c0, int32_t c1) {
            if (link[c] >= 0) edges[static_cast<uint32_t>(link[c])] = TEdge{c0, c1, f, kNoFace, g, 0, area};
        });
    });
    OnEachThread(threads, [&](size_t t) {
        sidesOf(t, [&](uint32_t c, int32_t, int32_t f, double area, int32_t, int32_t) {
            if (link[c] >= 0) return;
            TEdge& e = edges[static_cast<uint32_t>(-link[c] - 2)];
            e.active = 1;
            e.weight = (e.weight + area) / 2;
            e.face2 = f;
        });
    });
    decltype(link)().swap(link);
    model.eCount = eCount;
    model.edges = std::move(edges);
    DropReductionTables(model);
}

}  // namespace kgl
