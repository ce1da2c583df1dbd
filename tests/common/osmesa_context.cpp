#include "osmesa_context.h"

#include <GL/osmesa.h>
#include <GL/glu.h>

#include <cstddef>

namespace kgl::test {

TOSMesaContext::TOSMesaContext(int width, int height)
    : buffer_(static_cast<std::size_t>(width) * height * 4), width_(width), height_(height) {
    OSMesaContext ctx = OSMesaCreateContextExt(OSMESA_RGBA, 24, 0, 0, nullptr);
    ctx_ = ctx;
    ok_ = ctx && OSMesaMakeCurrent(ctx, buffer_.data(), GL_UNSIGNED_BYTE, width, height);
    if (ok_) OSMesaPixelStore(OSMESA_Y_UP, 1);
}

TOSMesaContext::~TOSMesaContext() {
    // Mesa's llvmpipe can crash destroying a context with drawing still queued.
    if (ok_) glFinish();
    if (ctx_) OSMesaDestroyContext(static_cast<OSMesaContext>(ctx_));
}

std::vector<uint8_t> TOSMesaContext::pixel(int x, int y) const {
    std::vector<uint8_t> px(4, 0);
    glFinish();
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    return px;
}

void TOSMesaContext::setViewProjection() {
    glViewport(0, 0, width_, height_);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, static_cast<double>(width_) / height_, 1.0, 500.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

}  // namespace kgl::test
