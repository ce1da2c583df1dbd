// The model record: housekeeping operations and the compact index list.
#include <gtest/gtest.h>

#include <vector>

#include "KGLModel.h"

using namespace kgl;

TEST(Record, AllocateSizesEveryTableFromTheCounts) {
    TKGLModel m;
    InitModel(m);
    m.vCount = 3;
    m.nCount = 0;
    m.tCount = 0;
    m.gCount = 0;
    m.groups.resize(1);
    m.groups[0].fCount = 1;
    AllocateModel(m);
    EXPECT_EQ(m.vertices.size(), 5u);
    EXPECT_EQ(m.normals.size(), 2u);
    EXPECT_EQ(m.texCoords.size(), 2u);
    ASSERT_EQ(m.groups.size(), 2u);
    EXPECT_EQ(m.groups[0].faces.size(), 3u);
    EXPECT_TRUE(m.groups[1].faces.empty());
    EXPECT_EQ(m.groups[1].fCount, 0);
    EXPECT_EQ(m.groups[0].boxMin.x, 1e18f);
    EXPECT_EQ(m.groups[0].boxMax.z, -1e18f);
}

TEST(Record, InitResetsValuesAndKeepsGroupAndFaceSelections) {
    TKGLModel m;
    m.groupSel = {1, 0};
    m.faceSel = {0, 1, 1};
    m.edgeSel = {1};
    m.name = "OLD";
    m.diagonal = 7;
    InitModel(m);
    EXPECT_EQ(m.selColor, (TColor{1, 0, 0, 1}));
    EXPECT_EQ(m.wireColor, (TColor{1, 0.82f, 0, 1}));
    EXPECT_EQ(m.unselColor, (TColor{0.7f, 0.7f, 0.7f, 1}));
    EXPECT_TRUE(m.name.empty());
    EXPECT_EQ(m.boxMin.y, static_cast<float>(1e18));
    EXPECT_EQ(m.minArea, 1e18);
    EXPECT_EQ(m.maxArea, -1e18);
    EXPECT_TRUE(m.edgeSel.empty());
    EXPECT_EQ(m.groupSel.size(), 2u);
    EXPECT_EQ(m.faceSel.size(), 3u);
    EXPECT_EQ(m.diagonal, 7);  // left for the loader to set
}

TEST(Record, FreeLeavesCountsMinusOneAndEverythingEmpty) {
    TKGLModel m;
    m.vCount = 2;
    m.vertices.resize(4);
    m.groupSel = {1};
    m.faceSel = {1};
    FreeModel(m);
    for (int32_t c : {m.vCount, m.nCount, m.tCount, m.gCount, m.fCount, m.eCount}) EXPECT_EQ(c, -1);
    EXPECT_TRUE(m.vertices.empty() && m.groups.empty() && m.edges.empty());
    EXPECT_TRUE(m.edgeSel.empty() && m.groupSel.empty() && m.faceSel.empty());
    FreeModel(m);  // twice is harmless
    EXPECT_EQ(m.vCount, -1);
}

TEST(IndexList, GrowsPastItsInlineRoomAndKeepsEntries) {
    TIndexList l;
    for (int32_t i = 0; i < 100; ++i) l.push_back(i * 3);
    ASSERT_EQ(l.size(), 100u);
    for (int32_t i = 0; i < 100; ++i) EXPECT_EQ(l[i], i * 3);
    TIndexList copy = l;
    EXPECT_EQ(copy, l);
    TIndexList moved = std::move(copy);
    EXPECT_EQ(moved, l);
    EXPECT_TRUE(copy.empty());
    moved.resize(2);
    moved.resize(6);
    EXPECT_EQ(moved[1], 3);
    EXPECT_EQ(moved[5], 0);  // new entries are zero
    TIndexList small{1, 2, 3};
    small = l;  // inline to heap
    EXPECT_EQ(small, l);
    l = TIndexList{7};
    EXPECT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0], 7);
    // a heap list given a short one, cleared, and grown again keeps exactly its entries
    const TIndexList three{4, 5, 6};
    small = three;
    EXPECT_EQ(small, three);
    small.clear();
    EXPECT_TRUE(small.empty());
    for (int32_t i = 0; i < 9; ++i) small.push_back(-i);
    ASSERT_EQ(small.size(), 9u);
    EXPECT_EQ(small[8], -8);
    EXPECT_EQ(std::vector<int32_t>(small.begin(), small.end()),
              (std::vector<int32_t>{0, -1, -2, -3, -4, -5, -6, -7, -8}));
}

TEST(InfoText, FormatsTheTenItems) {
    TKGLModel m;
    InitModel(m);
    m.name = "CUBE";
    m.vCount = 8;
    m.fCount = 6;
    m.eCount = 12;
    m.minArea = 0;
    m.maxArea = 1;
    m.scale = 3.4641;
    EXPECT_EQ(InfoText(m, '\n'),
              "name: CUBE\nvCount: 8\nnCount: 0\ntCount: 0\ngCount: 0\nfCount: 6\neCount: 12\n"
              "minArea: 0.00\nmaxArea: 1.00\nscale: 3.46");
    EXPECT_EQ(FormatInfoNumber(2.678), "2.68");
    EXPECT_EQ(FormatInfoNumber(-12), "-12.00");
    EXPECT_EQ(FormatInfoNumber(1e18), "1.00E+18");
    EXPECT_EQ(FormatInfoNumber(-1e18), "-1.00E+18");
    // The window's numbers take the user's decimal separator, any number of bytes long.
    EXPECT_EQ(InfoText(m, '\r', ",").substr(InfoText(m, '\r', ",").find("minArea")),
              "minArea: 0,00\rmaxArea: 1,00\rscale: 3,46");
    EXPECT_EQ(FormatInfoNumber(-1e18, ","), "-1,00E+18");
    EXPECT_EQ(FormatInfoNumber(2.5, "\xd9\xab"),
              "2\xd9\xab"
              "50");
}
