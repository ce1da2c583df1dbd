#include "large_table.h"

#include <cstdint>
#include <cstdlib>

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
}  // namespace

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
    return reinterpret_cast<void*>(begin);
}

bool LargeBlocksMapped() noexcept { return true; }

void FreeLarge(void* block, size_t bytes) noexcept {
    if (!block) return;
    if (bytes < kLargeBlockBytes) {
        ::operator delete(block);
        return;
    }
    munmap(block, MappedBytes(bytes));
}

#else

void* AllocateLarge(size_t bytes) { return ::operator new(bytes); }
void FreeLarge(void* block, size_t) noexcept { ::operator delete(block); }
bool LargeBlocksMapped() noexcept { return false; }

#endif

}  // namespace kgl
