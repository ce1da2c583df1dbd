#pragma once
// Numbering distinct values, tuples of N floats (or of N integers), in the order of first use: an
// open-addressing table over their bit patterns, one 8-byte slot per place and no node
// per entry, so that numbering n values takes time linear in n. A slot holds the upper
// half of its value's hash beside the number, so that a probe passes over the slot of
// another value without fetching that value: most of a weld's time was spent on such
// fetches, each a cache miss, when the values were many and mostly distinct.
//
// Contract:
//  - Add(value) returns the number (0-based) of the first equal value added before, or
//    the next number, keeping value, when there is none. Values() holds the kept values
//    in number order; Count() is their number.
//  - Equality is that of the numbers, component by component: -0 equals +0 (the first
//    one added is kept), and a value holding a NaN equals nothing, not even itself, so
//    it gets a number of its own every time. Integers are equal when they are.
//  - The table starts with room for `expected` values (or Reserve's) and doubles when
//    half full; the caller bounds the count (Add never refuses).
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "large_table.h"

namespace kgl {

template <size_t N, class T = float>
class TWeld {
    static_assert(sizeof(T) == 4, "the key holds 32 bits a component");

public:
    using TValue = std::array<T, N>;

    explicit TWeld(size_t expected = 0) { Reserve(expected); }

    // Room for `expected` values in all, the table widened at once if need be.
    void Reserve(size_t expected) {
        ReserveGrowing(values_, expected);
        size_t capacity = 16;
        while (capacity < 2 * expected) capacity <<= 1;
        if (capacity <= slots_.size()) return;
        if (values_.empty()) {
            slots_.assign(capacity, 0);
            return;
        }
        while (slots_.size() < capacity) Grow();
    }

    uint32_t Add(const TValue& value) {
        uint64_t hash;
        return KeyOf(value, hash) ? AddHashed(value, hash) : Keep(value);
    }

    // numbers[i] = Add(value(i)) for i = 0 .. n - 1, in that order; or, with repeat r,
    // numbers[r * i] .. numbers[r * i + r - 1] all take that number (a facet's corners,
    // of its one normal). The places of the values a few steps ahead are fetched while
    // the present one is placed, so that a table larger than the caches costs little
    // more than one that fits. A value equal to one of the `recent` values just before it
    // (at most kRecent) takes that one's number without a look-up: 1 for a run of equal
    // values, more for the corners consecutive facets share. Each one looked back at
    // costs a comparison for every new value, so the caller says how far it pays.
    static constexpr size_t kRecent = 6;  // two triangles' corners
    template <class Get>
    void AddMany(size_t n, Get&& value, uint32_t* numbers, size_t recent = 1, uint32_t repeat = 1) {
        constexpr size_t kAhead = 16;
        static_assert(kRecent < kAhead, "the recent values are still in the ring");
        recent = std::min(recent, kRecent);
        struct TPending {
            TValue value;
            uint64_t hash;
            bool keyed;
            uint8_t back;  // d when equal to value i - d (1 <= d <= recent), else 0
        } ahead[kAhead];
        auto fetch = [&](size_t i) {
            TPending& p = ahead[i % kAhead];
            p.value = value(i);
            p.back = 0;
            for (size_t d = 1; d <= recent && d <= i; ++d)
                if (Equal(ahead[(i - d) % kAhead].value, p.value)) {
                    p.back = static_cast<uint8_t>(d);
                    return;
                }
            p.keyed = KeyOf(p.value, p.hash);
            if (p.keyed) __builtin_prefetch(&slots_[p.hash & (slots_.size() - 1)]);
        };
        for (size_t i = 0; i < n && i < kAhead; ++i) fetch(i);
        for (size_t i = 0; i < n; ++i) {
            const TPending p = ahead[i % kAhead];
            if (i + kAhead < n) fetch(i + kAhead);
            uint32_t number;
            if (p.back)
                number = numbers[repeat * (i - p.back)];
            else
                number = p.keyed ? AddHashed(p.value, p.hash) : Keep(p.value);
            for (uint32_t j = 0; j < repeat; ++j) numbers[repeat * i + j] = number;
        }
    }

    // Gives back the places, keeping the values: the weld then takes no more.
    void DropPlaces() { TLargeTable<uint64_t>().swap(slots_); }

    size_t Count() const { return values_.size(); }
    const TLargeTable<TValue>& Values() const { return values_; }

private:
    uint32_t Keep(const TValue& value) {
        values_.push_back(value);
        return static_cast<uint32_t>(values_.size() - 1);
    }

    static bool Equal(const TValue& a, const TValue& b) {
        for (size_t i = 0; i < N; ++i)
            if (a[i] != b[i]) return false;
        return true;
    }

    // The key of a value: each component's bits (-0 as +0) in one word, through the
    // splitmix64 finaliser; false for a value with a NaN, which equals nothing.
    static bool KeyOf(const TValue& value, uint64_t& hash) {
        uint64_t key = 0;
        for (size_t i = 0; i < N; ++i) {
            uint32_t bits = std::bit_cast<uint32_t>(value[i]);
            if constexpr (std::is_floating_point_v<T>) {
                if ((bits << 1) > 0xFF000000u) return false;
                if ((bits << 1) == 0) bits = 0;
            }
            key ^= i % 2 == 0 ? uint64_t(bits) << 32 : bits;
            if (i >= 2) key += bits * 0x9E3779B97F4A7C15ull;
        }
        key ^= key >> 30;
        key *= 0xBF58476D1CE4E5B9ull;
        key ^= key >> 27;
        key *= 0x94D049BB133111EBull;
        hash = key ^ (key >> 31);
        return true;
    }

    uint32_t AddHashed(const TValue& value, uint64_t hash) {
        const size_t mask = slots_.size() - 1;
        uint64_t* const slots = slots_.data();
        const TValue* const values = values_.data();
        const uint64_t tag = hash & kTagBits;
        for (size_t at = hash & mask;; at = (at + 1) & mask) {
            const uint64_t slot = slots[at];
            if (slot == 0) {
                const uint32_t number = Keep(value);
                slots[at] = tag | (number + 1);
                if (2 * values_.size() > slots_.size()) Grow();
                return number;
            }
            if ((slot & kTagBits) == tag && Equal(values[uint32_t(slot) - 1], value)) return uint32_t(slot) - 1;
        }
    }

    // Twice the places, every kept value that has a slot (NaNs have none) placed again.
    void Grow() {
        TLargeTable<uint64_t> old(slots_.size() * 2, 0);
        old.swap(slots_);
        for (const uint64_t slot : old) {
            if (slot == 0) continue;
            const size_t mask = slots_.size() - 1;
            uint64_t hash = 0;
            KeyOf(values_[uint32_t(slot) - 1], hash);
            size_t at = hash & mask;
            while (slots_[at] != 0) at = (at + 1) & mask;
            slots_[at] = slot;
        }
    }

    // 0 empty, else the upper half of the value's hash (the lower half places it) and its number + 1
    static constexpr uint64_t kTagBits = 0xFFFFFFFF00000000ull;
    TLargeTable<uint64_t> slots_;
    TLargeTable<TValue> values_;
};

}  // namespace kgl
