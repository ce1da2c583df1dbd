#pragma once
// The arithmetic of colour-code picking and of the selection lists, kept apart from
// OpenGL so it can be tested without a context.
//
// Colour code: an unsigned 24-bit number; red is the low byte, green the next, blue
// the high byte. Code 0 is the black background of a pick image.
//   edge at position i of edges  -> code i + 1, index = code - 1
//   group g                      -> code g + 1, index = code - 1
//   face with running number n   -> code n,     index = code
// Running face number: faces are numbered 1, 2, ... through groups 0 .. gCount and
// faces 1 .. fCount of each, counting hidden faces too, so a reduction never
// renumbers a face. faceSel[0] belongs to no face.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "KGLModel.h"

namespace kgl {

constexpr uint32_t kCodeBackground = 0;
constexpr uint32_t kCodeMax = 0xFFFFFFu;  // more elements of one kind do not fit

// Pick modes: what a pick does to the chosen entry.
constexpr uint8_t kPickSelect = 0;
constexpr uint8_t kPickDeselect = 1;
constexpr uint8_t kPickToggle = 2;

using TRGB = std::array<uint8_t, 3>;

constexpr TRGB CodeToRGB(uint32_t code) {
    return {static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>((code >> 8) & 0xFF),
            static_cast<uint8_t>((code >> 16) & 0xFF)};
}
constexpr uint32_t RGBToCode(const TRGB& rgb) {
    return static_cast<uint32_t>(rgb[0]) | (static_cast<uint32_t>(rgb[1]) << 8) | (static_cast<uint32_t>(rgb[2]) << 16);
}

// Code drawn for an element, and the index a read-back code decodes to (-1 for the
// background of the edge and group picks).
constexpr uint32_t EdgeCode(int32_t i) { return static_cast<uint32_t>(i) + 1u; }
constexpr uint32_t GroupCode(int32_t g) { return static_cast<uint32_t>(g) + 1u; }
constexpr uint32_t FaceCode(int32_t n) { return static_cast<uint32_t>(n); }
constexpr int32_t EdgeIndexOfCode(uint32_t code) { return static_cast<int32_t>(code) - 1; }
constexpr int32_t GroupIndexOfCode(uint32_t code) { return static_cast<int32_t>(code) - 1; }
constexpr int32_t FaceIndexOfCode(uint32_t code) { return static_cast<int32_t>(code); }

// Whether a pick may change entry index of a list of listSize entries, for an element
// kind whose pickable indices run first .. last (edges 0 .. eCount, groups
// 0 .. gCount, faces 1 .. fCount). The index must lie below the list's highest index
// (listSize - 1) as well as in the model: a list sized count + 2 accepts exactly
// first .. last; a list left shorter or longer by a reload accepts only indices that
// are both in the model and below its own last entry.
constexpr bool PickIndexAccepted(int64_t index, int64_t first, int64_t last, size_t listSize) {
    return index >= first && index <= last && index < static_cast<int64_t>(listSize) - 1;
}

// A selection entry; an entry past the end of the list reads as false.
inline bool SelFlag(const std::vector<TBool>& list, int64_t index) {
    return index >= 0 && index < static_cast<int64_t>(list.size()) && list[static_cast<size_t>(index)] != 0;
}

// Applies a pick mode to one entry that PickIndexAccepted admitted.
inline void ApplyPickMode(std::vector<TBool>& list, size_t index, uint8_t mode) {
    switch (mode) {
        case kPickSelect:
            list[index] = 1;
            break;
        case kPickDeselect:
            list[index] = 0;
            break;
        case kPickToggle:
            list[index] = list[index] ? 0 : 1;
            break;
        default:
            break;  // any other mode changes nothing
    }
}

// Length a creating call gives a list: count + 2 entries (never negative, so a
// released model with counts of -1 gets one entry).
constexpr size_t SelectionLength(int32_t count) { return count + 2 < 0 ? 0 : static_cast<size_t>(count + 2); }

// Pick position (framebuffer pixels, origin top-left, y down) inside a viewport of
// width w and height h?
constexpr bool PickInside(int32_t x, int32_t y, int32_t w, int32_t h) { return x >= 0 && y >= 0 && x < w && y < h; }
// Row counted upwards from the bottom of the viewport that holds the pixel at
// y counted down from the top: h - 1 - y (the top row is h - 1).
constexpr int32_t PickRow(int32_t y, int32_t h) { return h - 1 - y; }

// Running number of face 1 of group g: 1 + the face slots of groups 0 .. g - 1.
// O(g); the drawing walks count incrementally instead.
inline int64_t FirstFaceNumber(const TKGLModel& model, int32_t g) {
    int64_t n = 1;
    for (int32_t k = 0; k < g && k < static_cast<int32_t>(model.groups.size()); ++k)
        if (model.groups[static_cast<size_t>(k)].fCount > 0) n += model.groups[static_cast<size_t>(k)].fCount;
    return n;
}

// The 32 x 32 polygon stipple of the face selection display, bottom row first as
// glPolygonStipple reads it: even rows AA AA AA AA, odd rows 55 55 55 55, a one-pixel
// checkerboard.
constexpr std::array<uint8_t, 128> MakeSelectionStipple() {
    std::array<uint8_t, 128> p{};
    for (size_t row = 0; row < 32; ++row)
        for (size_t b = 0; b < 4; ++b) p[row * 4 + b] = (row % 2 == 0) ? 0xAA : 0x55;
    return p;
}
inline constexpr std::array<uint8_t, 128> kSelectionStipple = MakeSelectionStipple();

}  // namespace kgl
