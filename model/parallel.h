#pragma once
// Model-sized loops on every core (private to the model core). The loads split their
// loops into one range of items a thread; every result is the one a single thread gives,
// because each range writes only its own items and what ranges find together (a
// minimum, a maximum, a count) does not depend on the order it is combined in.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

#include "KGLModel.h"
#include "face_table.h"

namespace kgl {

// Items of a model-sized loop (faces, sides, edge entries, vertices) from which on a
// thread is worth its start; loops of heavier or lighter items scale it.
constexpr uint64_t kItemsPerThread = 64 * 1024;

// Threads for a loop over items when a thread is worth its start only from minItems on:
// SetLoadThreads's count when one is forced, else one a core (at most 64), fewer for
// small loops, at least 1.
size_t WorkThreads(uint64_t items, uint64_t minItems);

// Runs run(context, t) for t = 1 .. n - 1 on the threads of a pool kept for the process
// and run(context, 0) on the calling thread, and returns once all have returned; run
// must not throw. False, with nothing run, while the pool serves another loop (a loop
// inside a loop, or on another thread) or when it cannot start the threads it needs.
//
// The pool's threads wait a little, awake, for the next loop before they sleep: a
// model's loops follow one another with little work between them, and a thread started
// or woken for each loop was first put on the core of the thread that asked, on some
// systems for several milliseconds, so that a loop of two ranges ran as one.
bool RunOnPool(size_t n, void (*run)(void*, size_t), void* context) noexcept;

// Runs fn(t, begin, end) for t = 0 .. n - 1 over [0, items) cut in n even ranges, range 0
// on the calling thread, and rethrows the failure of the first range that failed.
template <class Fn>
void ParallelRanges(size_t n, uint64_t items, Fn&& fn) {
    if (n <= 1) {
        fn(size_t(0), uint64_t(0), items);
        return;
    }
    std::vector<std::exception_ptr> failed(n);
    auto run = [&](size_t t) {
        try {
            fn(t, items / n * t, t + 1 == n ? items : items / n * (t + 1));
        } catch (...) {
            failed[t] = std::current_exception();
        }
    };
    using TRun = decltype(run);
    if (!RunOnPool(
            n, [](void* context, size_t t) { (*static_cast<TRun*>(context))(t); }, &run)) {
        std::vector<std::thread> threads;
        threads.reserve(n - 1);
        for (size_t t = 1; t < n; ++t) threads.emplace_back(run, t);
        run(0);
        for (std::thread& th : threads) th.join();
    }
    for (const std::exception_ptr& e : failed)
        if (e) std::rethrow_exception(e);
}

// Runs fn(t) once for each t = 0 .. n - 1, each on a thread of its own (0 on the calling
// thread): for loops over the ranges another loop already cut.
template <class Fn>
void OnEachThread(size_t n, Fn&& fn) {
    ParallelRanges(n, n, [&](size_t t, uint64_t, uint64_t) { fn(t); });
}

// The faces of groups 0 .. LastGroup numbered in a row, slots first .. LastFace of each
// (first 0 or 1), as ForEachFace walks them.
class TFaceRows {
public:
    TFaceRows(const TKGLModel& model, int32_t first) : first_(first) {
        const int32_t last = LastGroup(model);
        start_.resize(static_cast<size_t>(last + 2), 0);
        for (int32_t g = 0; g <= last; ++g)
            start_[g + 1] =
                start_[g] + std::max<int64_t>(0, LastFace(model.groups[static_cast<size_t>(g)]) - first + 1);
    }
    uint64_t Count() const { return static_cast<uint64_t>(start_.back()); }
    // fn(group, g, face, f) for the faces numbered begin .. end - 1.
    template <class TModel, class Fn>
    void ForEach(TModel& model, uint64_t begin, uint64_t end, Fn&& fn) const {
        if (begin >= end) return;
        auto g = static_cast<size_t>(std::upper_bound(start_.begin(), start_.end(), static_cast<int64_t>(begin)) -
                                     start_.begin() - 1);
        for (int64_t at = static_cast<int64_t>(begin); at < static_cast<int64_t>(end); ++g) {
            auto& group = model.groups[g];
            auto* faces = group.faces.data();
            const int64_t stop = std::min<int64_t>(start_[g + 1], static_cast<int64_t>(end));
            for (; at < stop; ++at) {
                const auto f = static_cast<int32_t>(at - start_[g] + first_);
                fn(group, static_cast<int32_t>(g), faces[f], f);
            }
        }
    }

private:
    int32_t first_;
    std::vector<int64_t> start_;  // number of the first face of each group, and the total
};

}  // namespace kgl
