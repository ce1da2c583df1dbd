#include "large_table.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>  // mremap: _GNU_SOURCE, which g++ defines
#endif

#if defined(__SANITIZE_ADDRESS__)
#define KGL_PLAIN_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define KGL_PLAIN_HEAP 1
#endif
#endif

#include "parallel.h"

namespace kgl {

#if defined(__linux__) && defined(MADV_HUGEPAGE) && !defined(KGL_PLAIN_HEAP)

namespace {
constexpr size_t kHugePage = size_t(2) << 20;
size_t MappedBytes(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

// Blocks given back while a TReuseLargeBlocks lives, kept for the next blocks asked for.
struct TKept {
    char* at;
    size_t size;  // mapped bytes
};
std::mutex g_keptMutex;
std::vector<TKept> g_kept;
int g_reusers = 0;

void DropKept() {
    for (const TKept& k : g_kept) munmap(k.at, k.size);
    g_kept.clear();
}

// Moves kept pages into [at, at + size) of a new mapping, from its start, as far as they
// reach: pages move with what they hold, neither zeroed by the system nor copied. A
// kept block that holds all that is left goes first (the smallest such), else the
// largest. What they do not reach is left to fault in.
void FillFromKept(char* at, size_t size) {
    std::lock_guard<std::mutex> lock(g_keptMutex);
    size_t done = 0;
    while (done < size && !g_kept.empty()) {
        const size_t need = size - done;
        size_t pick = 0;
        for (size_t i = 1; i < g_kept.size(); ++i) {
            const size_t have = g_kept[i].size, best = g_kept[pick].size;
            if (best >= need ? (have >= need && have < best) : have > best) pick = i;
        }
        TKept& k = g_kept[pick];
        const size_t n = std::min(k.size, need);
        if (mremap(k.at, n, n, MREMAP_MAYMOVE | MREMAP_FIXED, at + done) == MAP_FAILED) return;  // left to fault in
        done += n;
        if (n == k.size) {
            g_kept.erase(g_kept.begin() + static_cast<std::ptrdiff_t>(pick));
        } else {
            k.at += n;
            k.size -= n;
        }
    }
}
}  // namespace

TReuseLargeBlocks::TReuseLargeBlocks() noexcept {
    std::lock_guard<std::mutex> lock(g_keptMutex);
    ++g_reusers;
}

TReuseLargeBlocks::~TReuseLargeBlocks() {
    std::lock_guard<std::mutex> lock(g_keptMutex);
    if (--g_reusers == 0) DropKept();
}

void* AllocateLarge(size_t bytes) {
    if (bytes < kLargeBlockBytes) return ::operator new(bytes);
    const size_t size = MappedBytes(bytes);
    if (size + kHugePage < size) throw std::bad_alloc();
    // map one huge page more than needed and cut it down to a 2 MiB boundary
    void* raw = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t at = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t begin = (at + kHugePage - 1) & ~(kHugePage - 1);
    if (begin > at) munmap(raw, begin - at);
    munmap(reinterpret_cast<void*>(begin + size), at + kHugePage - begin);  // the tail, never empty
    // a refusal (no transparent huge pages here) leaves ordinary pages: nothing to report
    (void)madvise(reinterpret_cast<void*>(begin), size, MADV_HUGEPAGE);
    FillFromKept(reinterpret_cast<char*>(begin), size);
    return reinterpret_cast<void*>(begin);
}

bool LargeBlocksMapped() noexcept { return true; }

void PrefaultLarge(void* block, size_t bytes) noexcept {
#if defined(MADV_POPULATE_WRITE)
    // the whole huge pages inside the range; the rest fault in at their first write
    const uintptr_t at = reinterpret_cast<uintptr_t>(block);
    const uintptr_t begin = (at + kHugePage - 1) & ~(kHugePage - 1), end = (at + bytes) & ~(kHugePage - 1);
    if (end <= begin) return;
    const size_t pages = (end - begin) / kHugePage;
    try {
        ParallelRanges(WorkThreads(pages, 4), pages, [&](size_t, uint64_t b, uint64_t e) {
            // a refusal (an older system) leaves the pages to their first write
            (void)madvise(reinterpret_cast<void*>(begin + b * kHugePage), (e - b) * kHugePage, MADV_POPULATE_WRITE);
        });
    } catch (...) {  // no thread to start: the first writes fault them in
    }
#else
    (void)block;
    (void)bytes;
#endif
}

void FreeLarge(void* block, size_t bytes) noexcept {
    if (!block) return;
    if (bytes < kLargeBlockBytes) {
        ::operator delete(block);
        return;
    }
    const size_t size = MappedBytes(bytes);
    {
        std::lock_guard<std::mutex> lock(g_keptMutex);
        if (g_reusers > 0) try {
                g_kept.push_back({static_cast<char*>(block), size});
                return;
            } catch (const std::bad_alloc&) {  // not kept: given back below
            }
    }
    munmap(block, size);
}

#else

TReuseLargeBlocks::TReuseLargeBlocks() noexcept {}
TReuseLargeBlocks::~TReuseLargeBlocks() {}
void* AllocateLarge(size_t bytes) { return ::operator new(bytes); }
void FreeLarge(void* block, size_t) noexcept { ::operator delete(block); }
bool LargeBlocksMapped() noexcept { return false; }
void PrefaultLarge(void*, size_t) noexcept {}

#endif

}  // namespace kgl
