// Colour-code picks and the selection displays, on hand-built models in an
// orthographic view where model x, y are framebuffer pixels.
#include "display_fixture.h"
#include "pick_math.h"
#include "test_support.h"

using namespace kgl;
using namespace kgl::test;

namespace {

// Group 0: faces 1 (x 0..20) and 2 (x 20..40); group 1: face 1 (x 40..64), a
// triangle. All in rows 0..20; rows above are background.
TKGLModel& ThreeFaces(TModelBuilder& b) {
    b.Group();
    b.Rect(0, 0, 20, 20);
    b.Rect(20, 0, 40, 20);
    b.Group();
    b.Face({b.Vertex(40, 0), b.Vertex(64, 0), b.Vertex(64, 24)});
    return b.Finish();
}
// Pick positions (top-left origin) over each face and over the background.
constexpr int kRowOverFaces = kH - 1 - 5;
constexpr int kFace1X = 10, kFace2X = 30, kFace3X = 60;
constexpr int kBackgroundY = 5;

class Picking : public DisplayTest {
protected:
    void SetUp() override {
        DisplayTest::SetUp();
        ThreeFaces(b);
        InitFaceSelection(b.m);
        InitGroupSelection(b.m);
    }
    TModelBuilder b;
    TKGLModel& m = b.m;
};

TEST_F(Picking, FacePickSelectsDeselectsTogglesAndIgnoresOtherModes) {
    PickFace(m, kFace2X, kRowOverFaces, kPickSelect);
    EXPECT_EQ(m.faceSel, (std::vector<TBool>{0, 0, 1, 0, 0}));
    EXPECT_EQ(PickPixel, CodeToRGB(2));
    PickFace(m, kFace2X, kRowOverFaces, kPickDeselect);
    EXPECT_EQ(m.faceSel[2], 0);
    PickFace(m, kFace3X, kRowOverFaces, kPickToggle);
    EXPECT_EQ(m.faceSel[3], 1);  // numbering continues into group 1
    PickFace(m, kFace3X, kRowOverFaces, kPickToggle);
    EXPECT_EQ(m.faceSel[3], 0);
    PickFace(m, kFace1X, kRowOverFaces, kPickSelect);
    for (uint8_t mode : {3, 4, 200, 255}) PickFace(m, kFace1X, kRowOverFaces, mode);
    EXPECT_EQ(m.faceSel, (std::vector<TBool>{0, 1, 0, 0, 0}));
}

TEST_F(Picking, BackgroundChangesNothingInAnyMode) {
    m.faceSel[1] = 1;
    m.groupSel[0] = 1;
    for (uint8_t mode : {kPickSelect, kPickDeselect, kPickToggle}) {
        PickFace(m, kFace1X, kBackgroundY, mode);
        EXPECT_EQ(PickPixel, CodeToRGB(kCodeBackground));
        PickGroup(m, kFace1X, kBackgroundY, mode);
    }
    EXPECT_EQ(m.faceSel, (std::vector<TBool>{0, 1, 0, 0, 0}));
    EXPECT_EQ(m.groupSel, (std::vector<TBool>{1, 0, 0}));
}

TEST_F(Picking, APositionOutsideTheViewChangesNothingAndDrawsNothing) {
    ClearTo(0, 0, 1);
    PickPixel = {7, 8, 9};
    InitEdgeSelection(m);
    for (auto [x, y] : {std::pair{-1, 5}, {kW, 5}, {5, -1}, {5, kH}, {kW, kH}}) {
        PickFace(m, x, y, kPickSelect);
        PickGroup(m, x, y, kPickSelect);
        PickEdge(m, x, y, true, kPickSelect);
    }
    EXPECT_EQ(PickPixel, (TRGB{7, 8, 9}));
    EXPECT_EQ(m.faceSel, (std::vector<TBool>(5, 0)));
    EXPECT_EQ(m.groupSel, (std::vector<TBool>(3, 0)));
    EXPECT_EQ(At(10, 10), (TPixel{0, 0, 255}));  // nothing cleared or drawn
}

TEST_F(Picking, TheTopAndBottomRowsArePickable) {
    TModelBuilder rows;
    rows.Group();
    rows.Rect(0, kH - 1, kW, kH);  // only the top row
    rows.Rect(0, 0, kW, 1);        // only the bottom row
    TKGLModel& r = rows.Finish();
    InitFaceSelection(r);
    PickFace(r, 3, 0, kPickSelect);  // reading row h - y would miss the viewport
    PickFace(r, 3, kH - 1, kPickSelect);
    EXPECT_EQ(r.faceSel, (std::vector<TBool>{0, 1, 1, 0}));
}

TEST_F(Picking, HiddenFacesKeepTheirNumbersAndCannotBePicked) {
    m.groups[0].faces[1].visible = 0;
    PickFace(m, kFace1X, kRowOverFaces, kPickSelect);
    PickFace(m, kFace2X, kRowOverFaces, kPickSelect);
    PickFace(m, kFace3X, kRowOverFaces, kPickSelect);
    EXPECT_EQ(m.faceSel, (std::vector<TBool>{0, 0, 1, 1, 0}));
}

TEST_F(Picking, GroupPicksSetTheGroupAndCountTriangles) {
    m.drawCount = 10;
    PickGroup(m, kFace2X, kRowOverFaces, kPickSelect);
    EXPECT_EQ(m.groupSel, (std::vector<TBool>{1, 0, 0}));
    EXPECT_EQ(PickPixel, CodeToRGB(GroupCode(0)));
    PickGroup(m, kFace3X, kRowOverFaces, kPickToggle);
    EXPECT_EQ(m.groupSel, (std::vector<TBool>{1, 1, 0}));
    PickGroup(m, kFace1X, kRowOverFaces, kPickDeselect);
    EXPECT_EQ(m.groupSel, (std::vector<TBool>{0, 1, 0}));
    PickFace(m, kFace1X, kRowOverFaces, 7);
    EXPECT_EQ(m.drawCount, 14);  // one triangle per pick pass
}

TEST_F(Picking, TheNearestFaceWinsWhateverItsPlaceInTheWalk) {
    TModelBuilder s;
    s.Group();
    s.Rect(0, 0, 30, 30, 1.0f);  // nearer, drawn first
    s.Group();
    s.Rect(10, 10, 40, 40, 0.0f);
    s.Group();
    s.Rect(20, 5, 50, 35, 2.0f);  // nearest, drawn last
    TKGLModel& sm = s.Finish();
    InitFaceSelection(sm);
    InitGroupSelection(sm);
    PickFace(sm, 15, kH - 1 - 15, kPickSelect);   // faces 1 and 2 overlap: 1 is nearer
    PickFace(sm, 25, kH - 1 - 25, kPickSelect);   // all three: 3
    PickGroup(sm, 35, kH - 1 - 36, kPickSelect);  // only group 1 there
    EXPECT_EQ(sm.faceSel, (std::vector<TBool>{0, 1, 0, 1, 0}));
    EXPECT_EQ(sm.groupSel, (std::vector<TBool>{0, 1, 0, 0}));
}

TEST_F(Picking, CodesOfSeveralBytesReadBackExactlyWhateverTheFrameLeftOn) {
    TModelBuilder g;
    g.Group();
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 20; ++x) g.Rect(x * 3.0f, y * 3.0f, x * 3.0f + 3, y * 3.0f + 3);
    TKGLModel& gm = g.Finish();
    InitFaceSelection(gm);
    // The frame's state: blending, smoothing, texturing, stipple-free filled polygons.
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_LINE_SMOOTH);
    glEnable(GL_POLYGON_SMOOTH);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_DITHER);
    for (int n : {1, 256, 257, 300}) {
        const int x = (n - 1) % 20 * 3 + 1, yb = (n - 1) / 20 * 3 + 1;
        PickFace(gm, x, kH - 1 - yb, kPickSelect);
        EXPECT_EQ(RGBToCode(PickPixel), static_cast<uint32_t>(n));
        EXPECT_EQ(gm.faceSel[n], 1) << n;
    }
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_LINE_SMOOTH));
    EXPECT_FALSE(glIsEnabled(GL_POLYGON_SMOOTH));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_DITHER));  // put back: no frame turns it on again
    GLint alignment = 0;
    glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 4);
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0] + clear[1] + clear[2], 0.0f);
    EXPECT_EQ(clear[3], 1.0f);
}

