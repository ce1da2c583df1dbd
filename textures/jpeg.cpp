// The JPEG reader on libjpeg. libjpeg reports a fatal error by calling error_exit,
// which must not return; it jumps back to DecodeJpegFrame, a frame that holds no
// C++ object, so nothing is skipped that needed destroying. The C++ side only
// provides the output buffer through a callback that cannot throw.
#include <csetjmp>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include "image_decode.h"

namespace kgl {

namespace {

struct TJpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<TJpegError*>(cinfo->err)->jump, 1);
}

// A truncated file is a failure, not a texture half filled with grey: the data may
// end with the file (EOF) or at a marker before the image is complete (a header that
// claims more pixels than the data holds). Other warnings (stray bytes between
// markers, say) leave a usable image.
void JpegEmitMessage(j_common_ptr cinfo, int level) {
    if (level < 0 && (cinfo->err->msg_code == JWRN_JPEG_EOF || cinfo->err->msg_code == JWRN_HIT_MARKER))
        JpegErrorExit(cinfo);
}

void JpegOutputMessage(j_common_ptr) {}

// Plain data shared with the C-style frame.
struct TJpegJob {
    const unsigned char* data;
    unsigned long size;
    uint8_t* (*allocate)(void* owner, size_t bytes);  // nullptr when it could not
    void* owner;
    int width;
    int height;
};

uint8_t Scale255(unsigned a, unsigned b) { return static_cast<uint8_t>((a * b + 127) / 255); }

// Writes the decoded image as red, green, blue, 255, bottom row first. Returns 1 on
// success, 0 on any failure. Only trivially destructible locals live here.
int DecodeJpegFrame(TJpegJob* job) {
    jpeg_decompress_struct cinfo;
    TJpegError err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = JpegErrorExit;
    err.pub.emit_message = JpegEmitMessage;
    err.pub.output_message = JpegOutputMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return 0;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, job->data, job->size);
    jpeg_read_header(&cinfo, TRUE);
    // Before libjpeg sizes anything: a progressive image makes it allocate and clear
    // whole-image coefficient buffers in jpeg_start_decompress.
    if (uint64_t(cinfo.image_width) * cinfo.image_height > kMaxJpegPixels) {
        jpeg_destroy_decompress(&cinfo);
        return 0;
    }

    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    // Adobe writes CMYK inverted (0 is full ink); others store it plainly.
    const bool inverted = cmyk && cinfo.saw_Adobe_marker;
    if (cmyk)
        cinfo.out_color_space = JCS_CMYK;
    else if (cinfo.jpeg_color_space == JCS_GRAYSCALE)
        cinfo.out_color_space = JCS_GRAYSCALE;
    else
        cinfo.out_color_space = JCS_RGB;
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1;
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = TRUE;
    jpeg_start_decompress(&cinfo);

    const unsigned w = cinfo.output_width;
    const unsigned h = cinfo.output_height;
    const int comps = cinfo.output_components;
    uint8_t* out = nullptr;
    if (w == 0 || h == 0 || uint64_t(w) * h > kMaxJpegPixels || !(out = job->allocate(job->owner, size_t(w) * h * 4))) {
        jpeg_destroy_decompress(&cinfo);
        return 0;
    }
    // libjpeg's own pool: released by jpeg_destroy_decompress on every path.
    JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                w * static_cast<unsigned>(comps), 1);
    while (cinfo.output_scanline < h) {
        const unsigned line = cinfo.output_scanline;
        if (jpeg_read_scanlines(&cinfo, row, 1) != 1) JpegErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
        const JSAMPLE* in = row[0];
        uint8_t* px = out + size_t(h - 1 - line) * w * 4;
        for (unsigned k = 0; k < w; ++k, px += 4) {
            if (comps == 1) {
                px[0] = px[1] = px[2] = in[k];
            } else if (comps == 4) {
                unsigned c = in[4 * k], m = in[4 * k + 1], y = in[4 * k + 2], kk = in[4 * k + 3];
                if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, kk = 255 - kk;
                // Now 255 means no ink: red = (1 - C)(1 - K), and so on.
                px[0] = Scale255(c, kk);
                px[1] = Scale255(m, kk);
                px[2] = Scale255(y, kk);
            } else {
                px[0] = in[3 * k];
                px[1] = in[3 * k + 1];
                px[2] = in[3 * k + 2];
            }
            px[3] = 255;
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    job->width = static_cast<int>(w);
    job->height = static_cast<int>(h);
    return 1;
}

uint8_t* AllocatePixels(void* owner, size_t bytes) {
    try {
        auto* pixels = static_cast<std::vector<uint8_t>*>(owner);
        pixels->resize(bytes);
        return pixels->data();
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

bool DecodeJPG(std::string_view bytes, const std::string& fileName, TImage& image, TImageRefusal& refusal) {
    std::vector<uint8_t> pixels;
    TJpegJob job{reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()),
                 &AllocatePixels,
                 &pixels,
                 0,
                 0};
    if (bytes.empty() || !DecodeJpegFrame(&job)) {
        refusal.caption = kBmpCaption;
        refusal.message = JpgFailureMessage(fileName);
        return false;
    }
    image.width = job.width;
    image.height = job.height;
    image.channels = 4;
    image.alignment = 4;
    image.pixels = std::move(pixels);
    return true;
}

}  // namespace kgl
