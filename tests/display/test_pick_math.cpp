// The GL-free arithmetic of picking and the corner guards of the face walk.
#include <gtest/gtest.h>

#include "display_fixture.h"
#include "face_walk.h"
#include "pick_math.h"

using namespace kgl;
using namespace kgl::test;

TEST(PickMath, CodesRoundTripWithRedAsTheLowByte) {
    EXPECT_EQ(CodeToRGB(0x030201), (TRGB{1, 2, 3}));
    for (uint32_t code : {0u, 1u, 255u, 256u, 65535u, 65536u, 0x123456u, kCodeMax})
        EXPECT_EQ(RGBToCode(CodeToRGB(code)), code);
    // The first group and the first face both carry code 1; edge 0 too.
    EXPECT_EQ(GroupCode(0), 1u);
    EXPECT_EQ(FaceCode(1), 1u);
    EXPECT_EQ(EdgeCode(0), 1u);
    EXPECT_EQ(EdgeIndexOfCode(EdgeCode(41)), 41);
    EXPECT_EQ(GroupIndexOfCode(kCodeBackground), -1);
    EXPECT_EQ(FaceIndexOfCode(kCodeBackground), 0);
}

TEST(PickMath, AcceptedRangesMatchTheListsAndNeverPassTheirEnd) {
    // faces 1 .. fCount of a list sized fCount + 2
    const int32_t fCount = 5;
    std::vector<int> accepted;
    for (int i = -1; i <= fCount + 2; ++i)
        if (PickIndexAccepted(i, 1, fCount, SelectionLength(fCount))) accepted.push_back(i);
    EXPECT_EQ(accepted, (std::vector<int>{1, 2, 3, 4, 5}));
    // groups/edges start at 0
    EXPECT_TRUE(PickIndexAccepted(0, 0, 3, SelectionLength(3)));
    EXPECT_FALSE(PickIndexAccepted(4, 0, 3, SelectionLength(3)));
    // a list left short by a reload: only the entries below its last one
    EXPECT_TRUE(PickIndexAccepted(1, 1, 10, 3));
    EXPECT_FALSE(PickIndexAccepted(2, 1, 10, 3));  // its last entry
    EXPECT_FALSE(PickIndexAccepted(3, 1, 10, 3));
    EXPECT_FALSE(PickIndexAccepted(0, 0, 10, 1));
    EXPECT_FALSE(PickIndexAccepted(1, 1, 10, 0));
    // a list left long: only the model's range
    EXPECT_FALSE(PickIndexAccepted(6, 1, 5, 100));
    EXPECT_EQ(SelectionLength(-1), 1u);  // released model
    EXPECT_EQ(SelectionLength(-5), 0u);
}

TEST(PickMath, ModesSetClearToggleAndIgnoreTheRest) {
    std::vector<TBool> list(3, 0);
    ApplyPickMode(list, 1, kPickSelect);
    EXPECT_EQ(list[1], 1);
    ApplyPickMode(list, 1, kPickSelect);
    EXPECT_EQ(list[1], 1);
    ApplyPickMode(list, 1, kPickDeselect);
    EXPECT_EQ(list[1], 0);
    ApplyPickMode(list, 1, kPickToggle);
    EXPECT_EQ(list[1], 1);
    ApplyPickMode(list, 1, kPickToggle);
    EXPECT_EQ(list[1], 0);
    for (int mode = 3; mode < 256; ++mode) ApplyPickMode(list, 1, static_cast<uint8_t>(mode));
    EXPECT_EQ(list[1], 0);
    list[2] = 1;
    ApplyPickMode(list, 2, 3);
    EXPECT_EQ(list[2], 1);
    EXPECT_TRUE(SelFlag(list, 2));
    EXPECT_FALSE(SelFlag(list, 3));
    EXPECT_FALSE(SelFlag(list, -1));
    EXPECT_FALSE(SelFlag({}, 0));
}

TEST(PickMath, PickRowIsThePixelUnderThePointer) {
    EXPECT_EQ(PickRow(0, 480), 479);  // top row, not the row outside the viewport
    EXPECT_EQ(PickRow(479, 480), 0);
    EXPECT_TRUE(PickInside(0, 0, 10, 10));
    EXPECT_TRUE(PickInside(9, 9, 10, 10));
    EXPECT_FALSE(PickInside(10, 0, 10, 10));
    EXPECT_FALSE(PickInside(0, 10, 10, 10));
    EXPECT_FALSE(PickInside(-1, 0, 10, 10));
    EXPECT_FALSE(PickInside(0, -1, 10, 10));
    EXPECT_FALSE(PickInside(0, 0, 0, 0));
}

