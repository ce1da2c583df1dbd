// Writes the checkerboard texture "checker.jpg" through libjpeg.
//   kgl_make_checker FILE [SIZE] [SQUARES]
// jpeglib.h needs size_t and FILE declared before it.
#include <cstdio>
#include <cstdlib>
#include <vector>

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
    std::vector<unsigned char> row(static_cast<size_t>(size) * 3);
    const int side = size / squares > 0 ? size / squares : 1;
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        for (int x = 0; x < size; ++x) {
            const bool light = ((x / side) + (y / side)) % 2 == 0;
            unsigned char* p = &row[static_cast<size_t>(x) * 3];
            p[0] = light ? 235 : 40;
            p[1] = light ? 225 : 70;
            p[2] = light ? 200 : 140;
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    const bool ok = std::ferror(out) == 0;
    return std::fclose(out) == 0 && ok ? 0 : 1;
}
