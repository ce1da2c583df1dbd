// Drawing the model, its outline and its boxes, read back pixel by pixel.
#include <cmath>

#include "display_fixture.h"
#include "face_walk.h"

using namespace kgl;
using namespace kgl::test;

namespace {

using Render = DisplayTest;

TEST_F(Render, VisibleFaceCoversItsPixelsAndAHiddenOneDoesNot) {
    TModelBuilder b;
    b.Group();
    b.Rect(4, 4, 20, 20);
    b.Rect(30, 4, 50, 20);
    TKGLModel& m = b.Finish();
    m.groups[0].faces[2].visible = 0;
    DrawModel(m);
    for (int x = 4; x < 20; x += 3)
        for (int y = 4; y < 20; y += 3) EXPECT_EQ(At(x, y), kWhite) << x << "," << y;
    EXPECT_EQ(At(3, 10), kBlack);
    EXPECT_EQ(At(20, 10), kBlack);
    EXPECT_EQ(At(40, 10), kBlack);  // hidden
    EXPECT_EQ(m.drawCount, 0);
    GLboolean tex = GL_FALSE;
    glGetBooleanv(GL_TEXTURE_2D, &tex);
    EXPECT_EQ(tex, GL_TRUE);
}

TEST_F(Render, OnlyVisibleThreeCornerFacesAreCountedAndManyCornersMakeOnePolygon) {
    TModelBuilder b;
    b.Group();
    b.Face({b.Vertex(1, 1), b.Vertex(9, 1), b.Vertex(1, 9)});
    b.Face({b.Vertex(11, 1), b.Vertex(19, 1), b.Vertex(11, 9)});
    b.Face({b.Vertex(21, 1), b.Vertex(29, 1), b.Vertex(21, 9)});  // hidden below
    b.Rect(1, 11, 9, 19);
    b.Group();
    // A convex heptagon around (44, 24): drawn as triangles it would leave out the
    // corners past the sixth, as a quad everything past the fourth.
    std::vector<int32_t> hv;
    const float cx = 44, cy = 24, r = 14;
    for (int k = 0; k < 7; ++k) {
        const double a = 2 * M_PI * k / 7;
        hv.push_back(b.Vertex(cx + r * static_cast<float>(std::cos(a)), cy + r * static_cast<float>(std::sin(a))));
    }
    b.Face({hv[0], hv[1], hv[2], hv[3], hv[4], hv[5], hv[6]});
    TKGLModel& m = b.Finish();
    m.groups[0].faces[3].visible = 0;
    m.drawCount = 77;
    DrawModel(m);
    EXPECT_EQ(m.drawCount, 2);
    for (int k = 0; k < 7; ++k) {
        const double a = 2 * M_PI * k / 7;  // just inside each corner
        const int x = static_cast<int>(cx + 0.8 * r * std::cos(a));
        const int y = static_cast<int>(cy + 0.8 * r * std::sin(a));
        EXPECT_EQ(At(x, y), kWhite) << "corner " << k;
    }
    EXPECT_EQ(At(static_cast<int>(cx), static_cast<int>(cy)), kWhite);
}

TEST_F(Render, AModelWithoutFacesDrawsNothingAndKeepsTheCount) {
    TModelBuilder b;
    TKGLModel& m = b.Finish();
    m.drawCount = 5;
    glDisable(GL_TEXTURE_2D);
    DrawModel(m);
    DrawWireframe(m);
    DrawBoundingBoxes(m, 0);
    DrawModelBlack(m);
    EXPECT_EQ(m.drawCount, 5);
    for (int x = 0; x < kW; x += 7)
        for (int y = 0; y < kH; y += 7) EXPECT_EQ(At(x, y), kBlack);
    GLint mode[2];
    glGetIntegerv(GL_POLYGON_MODE, mode);  // the overlay still restores its state
    EXPECT_EQ(mode[0], GL_FILL);
}

TEST_F(Render, AReducedModelDrawsMergedCornersAtTheirTargets) {
    TModelBuilder b;
    b.Group();
    const int32_t a = b.Vertex(2, 2), c = b.Vertex(30, 2), d = b.Vertex(2, 30);
    const int32_t far = b.Vertex(60, 2);  // target of c
    const int32_t pinned = b.Vertex(2, 44);
    b.Face({a, c, d});
    b.Face({a, far, pinned});
    TKGLModel& m = b.Finish();
    m.vertices[c].target = far;
    m.vertices[pinned].target = kTargetPinned;
    m.groups[0].faces[2].visible = 0;
    DrawModel(m);
    EXPECT_EQ(At(45, 4), kWhite);  // only covered with c moved to (60, 2)
    m.vertices[c].target = kTargetFree;
    ClearTo(0, 0, 0);
    DrawModel(m);
    EXPECT_EQ(At(45, 4), kBlack);
    // pinned draws at its own position
    m.groups[0].faces[1].visible = 0;
    m.groups[0].faces[2].visible = 1;
    ClearTo(0, 0, 0);
    DrawModel(m);
    EXPECT_EQ(At(4, 40), kWhite);
}

TEST_F(Render, MergedCornersTakeTheirTexCoordTargetAndFreeCornersTheirOwn) {
    // A 2 x 1 texture: red on the left half, green on the right.
    const uint8_t texels[] = {255, 0, 0, 0, 255, 0};
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 2, 1, 0, GL_RGB, GL_UNSIGNED_BYTE, texels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);

