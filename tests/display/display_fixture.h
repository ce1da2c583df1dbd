#pragma once
// Hand-built models (model_builder.h) and a pixel-exact GL context for the display
// tests. The projection is an orthographic one that maps model x, y straight onto
// framebuffer pixels (pixel centres at .5), with larger z nearer the viewer.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <vector>

#include "KGLDisplay.h"
#include "KGLModel.h"
#include "model_builder.h"
#include "offscreen.h"

namespace kgl::test {

constexpr int kW = 64;
constexpr int kH = 48;
using TPixel = std::array<uint8_t, 3>;

class DisplayTest : public ::testing::Test {
protected:
    DisplayTest() : ctx(kW, kH) {}
    void SetUp() override {
        ASSERT_TRUE(ctx.ok());
        glViewport(0, 0, kW, kH);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, kW, 0, kH, -10, 10);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LESS);
        glDisable(GL_DITHER);
        ClearTo(0, 0, 0);
        glColor4f(1, 1, 1, 1);
    }
    // Mesa's software rasteriser may still hold queued work; destroying the context
    // under it crashes, so every test ends with the drawing finished.
    void TearDown() override { glFinish(); }
    void ClearTo(float r, float g, float b) {
        glClearColor(r, g, b, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    // Pixel at column x, row y counted from the bottom.
    TPixel At(int x, int y) const {
        auto p = ctx.pixel(x, y);
        return {p[0], p[1], p[2]};
    }
    // Pixel at column x, row y counted from the top, as a pick position names it.
    TPixel AtTop(int x, int y) const { return At(x, kH - 1 - y); }
    static TPixel Bytes(const TColor& c) {
        auto b = [](float f) { return static_cast<uint8_t>(std::lround(static_cast<double>(f) * 255.0)); };
        return {b(c[0]), b(c[1]), b(c[2])};
    }

    TOffscreenContext ctx;
    static constexpr TPixel kBlack{0, 0, 0};
    static constexpr TPixel kWhite{255, 255, 255};
};

}  // namespace kgl::test
