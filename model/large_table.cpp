#include "large_table.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define KGL_PLAIN_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define KGL_PLAIN_HEAP 1
#endif
#endif

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

// The smallest kept block of at least size bytes, cut down to size (the rest stays
// kept); null when none is that large, and then every kept block is given back first,
// so that what is mapped next never lies beside blocks kept in vain.
void* TakeKept(size_t size) {
    std::lock_guard<std::mutex> lock(g_keptMutex);
    if (g_kept.empty()) return nullptr;
    size_t best = g_kept.size();
    for (size_t i = 0; i < g_kept.size(); ++i)
        if (g_kept[i].size >= size && (best == g_kept.size() || g_kept[i].size < g_kept[best].size)) best = i;
    if (best == g_kept.size()) {
        DropKept();
        return nullptr;
    }
    TKept& k = g_kept[best];
    char* at = k.at;
    if (k.size > size) {
        k.at += size;
        k.size -= size;
    } else {
        g_kept.erase(g_kept.begin() + static_cast<std::ptrdiff_t>(best));
    }
    return at;
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
    if (void* kept = TakeKept(size)) return kept;
    // map one huge page more than needed and cut it down to a 2 MiB boundary
    void* raw = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t at = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t begin = (at + kHugePage - 1) & ~(kHugePage - 1);
    if (begin > at) munmap(raw, begin - at);
    munmap(reinterpret_cast<void*>(begin + size), at + kHugePage - begin);  // the tail, never empty
    // a refusal (no transparent huge pages here) leaves ordinary pages: nothing to report
    (void)madvise(reinterpret_cast<void*>(begin), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(begin);
}

bool LargeBlocksMapped() noexcept { return true; }

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

#endif

}  // namespace kgl
