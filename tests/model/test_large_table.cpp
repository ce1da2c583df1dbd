// The storage of the model-sized tables: a std::vector whatever the block size, large
// blocks on a huge-page boundary where the system maps them itself.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <numeric>

#include <sys/mman.h>

#include "large_table.h"

using namespace kgl;

TEST(LargeTable, BehavesAsAVectorAcrossTheLargeBlockSize) {
    const size_t large = kLargeBlockBytes / sizeof(int32_t);
    TLargeTable<int32_t> t;
    // growing by push_back passes from operator new to mapped blocks and keeps contents
    for (int32_t i = 0; i < static_cast<int32_t>(large * 3); ++i) t.push_back(i);
    for (size_t i = 0; i < t.size(); ++i) ASSERT_EQ(t[i], static_cast<int32_t>(i));
    TLargeTable<int32_t> copy = t;
    EXPECT_EQ(copy, t);
    t.resize(10);
    t.shrink_to_fit();  // back to a small block
    EXPECT_EQ(std::accumulate(t.begin(), t.end(), 0), 45);
    TLargeTable<int32_t> zeros(large + 1);
    EXPECT_EQ(std::count(zeros.begin(), zeros.end(), 0), static_cast<long>(large + 1));
    TLargeTable<int32_t>().swap(copy);
    EXPECT_TRUE(copy.empty());
}

TEST(LargeTable, ImpossibleSizesThrowBadAlloc) {
    TLargeAllocator<int64_t> a;
    EXPECT_THROW((void)a.allocate(size_t(-1) / 4), std::bad_alloc);  // more bytes than size_t holds
    // a mapping the system refuses (under the sanitizers the heap's own checks stop it)
    if (LargeBlocksMapped()) {
        EXPECT_THROW((void)a.allocate(size_t(1) << 60), std::bad_alloc);
    }
}

TEST(LargeTable, LargeBlocksStartOnAHugePageBoundary) {
    if (!LargeBlocksMapped()) GTEST_SKIP() << "large blocks come from operator new here";
    TLargeTable<char> t(kLargeBlockBytes * 2 + 12345);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(t.data()) % (uintptr_t(2) << 20), 0u);
}

// Within a TReuseLargeBlocks scope the pages of a block given back make up the next
// blocks asked for, as far as they reach (they still hold what was written); the scope's
// end gives back what is still kept. Without a scope a block is unmapped when given back.
TEST(LargeTable, ReuseHandsPagesOutAgainOnlyWithinItsScope) {
    if (!LargeBlocksMapped()) GTEST_SKIP() << "large blocks come from operator new here";
    constexpr size_t kMiB = size_t(1) << 20;
    auto mapped = [](void* at, size_t bytes) { return msync(at, bytes, MS_ASYNC) == 0; };
    char* kept = nullptr;
    {
        const TReuseLargeBlocks reuse;
        char* first = static_cast<char*>(AllocateLarge(8 * kMiB));
        std::memset(first, 7, 8 * kMiB);
        FreeLarge(first, 8 * kMiB);
        char* half = static_cast<char*>(AllocateLarge(4 * kMiB));
        EXPECT_EQ(half[0], 7);
        EXPECT_EQ(half[4 * kMiB - 1], 7);
        char* more = static_cast<char*>(AllocateLarge(6 * kMiB));  // 4 MiB kept, 2 MiB new
        EXPECT_EQ(more[0], 7);
        EXPECT_EQ(more[4 * kMiB - 1], 7);
        EXPECT_EQ(more[4 * kMiB], 0);
        EXPECT_FALSE(mapped(first, 8 * kMiB));  // its pages moved on
        FreeLarge(more, 6 * kMiB);
        FreeLarge(half, 4 * kMiB);
        EXPECT_TRUE(mapped(more, 6 * kMiB));
        kept = more;
    }
    EXPECT_FALSE(mapped(kept, 6 * kMiB));
    void* alone = AllocateLarge(4 * kMiB);
    FreeLarge(alone, 4 * kMiB);
    EXPECT_FALSE(mapped(alone, 4 * kMiB));
}
