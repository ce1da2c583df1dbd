// Writes the checkerboard texture "checker.jpg" (CheckerImage) through libjpeg.
//   kgl_make_checker FILE [SIZE] [SQUARES]
// jpeglib.h needs size_t and FILE declared before it.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "image_decode.h"

#include <jpeglib.h>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: kgl_make_checker FILE [SIZE] [SQUARES]\n");
        return 2;
    }
    const int size = argc > 2 ? std::atoi(argv[2]) : 256;
    const int squares = argc > 3 ? std::atoi(argv[3]) : 8;
    if (size < 1 || size > 8192 || squares < 1 || squares > size) {
        std::fprintf(stderr, "kgl_make_checker: bad size or square count\n");
        return 2;
    }
    FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::fprintf(stderr, "kgl_make_checker: cannot write %s\n", argv[1]);
        return 1;
    }
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);  // on error libjpeg prints and exits: fine for a build tool
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = static_cast<JDIMENSION>(size);
    cinfo.image_height = static_cast<JDIMENSION>(size);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 92, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    // The image is bottom row first; JPEG scanlines run from the top.
    const kgl::TImage image = kgl::CheckerImage(size, squares);
    const size_t stride = image.pixels.size() / static_cast<size_t>(size);
    while (cinfo.next_scanline < cinfo.image_height) {
        const size_t row = static_cast<size_t>(size) - 1 - cinfo.next_scanline;
        JSAMPROW rows[1] = {const_cast<JSAMPLE*>(image.pixels.data() + row * stride)};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    const bool ok = std::ferror(out) == 0;
    return std::fclose(out) == 0 && ok ? 0 : 1;
}
