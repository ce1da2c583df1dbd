#include "image_builders.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>

namespace kgl::test {

namespace {

void Put16(std::string& s, uint32_t v) {
    s.push_back(char(v & 0xff));
    s.push_back(char((v >> 8) & 0xff));
}
void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xffff);
    Put16(s, v >> 16);
}

}  // namespace

std::string BmpBytes(const TBmpSpec& layout) {
    const int32_t h = layout.height < 0 ? -layout.height : layout.height;
    const uint32_t rowBytes = (uint32_t(layout.width) * 3 + 3) & ~3u;
    std::string pixels;
    for (int32_t r = 0; r < h; ++r) {
        for (int32_t k = 0; k < layout.width; ++k) {
            const TRgb& p = layout.pixels[size_t(r) * layout.width + k];
            pixels += {char(p.b), char(p.g), char(p.r)};
        }
        pixels.append(rowBytes - uint32_t(layout.width) * 3, '\0');
    }
    const uint32_t offBits = 54 + layout.clrUsed * 4 + layout.gap;
    std::string s = "BM";
    Put32(s, offBits + uint32_t(pixels.size()));
    Put32(s, 0);
    Put32(s, offBits);
    Put32(s, 40);
    Put32(s, uint32_t(layout.width));
    Put32(s, uint32_t(layout.height));
    Put16(s, 1);
    Put16(s, layout.bitCount);
    Put32(s, layout.compression);
    Put32(s, layout.sizeImage < 0 ? uint32_t(pixels.size()) : uint32_t(layout.sizeImage));
    Put32(s, 2835);
    Put32(s, 2835);
    Put32(s, layout.clrUsed);
    Put32(s, 0);
    s.append(layout.clrUsed * 4, '\x7f');
    s.append(layout.gap, '\x55');
    return s + pixels;
}

std::string TgaBytes(const TTgaSpec& layout) {
    std::string s;
    s.push_back(char(layout.imageId.size()));
    s.push_back(char(layout.colorMapType));
    s.push_back(char(layout.imageType));
    s.append(5, '\0');  // colour-map fields
    Put16(s, 0);
    Put16(s, 0);  // origin
    Put16(s, layout.width);
    Put16(s, layout.height);
    s.push_back(char(layout.bitsPerPixel));
    s.push_back(char(layout.descriptor));
    s += layout.imageId;
    for (const TRgb& p : layout.pixels) s += {char(p.b), char(p.g), char(p.r)};
    return s;
}

std::string JpegBytes(int width, int height, int components, const std::vector<uint8_t>& samples) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    if (components == 4) jpeg_set_colorspace(&cinfo, JCS_CMYK);  // writes the Adobe marker
    jpeg_set_quality(&cinfo, 100, TRUE);
    for (int c = 0; c < cinfo.num_components; ++c) {
        cinfo.comp_info[c].h_samp_factor = 1;
        cinfo.comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(samples.data() + size_t(cinfo.next_scanline) * width * components);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string bytes(reinterpret_cast<char*>(out), outSize);
    std::free(out);
    return bytes;
}

}  // namespace kgl::test
