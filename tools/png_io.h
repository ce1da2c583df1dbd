#pragma once
// PNG files for kglmodel render, kglmodel thumbnail and their tests, through libpng's
// simplified API: 8-bit RGB or RGBA pictures (straight alpha), top row first (as the
// file stores them).
#include <cstdint>
#include <string>
#include <vector>

namespace kgl {

struct TRgbPicture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;  // width x height x 3 bytes, top row first
};

struct TRgbaPicture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgba;  // width x height x 4 bytes, top row first
};

// Writes picture to path: into a file beside it, renamed over path once complete, so
// an existing file is replaced only by a whole picture and kept when anything fails.
// Throws EInOutError naming the file and the reason.
void WritePng(const std::string& path, const TRgbPicture& picture);
void WritePng(const std::string& path, const TRgbaPicture& picture);

// Reads any PNG libpng reads, converted to 8-bit RGB (alpha composed on black).
// False with a one-line reason when the file cannot be read or is not a PNG.
bool ReadPng(const std::string& path, TRgbPicture& picture, std::string& why);
// The same with its alpha (opaque where the file has none).
bool ReadPng(const std::string& path, TRgbaPicture& picture, std::string& why);

}  // namespace kgl
