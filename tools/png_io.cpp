// libpng's simplified API reports failures in png_image.message and never jumps
// through C++ frames, so no setjmp frame is needed here.
#include "png_io.h"

#include <png.h>

#include <cstring>

#include "errors.h"
#include "files.h"

namespace kgl {

namespace {

void Write(const std::string& path, int32_t width, int32_t height, const std::vector<uint8_t>& bytes,
           uint32_t channels) {
    const size_t expected = static_cast<size_t>(width) * static_cast<size_t>(height) * channels;
    if (width < 1 || height < 1 || bytes.size() != expected)
        throw EInOutError("Cannot write file '" + path + "': the picture is empty or incomplete");
    TSafeFile file(path);
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    const int ok = png_image_write_to_stdio(&image, file.File(), 0, bytes.data(),
                                            static_cast<png_int_32>(width * channels), nullptr);
    const std::string message = image.message;
    png_image_free(&image);
    if (!ok) throw EInOutError("Cannot write file '" + path + "': " + message);
    file.Commit();
}

bool Read(const std::string& path, uint32_t format, int32_t& width, int32_t& height, std::vector<uint8_t>& bytes,
          std::string& why) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        why = path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    image.format = format;
    std::vector<uint8_t> read(PNG_IMAGE_SIZE(image));
    png_color black{0, 0, 0};
    if (!png_image_finish_read(&image, &black, read.data(), 0, nullptr)) {
        why = path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    width = static_cast<int32_t>(image.width);
    height = static_cast<int32_t>(image.height);
    bytes = std::move(read);
    return true;
}

}  // namespace

void WritePng(const std::string& path, const TRgbPicture& picture) {
    Write(path, picture.width, picture.height, picture.rgb, 3);
}

void WritePng(const std::string& path, const TRgbaPicture& picture) {
    Write(path, picture.width, picture.height, picture.rgba, 4);
}

bool ReadPng(const std::string& path, TRgbPicture& picture, std::string& why) {
    return Read(path, PNG_FORMAT_RGB, picture.width, picture.height, picture.rgb, why);
}

bool ReadPng(const std::string& path, TRgbaPicture& picture, std::string& why) {
    return Read(path, PNG_FORMAT_RGBA, picture.width, picture.height, picture.rgba, why);
}

}  // namespace kgl
