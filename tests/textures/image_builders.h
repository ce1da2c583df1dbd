#pragma once
// Test images built byte by byte (BMP, TGA) or encoded with libjpeg.
#include <cstdint>
#include <string>
#include <vector>

namespace kgl::test {

struct TRgb {
    uint8_t r, g, b;
};

struct TBmpSpec {
    int32_t width = 0;
    int32_t height = 0;  // positive: bottom row first in `rows`
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    int64_t sizeImage = -1;    // -1: the padded rows' size
    uint32_t clrUsed = 0;      // palette entries actually written
    uint32_t gap = 0;          // bytes between palette and pixels (bfOffBits counts them)
    std::vector<TRgb> pixels;  // width x |height|, in stored order
};
std::string BmpBytes(const TBmpSpec& layout);
inline TBmpSpec Bmp(int32_t width, int32_t height, std::vector<TRgb> pixels) {
    TBmpSpec layout;
    layout.width = width;
    layout.height = height;
    layout.pixels = std::move(pixels);
    return layout;
}

struct TTgaSpec {
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t imageType = 2;
    uint8_t colorMapType = 0;
    uint8_t bitsPerPixel = 24;
    uint8_t descriptor = 0;
    std::string imageId;       // written after the header, announced by byte 0
    std::vector<TRgb> pixels;  // in stored order; written blue, green, red
};
std::string TgaBytes(const TTgaSpec& layout);
inline TTgaSpec Tga(uint16_t width, uint16_t height, std::vector<TRgb> pixels) {
    TTgaSpec layout;
    layout.width = width;
    layout.height = height;
    layout.pixels = std::move(pixels);
    return layout;
}

// components 3: RGB samples; 1: grey; 4: CMYK written with the Adobe marker (so
// stored inverted, 255 = no ink). Rows top first. No chroma subsampling, quality 100.
std::string JpegBytes(int width, int height, int components, const std::vector<uint8_t>& samples);

}  // namespace kgl::test
