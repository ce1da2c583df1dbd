#pragma once
// TIndexList: the per-corner index list of a face (vIdx, tIdx, nIdx).
//
// A face has three such lists and a model may have millions of faces, so the
// list keeps up to kInline entries inside itself and only longer lists (faces
// of five or more corners) go to the heap. 24 bytes, the size of a std::vector,
// without the per-list allocation.
//
// Contract: entries are int32_t, indexed 0 .. size()-1; resize() fills new
// entries with 0; operator[] is unchecked (callers check against size()).
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <new>

namespace kgl {

class TIndexList {
public:
    static constexpr uint32_t kInline = 4;

    TIndexList() noexcept : size_(0), cap_(kInline) {}
    TIndexList(std::initializer_list<int32_t> init) : TIndexList() {
        reserve(static_cast<uint32_t>(init.size()));
        for (int32_t v : init) push_back(v);
    }
    TIndexList(const TIndexList& o) : TIndexList() { assign(o.data(), o.size_); }
    TIndexList(TIndexList&& o) noexcept : TIndexList() { steal(o); }
    TIndexList& operator=(const TIndexList& o) {
        if (this != &o) assign(o.data(), o.size_);
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

    uint32_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    int32_t* data() noexcept { return onHeap() ? u_.heap : u_.inl; }
    const int32_t* data() const noexcept { return onHeap() ? u_.heap : u_.inl; }
    int32_t& operator[](uint32_t i) noexcept { return data()[i]; }
    int32_t operator[](uint32_t i) const noexcept { return data()[i]; }
    int32_t* begin() noexcept { return data(); }
    int32_t* end() noexcept { return data() + size_; }
    const int32_t* begin() const noexcept { return data(); }
    const int32_t* end() const noexcept { return data() + size_; }

    void clear() noexcept {
        release();
        size_ = 0;
        cap_ = kInline;
    }
    void reserve(uint32_t n) {
        if (n <= cap_) return;
        int32_t* p = static_cast<int32_t*>(::operator new(sizeof(int32_t) * n));
        if (size_) std::memcpy(p, data(), sizeof(int32_t) * size_);
        release();
        u_.heap = p;
        cap_ = n;
    }
    void resize(uint32_t n) {
        if (n > cap_) reserve(n);
        if (n > size_) std::memset(data() + size_, 0, sizeof(int32_t) * (n - size_));
        size_ = n;
    }
    void push_back(int32_t v) {
        if (size_ == cap_) reserve(cap_ * 2);
        data()[size_++] = v;
    }
    void assign(const int32_t* src, uint32_t n) {
        if (n > cap_) {
            size_ = 0;
            reserve(n);
        }
        if (n) std::memmove(data(), src, sizeof(int32_t) * n);
        size_ = n;
    }

    friend bool operator==(const TIndexList& a, const TIndexList& b) noexcept {
        return a.size_ == b.size_ && (a.size_ == 0 || std::memcmp(a.data(), b.data(), sizeof(int32_t) * a.size_) == 0);
    }

private:
    bool onHeap() const noexcept { return cap_ > kInline; }
    void release() noexcept {
        if (onHeap()) ::operator delete(u_.heap);
        cap_ = kInline;
    }
    void steal(TIndexList& o) noexcept {
        size_ = o.size_;
        cap_ = o.cap_;
        if (o.onHeap()) {
            u_.heap = o.u_.heap;
        } else {
            std::memcpy(u_.inl, o.u_.inl, sizeof(u_.inl));
        }
        o.size_ = 0;
        o.cap_ = kInline;
    }

    union {
        int32_t inl[kInline];
        int32_t* heap;
    } u_{};
    uint32_t size_;
    uint32_t cap_;
};

static_assert(sizeof(TIndexList) == 24, "TIndexList must stay compact");

}  // namespace kgl
