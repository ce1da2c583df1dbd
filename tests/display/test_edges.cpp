// Edge picking and the edge selection display. End points come through the model
// core's EdgeVertexA/B (and ResolveVertex for merged ends).
#include "display_fixture.h"
#include "pick_math.h"

using namespace kgl;
using namespace kgl::test;

namespace {

// Group 0: face 1 a front square at depth 1 over x, y 4..40; face 2 a square behind
// it at depth 0 over 10..30 whose bottom side at y 10 is hidden by face 1; face 3 a
// square at depth 1 over 44..60.
class Edges : public DisplayTest {
protected:
    void SetUp() override {
        DisplayTest::SetUp();
        b.Group();
        b.Rect(4, 4, 40, 40, 1);
        b.Rect(10, 10, 30, 30, 0);
        b.Rect(44, 4, 60, 40, 1);
        b.Finish();
        SetEdges(m, {MakeEdge(0, 1, 0, 1),       // 0: front square's bottom, on its surface
                     MakeEdge(0, 2, 0, 1),       // 1: hidden square's bottom, behind face 1
                     MakeEdge(0, 3, 1, 2, 1)});  // 2: right side of face 3, face2 = face 1
        InitEdgeSelection(m);
    }
    static int Top(int rowFromBottom) { return kH - 1 - rowFromBottom; }
    TModelBuilder b;
    TKGLModel& m = b.m;
};

TEST_F(Edges, AnEdgeBehindAFaceCannotBePickedAndOneOnTheFrontSurfaceCan) {
    PickEdge(m, 20, Top(10), true, kPickSelect);
    EXPECT_EQ(PickPixel, CodeToRGB(kCodeBackground));  // the black surface
    EXPECT_EQ(m.edgeSel, (std::vector<TBool>(5, 0)));
    PickEdge(m, 20, Top(4), true, kPickSelect);
    EXPECT_EQ(PickPixel, CodeToRGB(EdgeCode(0)));
    PickEdge(m, 20, Top(10), false, kPickSelect);  // without the depth pass it shows
    EXPECT_EQ(m.edgeSel, (std::vector<TBool>{1, 1, 0, 0, 0}));
    GLfloat width = 0;
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_FLOAT_EQ(width, 3.0f);
    GLint mode[2];
    glGetIntegerv(GL_POLYGON_MODE, mode);
    EXPECT_EQ(mode[0], GL_FILL);
}

TEST_F(Edges, EdgePicksToggleDeselectAndSkipInactiveEdges) {
    PickEdge(m, 60, Top(20), true, kPickToggle);
    EXPECT_EQ(m.edgeSel[2], 1);
    PickEdge(m, 60, Top(20), true, kPickToggle);
    EXPECT_EQ(m.edgeSel[2], 0);
    PickEdge(m, 60, Top(20), true, kPickSelect);
    PickEdge(m, 60, Top(20), true, 3);
    EXPECT_EQ(m.edgeSel[2], 1);
    PickEdge(m, 60, Top(20), true, kPickDeselect);
    EXPECT_EQ(m.edgeSel[2], 0);
    m.edges[2].active = 0;  // collapsed: no longer a candidate
    PickEdge(m, 60, Top(20), true, kPickSelect);
    EXPECT_EQ(m.edgeSel[2], 0);
    // Edges of hidden faces are still candidates while active.
    m.edges[2].active = 1;
    m.groups[0].faces[3].visible = 0;
    PickEdge(m, 60, Top(20), true, kPickSelect);
    EXPECT_EQ(m.edgeSel[2], 1);
}

TEST_F(Edges, AtEqualDepthTheHigherPositionWins) {
    SetEdges(m, {MakeEdge(0, 1, 0, 1), MakeEdge(0, 1, 1, 0)});  // the same side twice
    InitEdgeSelection(m);
    PickEdge(m, 20, Top(4), true, kPickSelect);
    EXPECT_EQ(m.edgeSel, (std::vector<TBool>{0, 1, 0, 0}));
}

TEST_F(Edges, MergedEndPointsAreDrawnAtTheEndOfTheirChain) {
    // Move the right end of the front square's bottom (vertex 2, at x 40) to face 3's
    // corner at x 60 through a two-step chain.
    const int32_t v = m.groups[0].faces[1].vIdx[1];
    const int32_t mid = m.groups[0].faces[3].vIdx[0];
    const int32_t end = m.groups[0].faces[3].vIdx[1];
    m.vertices[v].target = mid;
    m.vertices[mid].target = end;
    PickEdge(m, 50, Top(4), true, kPickSelect);
    EXPECT_EQ(m.edgeSel[0], 1);
}

TEST_F(Edges, SelectedEdgesShowWhileOneOfTheirFacesIsVisible) {
    glDisable(GL_TEXTURE_2D);
    m.edgeSel = {1, 1, 1, 0, 0};
    DrawSelectedEdges(m);
    const TPixel sel = Bytes(m.selColor);
    EXPECT_EQ(At(20, 4), sel);
    EXPECT_EQ(At(60, 20), sel);
    EXPECT_TRUE(glIsEnabled(GL_LINE_SMOOTH));
    GLfloat width = 0;
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_FLOAT_EQ(width, 1.5f);

    // Face 3 hidden: its side still shows through its second face; face 1 hidden
    // too: no visible face, not drawn, but still selected.
    auto redraw = [&] {
        ClearTo(0, 0, 0);
        DrawSelectedEdges(m);
    };
    m.groups[0].faces[3].visible = 0;
    redraw();
    EXPECT_EQ(At(60, 20), sel);
    m.groups[0].faces[1].visible = 0;
    redraw();
    EXPECT_EQ(At(60, 20), kBlack);
    EXPECT_EQ(At(20, 4), kBlack);
    EXPECT_EQ(m.edgeSel[2], 1);
    // A second face beyond the group's faces counts as absent.
    m.edges[2].face2 = 99;
    m.groups[0].faces[1].visible = 1;
    redraw();
    EXPECT_EQ(At(60, 20), kBlack);
    m.groups[0].faces[3].visible = 1;
    m.edgeSel = {0, 0};  // shorter than the table: edge 2 reads as not selected
    redraw();
    EXPECT_EQ(At(60, 20), kBlack);
}

}  // namespace