TEST(PickMath, StippleIsAOnePixelCheckerboard) {
    for (int row = 0; row < 32; ++row)
        for (int b = 0; b < 4; ++b) EXPECT_EQ(kSelectionStipple[row * 4 + b], row % 2 ? 0x55 : 0xAA) << row;
}

TEST(FaceWalk, RunningNumbersCountHiddenFacesAndContinueAcrossGroups) {
    TModelBuilder b;
    b.Group();
    b.Rect(0, 0, 1, 1);
    b.Rect(1, 0, 2, 1);
    b.Rect(2, 0, 3, 1);
    b.Group();  // empty group: takes no number
    b.Group();
    b.Rect(0, 1, 1, 2);
    b.Rect(1, 1, 2, 2);
    TKGLModel& m = b.Finish();
    m.groups[0].faces[2].visible = 0;
    std::vector<std::array<int64_t, 3>> seen;
    detail::WalkVisibleFaces(m, [&](const TFace&, int32_t g, int64_t n) { seen.push_back({g, n, 0}); });
    EXPECT_EQ(seen, (std::vector<std::array<int64_t, 3>>{{0, 1, 0}, {0, 3, 0}, {2, 4, 0}, {2, 5, 0}}));
    EXPECT_EQ(FirstFaceNumber(m, 0), 1);
    EXPECT_EQ(FirstFaceNumber(m, 2), 4);
}

TEST(FaceWalk, DamagedTablesAreNeverReadOutside) {
    TModelBuilder b;
    b.Group();
    const int32_t v1 = b.Vertex(1, 2, 3);
    const int32_t v2 = b.Vertex(4, 5, 6);
    b.Face({v1, v2, 99});
    TKGLModel& m = b.Finish();
    // corners: out-of-range vertex at the origin, target out of range ignored
    EXPECT_EQ(&detail::CornerVertex(m, 99), &detail::kOrigin);
    EXPECT_EQ(&detail::CornerVertex(m, -3), &detail::kOrigin);
    m.vertices[v1].target = 1000;
    EXPECT_EQ(&detail::CornerVertex(m, v1), &m.vertices[v1]);
    EXPECT_FALSE(detail::CornerMerged(m, v1));
    m.vertices[v1].target = v2;
    EXPECT_EQ(&detail::CornerVertex(m, v1), &m.vertices[v2]);
    EXPECT_TRUE(detail::CornerMerged(m, v1));
    m.vertices[v1].target = kTargetPinned;
    EXPECT_EQ(&detail::CornerVertex(m, v1), &m.vertices[v1]);
    EXPECT_EQ(detail::CornerTexCoord(m, 7, false), nullptr);
    EXPECT_EQ(detail::CornerNormal(m, -1), nullptr);
    // count beyond vIdx, fCount and gCount beyond their tables
    m.groups[0].faces[1].count = 9;
    EXPECT_EQ(ReadableCorners(m.groups[0].faces[1]), 3u);
    m.groups[0].fCount = 50;
    m.gCount = 20;
    int faces = 0;
    detail::WalkVisibleFaces(m, [&](const TFace&, int32_t, int64_t) { ++faces; });
    EXPECT_EQ(faces, 1);  // the spare face after it is invisible, nothing else exists
    EXPECT_EQ(FaceAt(m, 0, 1), &m.groups[0].faces[1]);
    EXPECT_EQ(FaceAt(m, 0, 100), nullptr);
    EXPECT_EQ(FaceAt(m, 30, 1), nullptr);
    EXPECT_EQ(FaceAt(m, 0, 0), nullptr);
}

TEST(FaceWalk, TexCoordTargetsAreFollowedOnlyForMergedCorners) {
    TModelBuilder b;
    const int32_t t1 = b.TexCoord(0.1f, 0.2f);
    const int32_t t2 = b.TexCoord(0.3f, 0.4f);
    TKGLModel& m = b.Finish();
    m.texCoords[t1].target = t2;
    EXPECT_EQ(detail::CornerTexCoord(m, t1, false), &m.texCoords[t1]);
    EXPECT_EQ(detail::CornerTexCoord(m, t1, true), &m.texCoords[t2]);
    m.texCoords[t1].target = kTargetFree;  // merged corner, own coordinate
    EXPECT_EQ(detail::CornerTexCoord(m, t1, true), &m.texCoords[t1]);
}
