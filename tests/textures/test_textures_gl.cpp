// Texture creation in an OSMesa context, read back with glGetTexImage.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <sys/wait.h>
#include <array>
#include <cstdio>

#include "Textures.h"
#include "image_builders.h"
#include "offscreen.h"
#include "test_support.h"

using namespace kgl;
using namespace kgl::test;

namespace {

class TextureGL : public ::testing::Test {
protected:
    TOffscreenContext gl{16, 16};
    TMessageRecorder messages;
    TTempDir dir;

    void SetUp() override { ASSERT_TRUE(gl.ok()); }

    // Level 0 of the bound texture as RGBA, rows bottom first.
    std::vector<uint8_t> TexImage(int& w, int& h) {
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
        std::vector<uint8_t> px(size_t(w) * h * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
        return px;
    }

    // Loading path must fail: no texture, texture name untouched, one message.
    void ExpectRefused(const std::string& path, const std::string& caption) {
        uint32_t texture = 77;
        size_t before = messages.count();
        EXPECT_FALSE(LoadTexture(path, texture, false)) << path;
        EXPECT_EQ(texture, 77u);
        ASSERT_EQ(messages.count(), before + 1) << path;
        EXPECT_EQ(messages.entries.back().caption, caption);
    }
};

std::string RunKglmodel(const std::string& args, int& status) {
    std::string out;
    FILE* p = popen((std::string(KGLMODEL_PATH) + " " + args + " 2>&1").c_str(), "r");
    if (!p) return out;
    std::array<char, 256> buf;
    while (size_t n = fread(buf.data(), 1, buf.size(), p)) out.append(buf.data(), n);
    int rc = pclose(p);
    status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

}  // namespace

TEST_F(TextureGL, TwoByTwoTgaGivesItsTexelsWithoutSkew) {
    // Rows of 6 bytes: with the default alignment of 4 the second row would skew.
    TTgaSpec layout = Tga(2, 2, {{30, 20, 10}, {1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
    WriteFile(dir.file("t.tga"), TgaBytes(layout));
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    uint32_t texture = 0;
    ASSERT_TRUE(LoadTexture(dir.file("t.tga"), texture, false));
    EXPECT_EQ(messages.count(), 0u);
    EXPECT_NE(texture, 0u);
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 8);  // the caller's setting is back
    int w = 0, h = 0;
    std::vector<uint8_t> px = TexImage(w, h);
    ASSERT_EQ(w, 2);
    ASSERT_EQ(h, 2);
    EXPECT_EQ(px, (std::vector<uint8_t>{30, 20, 10, 255, 1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255}));
}

TEST_F(TextureGL, BmpRedTexelAtTheOrigin) {
    TBmpSpec layout = Bmp(4, 4, std::vector<TRgb>(16, {0, 255, 0}));
    layout.pixels[0] = {255, 0, 0};
    WriteFile(dir.file("b.BMP"), BmpBytes(layout));
    uint32_t texture = 0;
    ASSERT_TRUE(LoadTexture(dir.file("b.BMP"), texture, false));
    int w = 0, h = 0;
    std::vector<uint8_t> px = TexImage(w, h);
    ASSERT_EQ(w, 4);
    EXPECT_EQ(px[0], 255);
    EXPECT_EQ(px[1], 0);
    EXPECT_EQ(px[2], 0);
    EXPECT_EQ(px[4], 0);
    EXPECT_EQ(px[5], 255);
    // Padded rows (2 pixels: 6 bytes + 2) come out right too.
    TBmpSpec padded = Bmp(2, 2, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}});
    WriteFile(dir.file("p.bmp"), BmpBytes(padded));
    ASSERT_TRUE(LoadBMPTexture(dir.file("p.bmp"), texture, false));
    px = TexImage(w, h);
    EXPECT_EQ(px, (std::vector<uint8_t>{1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12, 255}));
}

TEST_F(TextureGL, JpegBecomesAnRgbaTextureBottomRowFirst) {
    // 2 x 2: top row black, bottom row white.
    std::vector<uint8_t> grey = {0, 0, 255, 255};
    WriteFile(dir.file("checker.jpg"), JpegBytes(2, 2, 1, grey));
    uint32_t texture = 0;
    ASSERT_TRUE(LoadTexture(dir.file("checker.jpg"), texture, false));
    int w = 0, h = 0;
    std::vector<uint8_t> px = TexImage(w, h);
    ASSERT_EQ(w, 2);
    GLint internal = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &internal);
    EXPECT_EQ(internal, GL_RGBA);
    EXPECT_GT(px[0], 240);
    EXPECT_LT(px[8], 15);
    EXPECT_EQ(px[3], 255);
}

TEST_F(TextureGL, CreateTextureLeavesItBoundWithModulateAndLinearFilters) {
    const uint8_t pixels[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    uint32_t name = CreateTexture(2, 2, GL_RGBA, pixels);
    EXPECT_NE(name, 0u);
    GLint bound = 0, env = 0, minf = 0, magf = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &env);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minf);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magf);
    EXPECT_EQ(GLuint(bound), name);
    EXPECT_EQ(env, GL_MODULATE);
    EXPECT_EQ(minf, GL_LINEAR);
    EXPECT_EQ(magf, GL_LINEAR);
    int w = 0, h = 0;
    EXPECT_EQ(TexImage(w, h), std::vector<uint8_t>(pixels, pixels + 16));
    // The mipmap chain exists down to 1 x 1.
    GLint w1 = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &w1);
    EXPECT_EQ(w1, 1);
    // Any format but GL_RGBA means 3-byte texels.
    name = CreateTexture(1, 1, 0, pixels);
    EXPECT_EQ(TexImage(w, h), (std::vector<uint8_t>{1, 2, 3, 255}));
}

