// Loops on every core: each item of a loop is run once, by the range it belongs to,
// whether the loop runs on the pool, inside another loop, beside one on another thread
// or in a child made by fork, and a range's failure reaches the caller.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "parallel.h"
#include "test_support.h"

using namespace kgl;

namespace {

// Runs a loop of n ranges over items and checks that every item was run once, by the
// range that holds it.
void ExpectEachItemOnce(size_t n, uint64_t items) {
    std::vector<std::atomic<int>> runs(items);
    std::vector<std::atomic<int>> ranges(n);
    ParallelRanges(n, items, [&](size_t t, uint64_t b, uint64_t e) {
        ranges[t].fetch_add(1);
        EXPECT_EQ(b, items / n * t);
        EXPECT_EQ(e, t + 1 == n ? items : items / n * (t + 1));
        for (uint64_t i = b; i < e; ++i) runs[i].fetch_add(1);
    });
    for (size_t t = 0; t < n; ++t) EXPECT_EQ(ranges[t].load(), 1) << "range " << t << " of " << n;
    for (uint64_t i = 0; i < items; ++i) ASSERT_EQ(runs[i].load(), 1) << "item " << i << " of " << items;
}

}  // namespace

TEST(Parallel, EveryItemRunsOnceWhereverTheLoopRuns) {
    // one loop after another (the pool, which grows for the larger ones), with more
    // ranges than items too
    for (size_t n : {1, 2, 3, 7, 2}) {
        for (uint64_t items : {0, 1, 5, 1000, 100000}) ExpectEachItemOnce(n, items);
    }
    // a loop inside each range of a loop
    ParallelRanges(3, 3, [&](size_t, uint64_t, uint64_t) { ExpectEachItemOnce(2, 1000); });
    // loops on two threads at once, many times over
    auto many = [] {
        for (int k = 0; k < 200; ++k) ExpectEachItemOnce(2 + k % 3, 1000 + k);
    };
    std::thread other(many);
    many();
    other.join();
}

// A child made by fork has none of the pool's threads (the loader's memory tests load in
// such a child): its loops must not wait for them.
TEST(Parallel, AForkedChildRunsItsLoops) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer cannot start threads in the child of a process that has some";
#endif
    ExpectEachItemOnce(2, 1000);  // the pool and its thread exist here
    const int status = kgl::test::RunInChild([] {
        alarm(20);  // a loop left waiting ends the child
        std::atomic<uint64_t> items{0};
        ParallelRanges(2, 1000, [&](size_t, uint64_t b, uint64_t e) { items += e - b; });
        return items == 1000 ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
}

TEST(Parallel, TheFirstRangeToFailIsRethrown) {
    for (size_t n : {2, 3}) {
        std::atomic<int> ran{0};
        try {
            ParallelRanges(n, 30, [&](size_t t, uint64_t, uint64_t) {
                ran.fetch_add(1);
                if (t >= 1) throw std::runtime_error("range " + std::to_string(t));
            });
            ADD_FAILURE() << "nothing thrown";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "range 1");
        }
        EXPECT_EQ(ran.load(), static_cast<int>(n));  // the others ran to their end
        ExpectEachItemOnce(n, 100);                  // and the pool serves the next loop
    }
}
