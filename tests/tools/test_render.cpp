// kglmodel render driven as a program on generated and bundled models, its PNG read
// back; and the same frame drawn here as the window draws it, compared pixel for pixel.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "KGLDisplay.h"
#include "KGLModel.h"
#include "Textures.h"
#include "image_builders.h"
#include "offscreen.h"
#include "png_io.h"
#include "test_support.h"
#include "thumbnail.h"

#ifndef KGLMODEL_PATH
#error "KGLMODEL_PATH must name the built kglmodel"
#endif

using namespace kgl;
using namespace kgl::test;

namespace {

using TPixel = std::array<uint8_t, 3>;

// The bundled samples and checker.jpg, laid beside the programs by the build.
std::string BinFile(const std::string& name) {
    return (std::filesystem::path(KGLMODEL_PATH).parent_path() / name).string();
}

TPixel At(const TRgbPicture& p, int x, int yFromTop) {
    const size_t i = (static_cast<size_t>(yFromTop) * static_cast<size_t>(p.width) + static_cast<size_t>(x)) * 3;
    return {p.rgb[i], p.rgb[i + 1], p.rgb[i + 2]};
}

size_t CountPixels(const TRgbPicture& p, bool (*match)(const TPixel&)) {
    size_t n = 0;
    for (size_t i = 0; i + 2 < p.rgb.size(); i += 3) n += match({p.rgb[i], p.rgb[i + 1], p.rgb[i + 2]});
    return n;
}

// wireColor (1, 0.82, 0) as the framebuffer holds it: the outline's lines are drawn
// over the model at the model's depth, most of their pixels in the full colour.
constexpr TPixel kOutline{255, 209, 0};
bool IsOutline(const TPixel& c) { return c == kOutline; }
// The boxes' thin smoothed lines in unselColor (0.7 grey) cover a pixel only in part:
// a neutral grey brighter than the axes' half-transparent halo can be.
bool IsBox(const TPixel& c) { return c[0] == c[1] && c[1] == c[2] && c[0] >= 100; }

class Render : public ::testing::Test {
protected:
    // Runs kglmodel render MODEL out.png ARGS and reads the picture back.
    TRgbPicture Picture(const std::string& model, const std::string& args = "") {
        last = RunProgram(KGLMODEL_PATH, "render " + Quote(model) + " " + Quote(out()) + " " + args, dir);
        EXPECT_EQ(last.status, 0) << last.err;
        TRgbPicture p;
        std::string why;
        EXPECT_TRUE(ReadPng(out(), p, why)) << why;
        return p;
    }
    std::string out() const { return dir.file("out.png"); }
    TTempDir dir;
    TRun last;
};

TEST_F(Render, SizeAndBlackCorners) {
    for (const auto& [args, w, h] : {std::tuple<std::string, int, int>{"", 640, 480},
                                     {"--size 320x240", 320, 240},
                                     {"--size 1x1", 1, 1},
                                     {"--size 8192x2", 8192, 2}}) {
        const TRgbPicture p = Picture(BinFile("obj/cube.obj"), args);
        ASSERT_EQ(p.width, w) << args;
        ASSERT_EQ(p.height, h) << args;
        if (w < 8) continue;
        for (const auto& [x, y] : {std::pair{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}})
            EXPECT_EQ(At(p, x, y), (TPixel{0, 0, 0})) << args << " at " << x << "," << y;
    }
}

TEST_F(Render, CubeCentreIsTexturedAndUntexturedWithAnUnreadableTexture) {
    TRgbPicture p = Picture(BinFile("obj/cube.obj"), "--size 320x240");
    const TPixel centre = At(p, 160, 120);
    EXPECT_NE(centre, (TPixel{0, 0, 0}));
    EXPECT_NE(centre, kOutline);
    EXPECT_NE(centre, (TPixel{255, 255, 255}));  // white is the untextured model
    // One warning line, the model drawn white, the picture written all the same.
    for (const char* texture : {"missing.jpg", "picture.png"}) {
        p = Picture(BinFile("obj/cube.obj"), std::string("--size 320x240 --texture ") + Quote(dir.file(texture)));
        EXPECT_NE(FirstLine(last.err).find(texture), std::string::npos) << last.err;
        EXPECT_EQ(At(p, 160, 120), (TPixel{255, 255, 255})) << texture;
    }
}

TEST_F(Render, ReducingTheKnotLeavesFewerPixels) {
    auto lit = [](const TPixel& c) { return c != TPixel{0, 0, 0}; };
    const size_t full = CountPixels(Picture(BinFile("obj/knot.obj"), "--size 320x240"), lit);
    const size_t reduced = CountPixels(Picture(BinFile("obj/knot.obj"), "--size 320x240 --reduce 1.0"), lit);
    EXPECT_GT(full, 0u);
    EXPECT_LT(reduced, full);
}

// The bake of a reduction is what the reduction shows: as a KGM file (exact numbers) it
// draws the same picture. At 0.5 the torus keeps its box, so the camera stays too (a
// bake whose box shrank would move the camera with it).
TEST_F(Render, BakedTorusDrawsAsTheReducedOne) {
    const std::string baked = dir.file("baked.kgm");
    const TRun convert =
        RunProgram(KGLMODEL_PATH,
                   "convert " + Quote(BinFile("obj/torus.obj")) + " " + Quote(baked) + " --reduce 0.5 --as-shown", dir);
    ASSERT_EQ(convert.status, 0) << convert.err;
    EXPECT_EQ(convert.err, "");  // no progress line but on a terminal
    const TRgbPicture reduced = Picture(BinFile("obj/torus.obj"), "--size 320x240 --reduce 0.5 --angle 30");
    const TRgbPicture shown = Picture(baked, "--size 320x240 --angle 30");
    EXPECT_TRUE(reduced.rgb == shown.rgb);
    EXPECT_LT(std::filesystem::file_size(baked), std::filesystem::file_size(BinFile("obj/torus.kgm")));
}

TEST_F(Render, RedXAxisRunsRightFromTheCentre) {
    // The cube's centre is the model-space origin: the X axis starts at the picture's
    // centre and leaves it to the right along the middle rows, under the cube.
    const TRgbPicture p = Picture(BinFile("obj/cube.obj"), "--size 320x240");
    auto red = [&](int x) {
        for (int y = 118; y <= 121; ++y) {
            const TPixel c = At(p, x, y);
            if (c[0] > 60 && c[1] < c[0] / 3 && c[2] < c[0] / 3) return true;
        }
        return false;
    };
    for (int x = 290; x < 320; x += 7) EXPECT_TRUE(red(x)) << "column " << x;
    for (int x = 0; x < 30; x += 7) EXPECT_FALSE(red(x)) << "column " << x;
    // Turned half round about Y, the axis points left.
    const TRgbPicture turned = Picture(BinFile("obj/cube.obj"), "--size 320x240 --angle 180");
    EXPECT_EQ(At(turned, 310, 119), (TPixel{0, 0, 0}));
    // Left out, it leaves the background.
    const TRgbPicture without = Picture(BinFile("obj/cube.obj"), "--size 320x240 --axes off");
    for (int x = 290; x < 320; x += 7) EXPECT_EQ(At(without, x, 119), (TPixel{0, 0, 0})) << "column " << x;
}

TEST_F(Render, OverlaysFollowTheirSwitches) {
    struct TCase {
        const char* args;
        bool (*match)(const TPixel&);
        bool shown;
    };
    for (const TCase& c : {TCase{"", IsOutline, true}, TCase{"--wireframe off", IsOutline, false},
                           TCase{"", IsBox, true}, TCase{"--boxes off", IsBox, false}}) {
        const size_t n =
            CountPixels(Picture(BinFile("obj/torus.kgm"), std::string("--size 320x240 ") + c.args), c.match);
        if (c.shown)
            EXPECT_GT(n, 20u) << c.args;
        else
            EXPECT_EQ(n, 0u) << c.args;
    }
}

// The window's start and frames, call for call (panel InitGL, window FormCreate, then
// the idle loop's frames), against the single frame kglmodel draws. The texture runs
// from red to blue across, so the axes, drawn under the texture coordinate the frame
// before left current, show whether the single frame starts from the same state.
TEST_F(Render, TorusEqualsTheWindowsFrameForTheSameState) {
    const int w = 320, h = 240;
    std::vector<TRgb> texels;
    for (int row = 0; row < 2; ++row)
        for (int x = 0; x < 64; ++x) texels.push_back({uint8_t(4 * x), 40, uint8_t(255 - 4 * x)});
    const std::string texture = dir.file("ramp.tga");
    WriteFile(texture, TgaBytes(Tga(64, 2, texels)));
    const TRgbPicture p = Picture(BinFile("obj/torus.kgm"),
                                  "--size 320x240 --angle 30 --pull 2 --push 1 --xrot off "
                                  "--texture " +
                                      Quote(texture));
    TOffscreenContext gl(w, h);
    ASSERT_TRUE(gl.ok());
    glClearColor(0, 0, 0, 0);
    glShadeModel(GL_SMOOTH);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glEnable(GL_TEXTURE_2D);
    SetFrameProjection(w, h);
    glDisable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_TEXTURE_2D);
    TFrameView view;
    ASSERT_TRUE(LoadTexture(texture, view.texture, false));
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
    TKGLModel model;
    ASSERT_TRUE(LoadFromFile(model, BinFile("obj/torus.kgm")));
    view.rotationAngle = 30;
    view.pull = 2;
    view.push = 1;
    view.xRot = false;
    for (int frame = 0; frame < 2; ++frame) {
        glPolygonMode(GL_FRONT, GL_FILL);  // the panel's paint, before each frame
        DrawFrame(model, view);
        glFlush();
    }
    const std::vector<uint8_t> window = gl.rowsTopFirst();
    ASSERT_EQ(p.rgb.size(), window.size());
    size_t differ = 0;
    for (size_t i = 0; i < window.size(); ++i) differ += p.rgb[i] != window[i];
    EXPECT_EQ(differ, 0u);
}

