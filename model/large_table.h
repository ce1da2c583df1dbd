#pragma once
// Storage for the model-sized tables (faces, vertices, edges and the loaders' scratch):
// huge pages where the system has them.
//
// A model of a million triangles fills some 150 MB of tables. With 4 KiB pages that
// is some 40 000 page faults on first touch, and on a virtual machine a fault costs
// microseconds: a load paid more for faults than for parsing. A large block from
// TLargeAllocator is mapped on its own, on a 2 MiB boundary, and advised for huge
// pages before anything touches it (Linux transparent huge pages in "madvise" or
// "always" mode), so it faults in 2 MiB at a time. Elsewhere, for small blocks and in
// sanitizer builds (whose checks need the ordinary heap) it is plain operator new.
// Contents and failures (std::bad_alloc) are those of std::allocator.
#include <algorithm>
#include <cstddef>
#include <new>
#include <vector>

namespace kgl {

// Blocks smaller than this come from operator new.
constexpr size_t kLargeBlockBytes = size_t(1) << 20;

// A block of at least `bytes` bytes: mapped and advised when large, else operator new.
// Throws std::bad_alloc.
void* AllocateLarge(size_t bytes);
// Gives back a block of AllocateLarge; bytes as it was asked for.
void FreeLarge(void* block, size_t bytes) noexcept;
// Whether large blocks are mapped on their own here (false: all from operator new).
bool LargeBlocksMapped() noexcept;
// Faults in the pages of [block, block + bytes) of a mapped large block, a range of them
// on each core: for a table that one thread is about to fill, whose first touch (the
// system zeroing each page) would otherwise all fall on that thread. Nothing for small
// blocks, where large blocks are not mapped, or where the system cannot.
void PrefaultLarge(void* block, size_t bytes) noexcept;

// While one of these lives, large blocks given back are kept, and the pages of a large
// block asked for are first taken from them (moved, not copied, so that the system
// neither zeroes them again nor, on a virtual machine, fetches them anew): for work that
// makes and drops model-sized scratch tables one after another. Kept pages only ever
// stand in for pages that would be asked of the system, so the peak stays where it
// would be; the last one to end gives back what is still kept.
class TReuseLargeBlocks {
public:
    TReuseLargeBlocks() noexcept;
    ~TReuseLargeBlocks();
    TReuseLargeBlocks(const TReuseLargeBlocks&) = delete;
    TReuseLargeBlocks& operator=(const TReuseLargeBlocks&) = delete;
};

template <class T>
struct TLargeAllocator {
    using value_type = T;
    TLargeAllocator() noexcept = default;
    template <class U>
    TLargeAllocator(const TLargeAllocator<U>&) noexcept {}
    T* allocate(size_t n) {
        if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(AllocateLarge(n * sizeof(T)));
    }
    void deallocate(T* p, size_t n) noexcept { FreeLarge(p, n * sizeof(T)); }
    template <class U>
    friend bool operator==(const TLargeAllocator&, const TLargeAllocator<U>&) noexcept {
        return true;
    }
};

// A model-sized table: a std::vector on TLargeAllocator.
template <class T>
using TLargeTable = std::vector<T, TLargeAllocator<T>>;

// Room for n entries in table, growing it at least twofold when it must grow: for a
// table that many small steps (a scene's meshes) each ask to hold a little more, which
// room for exactly that much would copy over and over.
template <class T, class A>
void ReserveGrowing(std::vector<T, A>& table, size_t n) {
    if (n > table.capacity()) table.reserve(std::max(n, 2 * table.capacity()));
}

// Sizes table to n value-initialised entries, its new pages faulted in on every core first.
template <class T>
void ResizeFaultedIn(TLargeTable<T>& table, size_t n) {
    table.reserve(n);
    PrefaultLarge(table.data() + table.size(), (n - std::min(n, table.size())) * sizeof(T));
    table.resize(n);
}

}  // namespace kgl
