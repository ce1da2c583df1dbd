// libpng's simplified API reports failures in png_image.message and never jumps
// through C++ frames, so no setjmp frame is needed here.
#include "png_io.h"

#include <png.h>

#include <cstring>

#include "errors.h"
#include "files.h"

namespace kgl {

void WritePng(const std::string& path, const TRgbPicture& picture) {
    const size_t expected = static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 3;
    if (picture.width < 1 || picture.height < 1 || picture.rgb.size() != expected)
        throw EInOutError("Cannot write file '" + path + "': the picture is empty or incomplete");
    TSafeFile file(path);
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    image.format = PNG_FORMAT_RGB;
    const int ok = png_image_write_to_stdio(&image, file.File(), 0, picture.rgb.data(),
                                            static_cast<png_int_32>(picture.width) * 3, nullptr);
    const std::string message = image.message;
    png_image_free(&image);
    if (!ok) throw EInOutError("Cannot write file '" + path + "': " + message);
    file.Commit();
}

bool ReadPng(const std::string& path, TRgbPicture& picture, std::string& why) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        why = path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    TRgbPicture read;
    read.width = static_cast<int32_t>(image.width);
    read.height = static_cast<int32_t>(image.height);
    read.rgb.resize(PNG_IMAGE_SIZE(image));
    png_color black{0, 0, 0};
    if (!png_image_finish_read(&image, &black, read.rgb.data(), 0, nullptr)) {
        why = path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    picture = std::move(read);
    return true;
}

}  // namespace kgl
