#pragma once
// TIndexList: the per-corner index list of a face (vIdx, tIdx, nIdx).
//
// A face has three such lists and a model may have millions of faces, so the
// list keeps up to kInline entries inside itself and only longer lists (faces
// of five or more corners) go to the heap. 20 bytes, 4-aligned: a heap list keeps
// its block's address and capacity in the room of the inline entries, so a face
// of three lists, its area, count and flag takes 80 bytes.
//
// Contract: entries are int32_t, indexed 0 .. size()-1, at most 2^31 - 1 of them;
// resize() fills new entries with 0; operator[] is unchecked (callers check
// against size()).
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <new>

namespace kgl {

class TIndexList {
public:
    static constexpr uint32_t kInline = 4;

    TIndexList() noexcept : size_(0) {}
    TIndexList(std::initializer_list<int32_t> init) : TIndexList() {
        reserve(static_cast<uint32_t>(init.size()));
        for (int32_t v : init) push_back(v);
    }
    TIndexList(const TIndexList& o) : TIndexList() { assign(o.data(), o.size()); }
    TIndexList(TIndexList&& o) noexcept : TIndexList() { steal(o); }
    TIndexList& operator=(const TIndexList& o) {
        if (this != &o) assign(o.data(), o.size());
        return *this;
    }
    TIndexList& operator=(TIndexList&& o) noexcept {
        if (this != &o) {
            release();
            steal(o);
        }
        return *this;
    }
    ~TIndexList() { release(); }

    uint32_t size() const noexcept { return size_ & kSizeBits; }
    bool empty() const noexcept { return size() == 0; }
    int32_t* data() noexcept { return onHeap() ? heap() : room_; }
    const int32_t* data() const noexcept { return onHeap() ? heap() : room_; }
    int32_t& operator[](uint32_t i) noexcept { return data()[i]; }
    int32_t operator[](uint32_t i) const noexcept { return data()[i]; }
    int32_t* begin() noexcept { return data(); }
    int32_t* end() noexcept { return data() + size(); }
    const int32_t* begin() const noexcept { return data(); }
    const int32_t* end() const noexcept { return data() + size(); }

    void clear() noexcept {
        release();
        size_ = 0;
    }
    void reserve(uint32_t n) {
        if (n <= capacity()) return;
        if (n > kSizeBits) throw std::bad_alloc();
        int32_t* p = static_cast<int32_t*>(::operator new(sizeof(int32_t) * n));
        const uint32_t had = size();
        if (had) std::memcpy(p, data(), sizeof(int32_t) * had);
        release();
        std::memcpy(room_, &p, sizeof p);
        room_[2] = static_cast<int32_t>(n);
        size_ = had | kOnHeap;
    }
    void resize(uint32_t n) {
        if (n > capacity()) reserve(n);
        const uint32_t had = size();
        if (n > had) std::memset(data() + had, 0, sizeof(int32_t) * (n - had));
        size_ = (size_ & kOnHeap) | n;
    }
    void push_back(int32_t v) {
        const uint32_t had = size();
        if (had == capacity()) reserve(had * 2);
        data()[had] = v;
        ++size_;
    }
    void assign(const int32_t* src, uint32_t n) {
        if (n > capacity()) {
            size_ &= kOnHeap;
            reserve(n);
        }
        if (n) std::memmove(data(), src, sizeof(int32_t) * n);
        size_ = (size_ & kOnHeap) | n;
    }

    friend bool operator==(const TIndexList& a, const TIndexList& b) noexcept {
        const uint32_t n = a.size();
        return n == b.size() && (n == 0 || std::memcmp(a.data(), b.data(), sizeof(int32_t) * n) == 0);
    }

private:
    static constexpr uint32_t kOnHeap = uint32_t(1) << 31, kSizeBits = kOnHeap - 1;

    bool onHeap() const noexcept { return (size_ & kOnHeap) != 0; }
    int32_t* heap() const noexcept {
        int32_t* p;
        std::memcpy(&p, room_, sizeof p);
        return p;
    }
    uint32_t capacity() const noexcept { return onHeap() ? static_cast<uint32_t>(room_[2]) : kInline; }
    void release() noexcept {
        if (onHeap()) ::operator delete(heap());
        size_ &= kSizeBits;
    }
    void steal(TIndexList& o) noexcept {
        std::memcpy(room_, o.room_, sizeof room_);
        size_ = o.size_;
        o.size_ = 0;
    }

    // the entries while they fit; on the heap, the block's address (the first two) and
    // its capacity (the third)
    int32_t room_[kInline] = {};
    uint32_t size_;  // the count, with kOnHeap set while the entries are on the heap
};

static_assert(sizeof(TIndexList) == 20 && alignof(TIndexList) == 4, "TIndexList must stay compact");
static_assert(sizeof(int32_t*) <= 2 * sizeof(int32_t), "a heap address fits two inline entries");

}  // namespace kgl
