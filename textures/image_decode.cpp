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