TEST_F(Render, RefusalsKeepTheOldPicture) {
    WriteFile(out(), "old picture");
    // A model that cannot be read: status 1, a reason that names it, OUT untouched.
    for (const std::string& model : {dir.file("missing.obj"), dir.file("model.txt")}) {
        const TRun r = RunProgram(KGLMODEL_PATH, "render " + Quote(model) + " " + Quote(out()), dir);
        EXPECT_EQ(r.status, 1) << model;
        EXPECT_NE(FirstLine(r.err).find(model), std::string::npos) << r.err;
        EXPECT_EQ(ReadFile(out()), "old picture");
    }
    // A picture that cannot be written: into a missing folder, or over a folder.
    std::filesystem::create_directory(dir.file("folder.png"));
    for (const std::string& target : {dir.file("none/out.png"), dir.file("folder.png")}) {
        const TRun r = RunProgram(KGLMODEL_PATH, "render " + Quote(BinFile("obj/cube.obj")) + " " + Quote(target), dir);
        EXPECT_EQ(r.status, 1) << target;
        EXPECT_NE(FirstLine(r.err).find(target), std::string::npos) << r.err;
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder.png")));
    // Nothing half-written is left beside the targets.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
    // A complete picture replaces the old file.
    EXPECT_EQ(Picture(BinFile("obj/cube.obj"), "--size 4x3").width, 4);
}

// kglmodel copied where kglmodel-render is not: one line naming the missing program.
TEST_F(Render, WithoutTheRenderProgramBesideItKglmodelSaysWhatIsMissing) {
    const std::string alone = dir.file("kglmodel");
    std::filesystem::copy_file(KGLMODEL_PATH, alone);
    const TRun r = RunProgram(alone, "render " + Quote(BinFile("obj/cube.obj")) + " " + Quote(out()), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(FirstLine(r.err).find(dir.file("kglmodel-render")), std::string::npos) << r.err;
    EXPECT_EQ(RunProgram(alone, "info " + Quote(BinFile("obj/cube.obj")), dir).status, 0);
}

TEST_F(Render, WrongUsageExitsTwo) {
    const std::string cube = Quote(BinFile("obj/cube.obj")) + " " + Quote(out());
    for (const char* args :
         {"--size 0x10", "--size 10x0", "--size 8193x8", "--size 8x9000", "--size -1x5", "--size 10", "--size 10x",
          "--size x10", "--size 1.5x2", "--size", "--pull 101", "--push -1", "--xrot yes", "--axes", "--angle nan",
          "--reduce", "--edge-order", "--edge-order volume", "--bogus"}) {
        const TRun r = RunProgram(KGLMODEL_PATH, "render " + cube + " " + args, dir);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << args;
    }
    for (const std::string& args : {std::string(""), Quote(BinFile("obj/cube.obj")),
                                    Quote(BinFile("obj/cube.obj")) + " " + Quote(dir.file("out.jpg"))}) {
        EXPECT_EQ(RunProgram(KGLMODEL_PATH, "render " + args, dir).status, 2) << args;
    }
    EXPECT_FALSE(std::filesystem::exists(out()));
}

// kglmodel thumbnail: what a file manager's preview needs.
class Thumbnail : public ::testing::Test {
protected:
    TRun Run(const std::string& model, const std::string& out, const std::string& size) {
        return RunProgram(KGLMODEL_PATH, "thumbnail " + Quote(model) + " " + Quote(out) + " " + size, dir);
    }
    // The thumbnail of model at size, read back.
    TRgbaPicture Picture(const std::string& model, int size) {
        const TRun r = Run(model, out(), std::to_string(size));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        TRgbaPicture p;
        std::string why;
        EXPECT_TRUE(ReadPng(out(), p, why)) << why;
        return p;
    }
    // A thumbnailer names its output as it likes: no extension here.
    std::string out() const { return dir.file("thumbnail"); }
    TTempDir dir;
};

// Columns or rows [first, last] that hold a pixel the model covers.
struct TExtent {
    int x0 = INT32_MAX, x1 = -1, y0 = INT32_MAX, y1 = -1;
};
TExtent Covered(const TRgbaPicture& p) {
    TExtent e;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (p.rgba[(static_cast<size_t>(y) * static_cast<size_t>(p.width) + static_cast<size_t>(x)) * 4 + 3] > 0) {
                e.x0 = std::min(e.x0, x), e.x1 = std::max(e.x1, x);
                e.y0 = std::min(e.y0, y), e.y1 = std::max(e.y1, y);
            }
    return e;
}

// Filling the square up to the margin in one direction, centred in both.
void ExpectFramed(const TRgbaPicture& p, const std::string& what) {
    const TExtent e = Covered(p);
    ASSERT_GE(e.x1, 0) << what << ": nothing drawn";
    const int side = p.width, margin = static_cast<int>(side * kThumbnailMargin);
    const int wide = std::max(e.x1 - e.x0, e.y1 - e.y0) + 1;
    EXPECT_GE(wide, side - 2 * margin - 2) << what;
    EXPECT_LE(std::abs(e.x0 - (side - 1 - e.x1)), 2) << what << ": not centred across";
    EXPECT_LE(std::abs(e.y0 - (side - 1 - e.y1)), 2) << what << ": not centred up and down";
}

std::string CubeObj(double side, double offset) {
    std::string text;
    for (int i = 0; i < 8; ++i)
        text += "v " + std::to_string(offset + side * (i & 1)) + " " + std::to_string(side * ((i >> 1) & 1)) + " " +
                std::to_string(side * ((i >> 2) & 1)) + "\n";
    return text + "f 1 3 4 2\nf 5 6 8 7\nf 1 2 6 5\nf 3 7 8 4\nf 1 5 7 3\nf 2 4 8 6\n";
}

// The untextured cube: a square picture, transparent around the model, the model framed,
// its three visible sides in three shades (the frame draws without lighting, so a
// silhouette of one colour would show nothing of its form), no outline.
TEST_F(Thumbnail, SquareTransparentFramedAndShaded) {
    for (int size : {256, 100, 37}) {
        const TRgbaPicture p = Picture(BinFile("obj/cube.obj"), size);
        ASSERT_EQ(p.width, size);
        ASSERT_EQ(p.height, size);
        for (const auto& [x, y] : {std::pair{0, 0}, {size - 1, 0}, {0, size - 1}, {size - 1, size - 1}})
            EXPECT_EQ(p.rgba[(static_cast<size_t>(y) * size + x) * 4 + 3], 0) << size << " at " << x << "," << y;
        ExpectFramed(p, "cube at " + std::to_string(size));
    }
    const TRgbaPicture p = Picture(BinFile("obj/cube.obj"), 256);
    std::map<uint32_t, size_t> shades;  // opaque colours and how many pixels each
    size_t opaque = 0;
    for (size_t i = 0; i < p.rgba.size(); i += 4) {
        if (p.rgba[i + 3] != 255) continue;
        ++opaque;
        ++shades[uint32_t(p.rgba[i]) << 16 | uint32_t(p.rgba[i + 1]) << 8 | p.rgba[i + 2]];
        EXPECT_FALSE(p.rgba[i] > 200 && p.rgba[i + 1] > 150 && p.rgba[i + 2] < 60) << "outline colour";
    }
    std::vector<size_t> counts;
    for (const auto& [colour, n] : shades) counts.push_back(n);
    std::sort(counts.rbegin(), counts.rend());
    ASSERT_GE(counts.size(), 3u);
    // each side a tenth of the picture or more
    EXPECT_GT(counts[2], opaque / 10);
}

// The near and far planes follow the model: cubes of diagonal 0.05 and 5000, one of them
// far from the origin, fill their pictures as the bundled ones do.
TEST_F(Thumbnail, ModelsOfAnySizeAreFramed) {
    for (const auto& [side, offset] :
         {std::pair{0.05 / std::sqrt(3.0), 0.0}, {5000 / std::sqrt(3.0), 0.0}, {5000 / std::sqrt(3.0), 1e5}}) {
        const std::string model = dir.file("cube.obj");
        WriteFile(model, CubeObj(side, offset));
        ExpectFramed(Picture(model, 64), "side " + std::to_string(side) + " at " + std::to_string(offset));
    }
    ExpectFramed(Picture(BinFile("obj/knot.kgm"), 64), "knot");
    ExpectFramed(Picture(BinFile("obj/table.obj"), 64), "table");
}

// A thumbnailer takes a missing picture for "none": nothing is written on a failure, and
// an existing file stays as it was.
TEST_F(Thumbnail, FailuresWriteNothing) {
    const std::string noFaces = dir.file("points.obj"), broken = dir.file("broken.kgm"), flat = dir.file("flat.obj");
    WriteFile(noFaces, "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
    WriteFile(broken, "\x0eKGL_Model_file and then nothing a model holds");
    WriteFile(flat, "v 1 1 1\nv 1 1 1\nv 1 1 1\nf 1 2 3\n");  // no extent
    for (const std::string& model : {dir.file("missing.obj"), dir.file("model.txt"), noFaces, broken, flat}) {
        EXPECT_EQ(Run(model, out(), "64").status, 1) << model;
        EXPECT_FALSE(std::filesystem::exists(out())) << model;
    }
    WriteFile(out(), "old picture");
    EXPECT_EQ(Run(noFaces, out(), "64").status, 1);
    EXPECT_EQ(ReadFile(out()), "old picture");
    EXPECT_EQ(Run(BinFile("obj/cube.obj"), dir.file("none/out.png"), "64").status, 1);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
    for (const char* size : {"0", "8193", "-5", "12px", "1.5", ""}) {
        const TRun r = Run(BinFile("obj/cube.obj"), out(), size);
        EXPECT_EQ(r.status, 2) << size;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << size;
    }
    EXPECT_EQ(ReadFile(out()), "old picture");
}

}  // namespace
