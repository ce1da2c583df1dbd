#pragma once
// Pure image decoding for the texture loader: no GL, no toolkit.
#include <cstdint>
#include <string>
#include <vector>

namespace kgl {

struct TImage {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;          // 3 (RGB) or 4 (RGBA)
    std::vector<uint8_t> pixels;   // bottom row first, as handed to OpenGL
};

struct TImageRefusal {
    std::string caption;  // "BMP Unit", "TGA File Error", ...
    std::string message;
};

// Decodes fileName with the reader its extension names (the LoadTexture rule).
// False with the reader's caption and message when it refuses or no reader applies
// (then caption and message are empty).
bool DecodeImageFile(const std::string& fileName, TImage& image, TImageRefusal& refusal);

}  // namespace kgl
