#include "image_decode.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace kgl {

TImageReader ReaderForName(std::string_view fileName) {
    std::string_view tail = fileName.size() < 4 ? fileName : fileName.substr(fileName.size() - 4);
    std::string upper(tail);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (upper == ".BMP") return TImageReader::kBMP;
    if (upper == ".JPG") return TImageReader::kJPG;
    if (upper == ".TGA") return TImageReader::kTGA;
    return TImageReader::kNone;
}

TImage CheckerImage(int32_t size, int32_t squares) {
    TImage image;
    if (size < 1 || size > 8192 || squares < 1 || squares > size) return image;
    image.width = image.height = size;
    image.channels = 3;
    image.alignment = 4;
    const size_t stride = (static_cast<size_t>(size) * 3 + 3) / 4 * 4;
    image.pixels.assign(stride * static_cast<size_t>(size), 0);
    const int32_t side = size / squares;
    for (int32_t row = 0; row < size; ++row) {
        const int32_t y = size - 1 - row;  // counted from the top, as the JPEG file is written
        uint8_t* p = image.pixels.data() + stride * static_cast<size_t>(row);
        for (int32_t x = 0; x < size; ++x, p += 3) {
            const bool light = ((x / side) + (y / side)) % 2 == 0;
            p[0] = light ? 235 : 40;
            p[1] = light ? 225 : 70;
            p[2] = light ? 200 : 140;
        }
    }
    return image;
}

std::string JpgFailureMessage(const std::string& fileName) { return "Couldn't load JPG - \"" + fileName + "\""; }
std::string TgaNotFoundMessage(const std::string& fileName) { return "File not found  - " + fileName; }
std::string BmpOpenFailureMessage(const std::string& fileName) { return "Error opening " + fileName; }

namespace {

// The whole file in one read.
bool ReadWholeFile(const std::string& fileName, std::string& bytes) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(fileName, ec)) return false;
    std::uintmax_t size = std::filesystem::file_size(fileName, ec);
    if (ec) return false;
    std::FILE* f = std::fopen(fileName.c_str(), "rb");
    if (!f) return false;
    bool ok = true;
    try {
        bytes.resize(static_cast<size_t>(size));
    } catch (...) {
        ok = false;
    }
    if (ok && size > 0) ok = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
    std::fclose(f);
    return ok;
}

}  // namespace

bool DecodeImageFileAs(TImageReader reader, const std::string& fileName, TImage& image, TImageRefusal& refusal) {
    refusal = {};
    std::string bytes;
    switch (reader) {
        case TImageReader::kBMP:
            if (!ReadWholeFile(fileName, bytes)) {
                refusal = {kBmpCaption, BmpOpenFailureMessage(fileName)};
                return false;
            }
            return DecodeBMP(bytes, fileName, image, refusal);
        case TImageReader::kJPG:
            if (!ReadWholeFile(fileName, bytes)) {
                refusal = {kBmpCaption, JpgFailureMessage(fileName)};
                return false;
            }
            return DecodeJPG(bytes, fileName, image, refusal);
        case TImageReader::kTGA: {
            std::error_code ec;
            if (!std::filesystem::exists(fileName, ec)) {
                refusal = {kTgaTextureCaption, TgaNotFoundMessage(fileName)};
                return false;
            }
            // There but unreadable: the short-read message rather than an error thrown at the caller.
            if (!ReadWholeFile(fileName, bytes)) {
                refusal = {kTgaErrorCaption, "Couldn't read file \"" + fileName + "\"."};
                return false;
            }
            return DecodeTGA(bytes, fileName, image, refusal);
        }
        case TImageReader::kNone:
            break;
    }
    return false;
}

bool DecodeImageFile(const std::string& fileName, TImage& image, TImageRefusal& refusal) {
    return DecodeImageFileAs(ReaderForName(fileName), fileName, image, refusal);
}

}  // namespace kgl