    TModelBuilder b;
    b.Group();
    const int32_t red = b.TexCoord(0.25f, 0.5f), green = b.TexCoord(0.75f, 0.5f);
    const int32_t v1 = b.Vertex(0, 0), v2 = b.Vertex(4, 0), v3 = b.Vertex(0, 4);
    const int32_t t1 = b.Vertex(2, 2), t2 = b.Vertex(40, 2), t3 = b.Vertex(2, 40);
    b.Face({v1, v2, v3}, {red, red, red});
    TKGLModel& m = b.Finish();
    m.texCoords[red].target = green;
    DrawModel(m);  // unmerged corners (tiny triangle near the origin) keep red
    EXPECT_EQ(At(1, 1), (TPixel{255, 0, 0}));
    m.vertices[v1].target = t1;
    m.vertices[v2].target = t2;
    m.vertices[v3].target = t3;
    ClearTo(0, 0, 0);
    DrawModel(m);
    EXPECT_EQ(At(8, 8), (TPixel{0, 255, 0}));
    m.texCoords[red].target = kTargetFree;  // merged, but its coordinate has no target
    ClearTo(0, 0, 0);
    DrawModel(m);
    EXPECT_EQ(At(8, 8), (TPixel{255, 0, 0}));
    glDeleteTextures(1, &tex);
}

TEST_F(Render, CornersWithoutATextureIndexReuseTheLastOneSent) {
    const uint8_t texels[] = {255, 0, 0, 0, 255, 0};  // red | green
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 2, 1, 0, GL_RGB, GL_UNSIGNED_BYTE, texels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    TModelBuilder b;
    b.Group();
    const int32_t red = b.TexCoord(0.25f, 0.5f), green = b.TexCoord(0.75f, 0.5f);
    b.Face({b.Vertex(2, 2), b.Vertex(30, 2), b.Vertex(2, 40)}, {red, red, red});
    b.Face({b.Vertex(34, 2), b.Vertex(62, 2), b.Vertex(62, 40)}, {green});
    TKGLModel& m = b.Finish();
    DrawModel(m);
    EXPECT_EQ(At(6, 6), (TPixel{255, 0, 0}));
    EXPECT_EQ(At(60, 36), (TPixel{0, 255, 0}));  // by its third corner
    EXPECT_EQ(At(58, 4), (TPixel{0, 255, 0}));
    glDeleteTextures(1, &tex);
}

TEST_F(Render, DamagedIndicesDrawWithoutReadingOutsideTables) {
    TModelBuilder b;
    b.Group();
    const int32_t t = b.TexCoord(0, 0);
    b.Face({b.Vertex(4, 4), b.Vertex(30, 4), b.Vertex(4, 30)}, {t, 500, -7});
    TKGLModel& m = b.Finish();
    m.groups[0].faces[1].nIdx = TIndexList({1000, -1, 0});
    m.groups[0].faces[1].count = 12;  // more than vIdx holds
    m.vertices[2].target = 1 << 30;
    DrawModel(m);
    DrawWireframe(m);
    DrawModelBlack(m);
    EXPECT_EQ(m.drawCount, 1);  // the three corners it has
}

TEST_F(Render, WireframeAndBlackPassLeaveTheirState) {
    TModelBuilder b;
    b.Group();
    b.Rect(10, 10, 40, 40);
    TKGLModel& m = b.Finish();
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
    DrawModel(m);
    DrawWireframe(m);
    GLint mode[2], func = 0;
    GLfloat width = 0, color[4];
    glGetIntegerv(GL_POLYGON_MODE, mode);
    glGetIntegerv(GL_DEPTH_FUNC, &func);
    glGetFloatv(GL_LINE_WIDTH, &width);
    glGetFloatv(GL_CURRENT_COLOR, color);
    EXPECT_EQ(mode[0], GL_FILL);
    EXPECT_EQ(mode[1], GL_FILL);
    EXPECT_EQ(func, GL_LESS);
    EXPECT_FLOAT_EQ(width, 1.5f);
    EXPECT_FLOAT_EQ(color[1], m.wireColor[1]);
    // the outline lies on the filled face (GL_LEQUAL) and its inside stays white
    EXPECT_EQ(At(25, 10), Bytes(m.wireColor));
    EXPECT_EQ(At(25, 25), kWhite);

    DrawModelBlack(m);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_FOG));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    glGetFloatv(GL_CURRENT_COLOR, color);
    EXPECT_EQ(color[0] + color[1] + color[2], 0.0f);
    EXPECT_EQ(color[3], 1.0f);
}

