#pragma once
// An offscreen software OpenGL context of a known size (OSMesa): exact 8-bit RGBA
// read-back, 24-bit depth, no window, no display, no GPU. Current for its lifetime.
// Used by kglmodel render and by the display and texture tests.
#include <cstdint>
#include <vector>

namespace kgl {

class TOffscreenContext {
public:
    // A width x height buffer (both 1 or more); ok() says whether it was made current.
    TOffscreenContext(int width, int height);
    // Finishes the queued drawing first.
    ~TOffscreenContext();
    TOffscreenContext(const TOffscreenContext&) = delete;
    TOffscreenContext& operator=(const TOffscreenContext&) = delete;

    bool ok() const { return ok_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // RGBA of the pixel at column x, row y counted from the bottom (OpenGL's rows).
    std::vector<uint8_t> pixel(int x, int y) const;
    // The whole picture as RGB, width x 3 bytes a row, top row first (as image files
    // store it), after the drawing has finished.
    std::vector<uint8_t> rowsTopFirst() const;
    // Viewport on the whole buffer, the view's projection (SetFrameProjection) and an
    // identity model-view.
    void setViewProjection();

private:
    void* ctx_ = nullptr;
    std::vector<uint8_t> buffer_;
    int width_, height_;
    bool ok_ = false;
};

}  // namespace kgl
