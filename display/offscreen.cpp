#include "offscreen.h"

#include <GL/osmesa.h>

#include <cstddef>
#include <cstring>

#include "KGLDisplay.h"

namespace kgl {

TOffscreenContext::TOffscreenContext(int width, int height)
    : buffer_(static_cast<std::size_t>(width) * height * 4), width_(width), height_(height) {
    OSMesaContext ctx = OSMesaCreateContextExt(OSMESA_RGBA, 24, 0, 0, nullptr);
    ctx_ = ctx;
    ok_ = ctx && OSMesaMakeCurrent(ctx, buffer_.data(), GL_UNSIGNED_BYTE, width, height);
    if (ok_) OSMesaPixelStore(OSMESA_Y_UP, 1);
}

TOffscreenContext::~TOffscreenContext() {
    // Mesa's llvmpipe can crash destroying a context with drawing still queued.
    if (ok_) glFinish();
    if (ctx_) OSMesaDestroyContext(static_cast<OSMesaContext>(ctx_));
}

std::vector<uint8_t> TOffscreenContext::pixel(int x, int y) const {
    std::vector<uint8_t> px(4, 0);
    glFinish();
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    return px;
}

std::vector<uint8_t> TOffscreenContext::rowsTopFirst() const {
    glFinish();
    // The buffer is the framebuffer itself, bottom row first (OSMESA_Y_UP).
    const std::size_t w = static_cast<std::size_t>(width_), h = static_cast<std::size_t>(height_);
    std::vector<uint8_t> rgb(w * h * 3);
    for (std::size_t row = 0; row < h; ++row) {
        const uint8_t* src = buffer_.data() + (h - 1 - row) * w * 4;
        uint8_t* dst = rgb.data() + row * w * 3;
        for (std::size_t x = 0; x < w; ++x, src += 4, dst += 3) std::memcpy(dst, src, 3);
    }
    return rgb;
}

void TOffscreenContext::setViewProjection() {
    SetFrameProjection(width_, height_);
    glLoadIdentity();
}

}  // namespace kgl
