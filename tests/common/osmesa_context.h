#pragma once
// An offscreen software OpenGL context of known size for display and texture tests:
// exact 8-bit RGBA read-back, 24-bit depth, no window. Current for its lifetime.
#include <cstdint>
#include <vector>

namespace kgl::test {

class TOSMesaContext {
public:
    TOSMesaContext(int width, int height);
    ~TOSMesaContext();
    TOSMesaContext(const TOSMesaContext&) = delete;
    TOSMesaContext& operator=(const TOSMesaContext&) = delete;

    bool ok() const { return ok_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // RGBA of the pixel at column x, row y counted from the bottom (OpenGL's rows).
    std::vector<uint8_t> pixel(int x, int y) const;
    // Sets viewport to the whole buffer and a gluPerspective(45, w/h, 1, 500)
    // projection, as the view does, and an identity model-view.
    void setViewProjection();

private:
    void* ctx_ = nullptr;
    std::vector<uint8_t> buffer_;
    int width_, height_;
    bool ok_ = false;
};

}  // namespace kgl::test