TEST_F(Picking, ListsShorterThanTheModelAreNeverWrittenPastTheirEnd) {
    // Left by a smaller model. The bytes left behind each list's end say "selected",
    // so a display that read past the end would draw face 3 and group 1.
    m.faceSel = {0, 1, 0, 1, 1};
    m.faceSel.resize(3);
    m.groupSel = {0, 1};
    m.groupSel.resize(1);
    PickFace(m, kFace3X, kRowOverFaces, kPickSelect);
    PickFace(m, kFace2X, kRowOverFaces, kPickSelect);  // the list's last entry is not pickable
    PickGroup(m, kFace3X, kRowOverFaces, kPickSelect);
    EXPECT_EQ(m.faceSel, (std::vector<TBool>{0, 1, 0}));
    EXPECT_EQ(m.groupSel, (std::vector<TBool>{0}));
    // The displays read the missing entries as not selected: face 1 shows, face 2 (not
    // selected) and face 3 and group 1 (beyond the lists) do not, nor is the triangle counted.
    ClearTo(0, 0, 0);
    glDisable(GL_TEXTURE_2D);
    m.drawCount = 0;
    DrawSelectedFaces(m);
    DrawSelectedGroups(m);
    const TPixel sel = Bytes(m.selColor);
    EXPECT_TRUE(At(4, 4) == sel || At(5, 4) == sel);
    for (const auto& [x, y] : {std::pair{30, 10}, {31, 10}, {59, 5}, {60, 5}, {55, 0}, {63, 12}})
        EXPECT_EQ(At(x, y), kBlack) << x << "," << y;
    EXPECT_EQ(m.drawCount, 0);
    // The creating calls bring them to the model's size, keeping what was there.
    InitFaceSelection(m);
    InitGroupSelection(m);
    EXPECT_EQ(m.faceSel, (std::vector<TBool>{0, 1, 0, 0, 0}));
    EXPECT_EQ(m.groupSel, (std::vector<TBool>{0, 0, 0}));
    PickFace(m, kFace3X, kRowOverFaces, kPickSelect);
    EXPECT_EQ(m.faceSel[3], 1);
}