// Regression: LoadTexture used to report success whatever happened.
TEST_F(TextureGL, EveryRefusalShowsItsMessageAndMakesNoTexture) {
    TTgaSpec tga = Tga(2, 2, std::vector<TRgb>(4, {1, 2, 3}));
    TTgaSpec rle = tga;
    rle.imageType = 10;
    WriteFile(dir.file("rle.tga"), TgaBytes(rle));
    ExpectRefused(dir.file("rle.tga"), "TGA File Error");
    EXPECT_EQ(messages.lastText(),
              "Couldn't load \"" + dir.file("rle.tga") + "\". Compressed TGA files not supported.");
    TTgaSpec deep = tga;
    deep.bitsPerPixel = 32;
    WriteFile(dir.file("deep.tga"), TgaBytes(deep));
    ExpectRefused(dir.file("deep.tga"), "TGA File Error");
    ExpectRefused(dir.file("missing.tga"), "TGA Texture");
    EXPECT_EQ(messages.lastText(), "File not found  - " + dir.file("missing.tga"));

    TBmpSpec bmp = Bmp(2, 2, std::vector<TRgb>(4, {1, 2, 3}));
    bmp.bitCount = 8;
    WriteFile(dir.file("eight.bmp"), BmpBytes(bmp));
    ExpectRefused(dir.file("eight.bmp"), "BMP Unit");
    bmp.bitCount = 24;
    bmp.height = -2;
    WriteFile(dir.file("topdown.bmp"), BmpBytes(bmp));
    ExpectRefused(dir.file("topdown.bmp"), "BMP Unit");
    ExpectRefused(dir.file("missing.bmp"), "BMP Unit");
    EXPECT_EQ(messages.lastText(), "Error opening " + dir.file("missing.bmp"));

    WriteFile(dir.file("bad.jpg"), "not a jpeg");
    ExpectRefused(dir.file("bad.jpg"), "BMP Unit");
    EXPECT_EQ(messages.lastText(), "Couldn't load JPG - \"" + dir.file("bad.jpg") + "\"");
    ExpectRefused(dir.file("checker.jpg"), "BMP Unit");

    // No reader for the name: no texture, no message.
    WriteFile(dir.file("checker.jpeg"), JpegBytes(1, 1, 1, {0}));
    uint32_t texture = 77;
    EXPECT_FALSE(LoadTexture(dir.file("checker.jpeg"), texture, false));
    EXPECT_EQ(texture, 77u);
    EXPECT_EQ(messages.count(), 8u);
    GLint bound = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, 0);  // no texture object was ever made
}

TEST_F(TextureGL, TheResourceSourceFindsNothing) {
    uint32_t texture = 5;
    EXPECT_FALSE(LoadTexture("checker.jpg", texture, true));
    EXPECT_FALSE(LoadTexture("a.bmp", texture, true));
    EXPECT_FALSE(LoadTGATexture("a.tga", texture, true));
    EXPECT_EQ(texture, 5u);
    ASSERT_EQ(messages.count(), 3u);
    EXPECT_EQ(messages.entries[0].caption, "JPG Texture");
    EXPECT_EQ(messages.entries[0].text, "File not found in resource - checker.jpg");
    EXPECT_EQ(messages.entries[1].caption, "BMP Texture");
    EXPECT_EQ(messages.entries[2].caption, "TGA Texture");
    EXPECT_EQ(messages.entries[2].text, "File not found in resource - a.tga");
}

TEST(KglmodelImage, PrintsSizeChannelsAndTheBottomLeftTexel) {
    TTempDir dir;
    TTgaSpec layout = Tga(2, 2, std::vector<TRgb>(4, {30, 20, 10}));
    WriteFile(dir.file("t.tga"), TgaBytes(layout));
    int status = -1;
    EXPECT_EQ(RunKglmodel("image " + dir.file("t.tga"), status), "2 2 3\n30 20 10\n");
    EXPECT_EQ(status, 0);
    std::vector<uint8_t> rgb = {255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255};
    WriteFile(dir.file("j.JPG"), JpegBytes(2, 2, 3, rgb));
    std::string out = RunKglmodel("image " + dir.file("j.JPG"), status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out.substr(0, 6), "2 2 4\n");
    int r = -1, g = -1, b = -1;
    ASSERT_EQ(std::sscanf(out.c_str() + 6, "%d %d %d", &r, &g, &b), 3);
    EXPECT_LT(r, 30);  // bottom-left is blue
    EXPECT_GT(b, 220);
    TTgaSpec rle = layout;
    rle.imageType = 10;
    WriteFile(dir.file("r.tga"), TgaBytes(rle));
    EXPECT_EQ(RunKglmodel("image " + dir.file("r.tga"), status),
              "TGA File Error: Couldn't load \"" + dir.file("r.tga") + "\". Compressed TGA files not supported.\n");
    EXPECT_EQ(status, 1);
}
