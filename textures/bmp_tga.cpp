// The BMP and TGA readers: both are a fixed header and raw blue-green-red rows.
#include <algorithm>
#include <cstring>

#include "image_decode.h"

namespace kgl {

namespace {

uint16_t U16(std::string_view b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8));
}
uint32_t U32(std::string_view b, size_t at) {
    return static_cast<uint32_t>(U16(b, at)) | (static_cast<uint32_t>(U16(b, at + 2)) << 16);
}

std::string CouldntLoad(const std::string& fileName, const char* why) {
    return "Couldn't load \"" + fileName + "\". " + why;
}

// Exchanges bytes 0 and 2 of each 3-byte pixel of one row.
void SwapRedBlue(uint8_t* row, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i) std::swap(row[3 * i], row[3 * i + 2]);
}

bool Refuse(TImageRefusal& refusal, const char* caption, std::string message) {
    refusal.caption = caption;
    refusal.message = std::move(message);
    return false;
}

constexpr size_t kBmpFileHeader = 14;
constexpr size_t kBmpInfoHeader = 40;
constexpr int64_t kMaxSide = 65535;

}  // namespace

bool DecodeBMP(std::string_view bytes, const std::string& fileName, TImage& image, TImageRefusal& refusal) {
    constexpr size_t kHeaders = kBmpFileHeader + kBmpInfoHeader;
    if (bytes.size() < kHeaders) return Refuse(refusal, kBmpCaption, "Error reading bitmap header");
    const uint32_t offBits = U32(bytes, 10);
    const size_t info = kBmpFileHeader;
    const int32_t width = static_cast<int32_t>(U32(bytes, info + 4));
    const int32_t height = static_cast<int32_t>(U32(bytes, info + 8));
    const uint16_t bitCount = U16(bytes, info + 14);
    const uint32_t compression = U32(bytes, info + 16);
    const uint32_t sizeImage = U32(bytes, info + 20);
    const uint32_t clrUsed = U32(bytes, info + 32);

    // The palette is never used, but a file announcing more than it holds is damaged.
    if (kHeaders + uint64_t(clrUsed) * 4 > bytes.size()) return Refuse(refusal, kBmpCaption, "Error reading palette");
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide)
        return Refuse(
            refusal, kBmpCaption,
            CouldntLoad(fileName, "Width and height must be 1 to 65535 pixels (top-down bitmaps are not supported)."));
    if (bitCount != 24) return Refuse(refusal, kBmpCaption, CouldntLoad(fileName, "Only 24 bit BMP files supported."));
    if (compression != 0)
        return Refuse(refusal, kBmpCaption, CouldntLoad(fileName, "Compressed BMP files not supported."));

    // Rows are padded to 4 bytes; OpenGL's default unpack alignment reads them so.
    const uint64_t rowBytes = (uint64_t(width) * 3 + 3) & ~uint64_t(3);
    const uint64_t need = rowBytes * uint64_t(height);
    if (sizeImage != 0 && sizeImage < need)
        return Refuse(refusal, kBmpCaption, CouldntLoad(fileName, "Bitmap data size is smaller than its rows."));
    // The file must hold all it announces (biSizeImage, or the rows when that is 0);
    // only the rows are used.
    const uint64_t announced = sizeImage != 0 ? sizeImage : need;
    if (offBits < kHeaders || uint64_t(offBits) + announced > bytes.size())
        return Refuse(refusal, kBmpCaption, "Error reading bitmap data");

    image.width = width;
    image.height = height;
    image.channels = 3;
    image.alignment = 4;
    image.pixels.assign(bytes.begin() + offBits, bytes.begin() + offBits + static_cast<size_t>(need));
    for (int32_t r = 0; r < height; ++r) SwapRedBlue(image.pixels.data() + size_t(r) * rowBytes, size_t(width));
    return true;
}

bool DecodeTGA(std::string_view bytes, const std::string& fileName, TImage& image, TImageRefusal& refusal) {
    const std::string shortRead = "Couldn't read file \"" + fileName + "\".";
    constexpr size_t kHeader = 18;
    if (bytes.size() < kHeader) return Refuse(refusal, kTgaErrorCaption, shortRead);
    const uint8_t idLength = static_cast<uint8_t>(bytes[0]);
    const uint8_t colorMapType = static_cast<uint8_t>(bytes[1]);
    const uint8_t imageType = static_cast<uint8_t>(bytes[2]);
    const int32_t width = U16(bytes, 12);
    const int32_t height = U16(bytes, 14);
    const uint8_t bitsPerPixel = static_cast<uint8_t>(bytes[16]);
    const uint8_t descriptor = static_cast<uint8_t>(bytes[17]);

    if (imageType != 2)
        return Refuse(refusal, kTgaErrorCaption, CouldntLoad(fileName, "Compressed TGA files not supported."));
    if (colorMapType != 0)
        return Refuse(refusal, kTgaErrorCaption, CouldntLoad(fileName, "Colormapped TGA files not supported."));
    if (bitsPerPixel != 24)
        return Refuse(refusal, kTgaErrorCaption, CouldntLoad(fileName, "Only 24 bit TGA files supported."));
    if (width == 0 || height == 0)
        return Refuse(refusal, kTgaErrorCaption, CouldntLoad(fileName, "Width and height must be at least 1 pixel."));

    // Sides are 16-bit, so this cannot overflow; a size beyond the file is refused before allocating.
    const size_t rowBytes = size_t(width) * 3;
    const size_t need = rowBytes * size_t(height);
    const size_t start = kHeader + idLength;
    if (start > bytes.size() || bytes.size() - start < need) return Refuse(refusal, kTgaErrorCaption, shortRead);

    image.width = width;
    image.height = height;
    image.channels = 3;
    image.alignment = 1;  // TGA rows are not padded
    image.pixels.resize(need);
    const bool topLeftOrigin = (descriptor & 0x20) != 0;
    for (int32_t r = 0; r < height; ++r) {
        const int32_t from = topLeftOrigin ? height - 1 - r : r;
        uint8_t* row = image.pixels.data() + size_t(r) * rowBytes;
        std::memcpy(row, bytes.data() + start + size_t(from) * rowBytes, rowBytes);
        SwapRedBlue(row, size_t(width));
    }
    return true;
}

}  // namespace kgl