TEST_F(Picking, EdgePickBeforeItsListExistsDoesNothingAtAll) {
    TEdge e;
    e.face = 1;
    e.corner1 = 1;
    e.active = 1;
    SetEdges(m, {e});
    ClearTo(0, 0, 1);
    PickPixel = {7, 8, 9};
    PickEdge(m, kFace1X, kRowOverFaces, true, kPickSelect);
    EXPECT_EQ(PickPixel, (TRGB{7, 8, 9}));
    EXPECT_TRUE(m.edgeSel.empty());
    EXPECT_EQ(At(10, 10), (TPixel{0, 0, 255}));
}

TEST_F(Picking, ModelsWithoutFacesPickNothing) {
    TModelBuilder e;
    TKGLModel& em = e.Finish();
    InitFaceSelection(em);
    InitGroupSelection(em);
    InitEdgeSelection(em);
    EXPECT_EQ(em.faceSel.size(), 2u);
    EXPECT_EQ(em.groupSel.size(), 1u);  // gCount -1
    EXPECT_EQ(em.edgeSel.size(), 2u);
    ClearTo(0, 0, 1);
    PickPixel = {7, 8, 9};
    PickFace(em, 5, 5, kPickSelect);
    PickGroup(em, 5, 5, kPickSelect);
    EXPECT_EQ(PickPixel, (TRGB{7, 8, 9}));
    PickEdge(em, 5, 5, true, kPickSelect);  // the list exists: clears and reads back
    EXPECT_EQ(PickPixel, (TRGB{0, 0, 0}));
    EXPECT_EQ(em.edgeSel, (std::vector<TBool>{0, 0}));
}

// ---- selection displays ----

using SelectionDisplay = Picking;

// Counts the selColor pixels of a block and checks they form a one-pixel checkerboard.
int CheckerboardCount(TPixel sel, TPixel other, int x0, int y0, int size, const std::function<TPixel(int, int)>& at) {
    int selected = 0;
    const bool parity = at(x0, y0) == sel;
    for (int y = y0; y < y0 + size; ++y)
        for (int x = x0; x < x0 + size; ++x) {
            const TPixel p = at(x, y);
            const bool expectSel = (((x - x0) + (y - y0)) % 2 == 0) == parity;
            EXPECT_EQ(p, expectSel ? sel : other) << x << "," << y;
            selected += p == sel;
        }
    return selected;
}

TEST_F(SelectionDisplay, EveryOtherPixelOfASelectedFaceIsSelColor) {
    glDisable(GL_TEXTURE_2D);
    DrawModel(m);
    glDisable(GL_TEXTURE_2D);
    m.faceSel[1] = 1;
    m.faceSel[3] = 1;  // the triangle: counted
    DrawSelectedFaces(m);
    EXPECT_EQ(m.drawCount, 2);  // DrawModel's triangle plus the display's
    auto at = [this](int x, int y) { return At(x, y); };
    EXPECT_EQ(CheckerboardCount(Bytes(m.selColor), kWhite, 4, 4, 8, at), 32);
    EXPECT_EQ(At(30, 10), kWhite);
    EXPECT_EQ(At(31, 10), kWhite);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_POLYGON_STIPPLE));
    GLint func = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &func);
    EXPECT_EQ(func, GL_LESS);
}