TEST_F(Render, ModelBoxIsSelColorOnlyWhenItsOnlyGroupIsSelected) {
    TModelBuilder b;
    b.Group();
    b.Rect(5.5f, 5.5f, 55.5f, 40.5f);
    TKGLModel& m = b.Finish();
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);  // coinciding boxes: the one drawn last shows
    DrawBoundingBoxes(m, 0);
    EXPECT_EQ(At(30, 5), Bytes(m.unselColor));  // no groupSel yet: model box only
    m.groupSel = {1, 0};
    DrawBoundingBoxes(m, 0);  // group box coincides and comes last
    EXPECT_EQ(At(30, 5), Bytes(m.selColor));
    ClearTo(0, 0, 0);
    DrawBoundingBoxes(m, 2.0);  // grown by the margin on every side
    EXPECT_EQ(At(30, 3), Bytes(m.selColor));
    EXPECT_EQ(At(30, 5), kBlack);
    EXPECT_EQ(At(57, 20), Bytes(m.selColor));
    GLfloat width = 0;
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_FLOAT_EQ(width, 1.0f);
}

TEST_F(Render, WithTwoGroupsTheModelBoxStaysUnselected) {
    TModelBuilder b;
    b.Group();
    b.Rect(5.5f, 5.5f, 20.5f, 40.5f);
    b.Group();
    b.Rect(30.5f, 10.5f, 55.5f, 30.5f);
    TKGLModel& m = b.Finish();
    m.groups[1].faces[1].visible = 0;  // a group with no visible face keeps its box
    m.groupSel = {1, 1, 0};
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);  // coinciding boxes: the one drawn last shows
    DrawBoundingBoxes(m, 0);
    EXPECT_EQ(At(12, 40), Bytes(m.selColor));   // group 0 box on the model box's top
    EXPECT_EQ(At(40, 5), Bytes(m.unselColor));  // model box only
    EXPECT_EQ(At(40, 10), Bytes(m.selColor));   // group 1 box
    m.groupSel = {0};                           // shorter than the groups: group 1 reads as unselected
    DrawBoundingBoxes(m, 0);
    EXPECT_EQ(At(40, 10), Bytes(m.unselColor));
}

// A single frame (kglmodel render) primes the texture coordinate the window's previous
// frame left: it must be the one DrawModel really leaves current, whatever the faces hold.
TEST_F(Render, LastSentTexCoordIsTheOneDrawModelLeavesCurrent) {
    enum Shape { kPlain, kLastWithoutTex, kLastHidden, kMergedLast, kShortTIdx, kBadIndex, kNoTex, kNoFaces };
    for (Shape shape : {kPlain, kLastWithoutTex, kLastHidden, kMergedLast, kShortTIdx, kBadIndex, kNoTex, kNoFaces}) {
        TModelBuilder b;
        const int32_t t1 = b.TexCoord(0.1f, 0.2f), t2 = b.TexCoord(0.3f, 0.4f), t3 = b.TexCoord(0.5f, 0.6f);
        const int32_t far = b.TexCoord(0.7f, 0.8f);
        const int32_t a = b.Vertex(1, 1), c = b.Vertex(9, 1), d = b.Vertex(1, 9), e = b.Vertex(9, 9);
        if (shape != kNoFaces) {
            b.Group();
            b.Face({a, c, d}, {t1, t2, t3});
            b.Group();
            if (shape == kNoTex)
                b.Face({c, e, d});
            else if (shape == kLastWithoutTex)
                b.Face({c, e, d}, {});
            else if (shape == kShortTIdx)
                b.Face({c, e, d}, {t3, t1});  // the third corner keeps t1
            else if (shape == kBadIndex)
                b.Face({c, e, d}, {t3, t2, 99});  // sends nothing for the third corner
            else
                b.Face({c, e, d}, {t2, t3, t1});
        }
        TKGLModel& m = b.Finish();
        if (shape == kLastHidden) m.groups[1].faces[1].visible = 0;
        if (shape == kMergedLast) {
            m.vertices[d].target = a;  // d merged: its coordinate follows its target
            m.texCoords[t1].target = far;
        }
        if (shape == kNoTex) {
            m.groups[0].faces[1].tIdx = TIndexList{};
        }
        glTexCoord4f(0.9f, 0.9f, 0.9f, 1.0f);  // what the previous frame left
        DrawModel(m);
        GLfloat current[4];
        glGetFloatv(GL_CURRENT_TEXTURE_COORDS, current);
        const TTexCoord* last = detail::LastSentTexCoord(m);
        if (shape == kNoTex || shape == kNoFaces) {
            EXPECT_EQ(last, nullptr) << shape;
            EXPECT_FLOAT_EQ(current[0], 0.9f) << shape;
        } else {
            ASSERT_NE(last, nullptr) << shape;
            EXPECT_FLOAT_EQ(current[0], last->u) << shape;
            EXPECT_FLOAT_EQ(current[1], last->v) << shape;
        }
    }
}

}  // namespace