TEST_F(SelectionDisplay, AHiddenFaceKeepsItsSelectionAndShowsItAgainWhenShown) {
    m.faceSel[1] = 1;
    auto frame = [&] {
        ClearTo(0, 0, 0);
        glDisable(GL_TEXTURE_2D);
        DrawModel(m);
        glDisable(GL_TEXTURE_2D);
        DrawSelectedFaces(m);
    };
    m.groups[0].faces[1].visible = 0;
    frame();
    EXPECT_EQ(At(4, 4), kBlack);
    EXPECT_EQ(At(5, 4), kBlack);
    EXPECT_EQ(m.faceSel[1], 1);
    m.groups[0].faces[1].visible = 1;
    frame();
    EXPECT_TRUE(At(4, 4) == Bytes(m.selColor) || At(5, 4) == Bytes(m.selColor));
}

TEST_F(SelectionDisplay, SelectedGroupsShowTheOutlinesOfTheirVisibleFaces) {
    m.groups[0].faces[2].visible = 0;
    glDisable(GL_TEXTURE_2D);
    DrawModel(m);
    m.groupSel[0] = 1;
    const int32_t before = m.drawCount;
    DrawSelectedGroups(m);
    EXPECT_EQ(m.drawCount, before);           // group 0 has no triangles
    EXPECT_EQ(At(10, 0), Bytes(m.selColor));  // bottom side of face 1
    EXPECT_EQ(At(10, 10), kWhite);            // its inside
    EXPECT_EQ(At(30, 0), kBlack);             // face 2 hidden
    EXPECT_EQ(At(55, 0), kWhite);             // group 1 not selected
    GLint mode[2];
    glGetIntegerv(GL_POLYGON_MODE, mode);
    EXPECT_EQ(mode[0], GL_FILL);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
}

TEST_F(SelectionDisplay, EmptyListsDrawNothing) {
    m.faceSel.clear();
    m.groupSel.clear();
    glDisable(GL_TEXTURE_2D);
    DrawSelectedFaces(m);
    DrawSelectedGroups(m);
    DrawSelectedEdges(m);
    EXPECT_EQ(At(10, 10), kBlack);
    EXPECT_EQ(At(10, 0), kBlack);
}

}  // namespace

namespace {

// A loaded and reduced model, as the editor holds it: the displays count exactly the
// visible triangles and a pick finds only visible faces.
TEST_F(DisplayTest, AReducedLoadedModelDrawsAndPicksOnlyItsVisibleFaces) {
    std::string obj;
    const int n = 6;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) obj += "v " + std::to_string(4 + i * 9) + " " + std::to_string(2 + j * 7) + " 0\n";
    obj += "g grid\n";
    auto id = [n](int i, int j) { return std::to_string(1 + j * (n + 1) + i); };
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            obj += "f " + id(i, j) + " " + id(i + 1, j) + " " + id(i + 1, j + 1) + "\n";
            obj += "f " + id(i, j) + " " + id(i + 1, j + 1) + " " + id(i, j + 1) + "\n";
        }
    TMessageRecorder messages;
    TKGLModel m;
    InitModel(m);
    ASSERT_TRUE(LoadOBJFromMemory(m, obj));
    Reduce(m, 0.4);
    int visible = 0;
    for (int j = 1; j <= m.groups[0].fCount; ++j) visible += m.groups[0].faces[j].visible;
    ASSERT_GT(visible, 0);
    ASSERT_LT(visible, m.fCount);
    glDisable(GL_TEXTURE_2D);
    DrawModel(m);
    EXPECT_EQ(m.drawCount, visible);
    InitFaceSelection(m);
    for (int y = 0; y < kH; y += 2)
        for (int x = 0; x < kW; x += 2) PickFace(m, x, y, kPickSelect);
    int selected = 0;
    for (int j = 1; j <= m.fCount; ++j) {
        if (!m.faceSel[j]) continue;
        ++selected;
        EXPECT_TRUE(m.groups[0].faces[j].visible) << j;
    }
    EXPECT_GT(selected, visible / 2);
    EXPECT_EQ(m.faceSel[0], 0);
}

}  // namespace
