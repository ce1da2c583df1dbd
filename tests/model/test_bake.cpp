// The model as shown: hand-made models baked after known reductions, and the drawn
// geometry of reduced grids against their bakes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "KGLModel.h"
#include "hand_models.h"
#include "test_support.h"

using namespace kgl;
using kgl::test::MakeGrid;
using kgl::test::MakeModel;

namespace {

std::vector<std::vector<int32_t>> Faces(const TGroup& g, const TIndexList TFace::*list) {
    std::vector<std::vector<int32_t>> out;
    for (int32_t f = 1; f <= g.fCount; ++f) {
        const TIndexList& l = g.faces[f].*list;
        out.emplace_back(l.begin(), l.end());
    }
    return out;
}

std::vector<TVec3> Positions(const TKGLModel& m) {
    std::vector<TVec3> out;
    for (int32_t i = 1; i <= m.vCount; ++i) out.push_back({m.vertices[i].x, m.vertices[i].y, m.vertices[i].z});
    return out;
}

int VisibleFaces(const TKGLModel& m) {
    int n = 0;
    for (int32_t g = 0; g <= m.gCount; ++g)
        for (int32_t f = 1; f <= m.groups[g].fCount; ++f) n += m.groups[g].faces[f].visible;
    return n;
}

// What the drawing sends for every visible face, in walk order: each corner's position
// and texture coordinate after one step of redirection.
std::vector<float> Drawn(const TKGLModel& m) {
    std::vector<float> out;
    for (int32_t g = 0; g <= m.gCount; ++g)
        for (int32_t f = 1; f <= m.groups[g].fCount; ++f) {
            const TFace& face = m.groups[g].faces[f];
            if (!face.visible) continue;
            out.push_back(-1);  // face boundary
            for (uint32_t j = 0; j < face.vIdx.size(); ++j) {
                int32_t v = face.vIdx[j];
                if (m.vertices[v].target >= 0) v = m.vertices[v].target;
                out.insert(out.end(), {m.vertices[v].x, m.vertices[v].y, m.vertices[v].z});
                if (j < face.tIdx.size()) {
                    int32_t t = face.tIdx[j];
                    if (m.texCoords[t].target >= 0) t = m.texCoords[t].target;
                    out.insert(out.end(), {m.texCoords[t].u, m.texCoords[t].v});
                }
            }
        }
    return out;
}

}  // namespace

// Three quads in a row, the first the smallest: one collapse retires vertex 2 into 1,
// hides the first quad and stretches the second over it.
TEST(Bake, QuadStripReducedByOneCollapse) {
    //  5---6---7---8
    //  | 1 | 2 | 3 |
    //  1---2---3---4
    TKGLModel m = MakeModel({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 1, 0}, {3, 1, 0}},
                            {{1, 2, 6, 5}, {2, 3, 7, 6}, {3, 4, 8, 7}}, {0.1, 0.5, 0.9}, true, true);
    kgl::test::LiteralEdges(m);
    Reduce(m, 0.34);  // goal 1
    ASSERT_EQ(VisibleFaces(m), 2);
    ASSERT_EQ(m.vertices[2].target, 1);

    TKGLModel baked;
    ASSERT_TRUE(BakeReduction(m, baked));
    EXPECT_EQ(baked.vCount, 6);  // 2 retired, 5 used by the hidden quad only
    EXPECT_EQ(baked.tCount, 6);
    EXPECT_EQ(baked.nCount, 1);
    EXPECT_EQ(baked.fCount, 2);
    EXPECT_EQ(baked.gCount, 0);
    EXPECT_EQ(baked.eCount, 7);
    // first use: old 1, 3, 7, 6, then 4, 8
    const std::vector<std::vector<int32_t>> faces{{1, 2, 3, 4}, {2, 5, 6, 3}};
    EXPECT_EQ(Faces(baked.groups[0], &TFace::vIdx), faces);
    EXPECT_EQ(Faces(baked.groups[0], &TFace::tIdx), faces);  // texture 2 went into 1 as well
    EXPECT_EQ(Faces(baked.groups[0], &TFace::nIdx), (std::vector<std::vector<int32_t>>{{1, 1, 1, 1}, {1, 1, 1, 1}}));
    EXPECT_EQ(Positions(baked), (std::vector<TVec3>{{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {3, 0, 0}, {3, 1, 0}}));
    EXPECT_EQ(baked.texCoords[2].u, 1.0f);  // old coordinate 3: (2 x 0.5, 0)
    for (int32_t i = 0; i <= baked.vCount; ++i) EXPECT_EQ(baked.vertices[i].target, kTargetFree) << i;
    EXPECT_EQ(VisibleFaces(baked), 2);
    EXPECT_EQ(Drawn(baked), Drawn(m));
    EXPECT_EQ(baked.name, "");  // one group: the model's own name
    EXPECT_EQ(baked.center, (TVec3{1.5f, 0.5f, 0}));
}

// Two groups, the first holding only the smallest triangle: it is collapsed away and
// its group stays, empty, in front of the other.
TEST(Bake, GroupLeftWithoutFacesStays) {
    TKGLModel m;
    ASSERT_TRUE(LoadOBJFromMemory(m,
                                  "v 0 0 0\nv 0.1 0 0\nv 0 0.1 0\n"
                                  "v 5 0 0\nv 8 0 0\nv 5 3 0\nv 8 3 0\n"
                                  "g small\nf 1 2 3\ng big\nf 4 5 6\nf 6 5 7\n"));
    Reduce(m, 0.34);
    ASSERT_FALSE(m.groups[0].faces[1].visible);
    TKGLModel baked;
    ASSERT_TRUE(BakeReduction(m, baked));
    ASSERT_EQ(baked.gCount, 1);
    EXPECT_EQ(baked.groups[0].name, "SMALL");
    EXPECT_EQ(baked.groups[0].fCount, 0);
    EXPECT_EQ(baked.groups[0].boxMin.x, kBoxResetMin);  // a box of nothing
    EXPECT_EQ(baked.groups[1].name, "BIG");
    EXPECT_EQ(Faces(baked.groups[1], &TFace::vIdx), (std::vector<std::vector<int32_t>>{{1, 2, 3}, {3, 2, 4}}));
    EXPECT_EQ(baked.vCount, 4);
    EXPECT_EQ(baked.fCount, 2);
    EXPECT_EQ(baked.name, "BIG");
    EXPECT_EQ(baked.boxMin, (TVec3{5, 0, 0}));  // the box of what is left
    // The empty group survives the OBJ text too.
    TKGLModel back;
    ASSERT_TRUE(LoadOBJFromMemory(back, SaveToOBJText(baked, "now")));
    EXPECT_EQ(back.gCount, 1);
    EXPECT_EQ(back.groups[0].fCount, 0);
}

// Every vertex, normal and texture coordinate used, in the order of first use: the bake
// at fraction 0 is the model, byte for byte in the KGM file.
TEST(Bake, AtZeroIsTheModel) {
    std::string obj = "g strip\n";
    for (int i = 1; i <= 8; ++i) {
        const std::string x = std::to_string(i / 2), y = std::to_string(i % 2);
        obj += "v " + x + " " + y + " " + std::to_string(i % 3) + "\nvt " + x + " " + y + "\nvn 0 0 " +
               std::to_string(i) + "\n";
    }
    obj += "g second\n";
    for (int i = 1; i + 2 <= 8; ++i) {
        const int a = i, b = i % 2 ? i + 1 : i + 2, c = i % 2 ? i + 2 : i + 1;  // alternating turns
        auto corner = [](int k) { return std::to_string(k) + "/" + std::to_string(k) + "/" + std::to_string(k); };
        obj += "f " + corner(a) + " " + corner(b) + " " + corner(c) + "\n";
    }
    TKGLModel m;
    ASSERT_TRUE(LoadOBJFromMemory(m, obj));
    Reduce(m, 0.0);
    TKGLModel baked;
    ASSERT_TRUE(BakeReduction(m, baked));
    EXPECT_EQ(SaveToKGMBytes(baked), SaveToKGMBytes(m));
}

// The bake keeps exactly the faces the reduction left visible and draws them as the
// reduced model does, whatever the fraction; everything it holds is used.
TEST(Bake, ShowsWhatTheReductionShows) {
    TKGLModel grid = MakeGrid(14, 11, 7);
    for (double fraction : {0.0, 0.1, 0.5, 0.9, 1.0}) {
        SCOPED_TRACE(fraction);
        Reduce(grid, fraction);
        TKGLModel baked;
        ASSERT_TRUE(BakeReduction(grid, baked));
        EXPECT_EQ(baked.fCount, VisibleFaces(grid));
        EXPECT_EQ(VisibleFaces(baked), baked.fCount);
        EXPECT_EQ(Drawn(baked), Drawn(grid));
        std::vector<int> used(static_cast<size_t>(baked.vCount) + 1, 0);
        for (const auto& face : Faces(baked.groups[0], &TFace::vIdx))
            for (int32_t v : face) used[static_cast<size_t>(v)] = 1;
        EXPECT_EQ(std::count(used.begin() + 1, used.end(), 1), baked.vCount);
        // and it is a model like any loaded one: saved and read back, field for field
        TKGLModel back;
        ASSERT_TRUE(LoadKGMFromMemory(back, SaveToKGMBytes(baked)));
        EXPECT_EQ(SaveToKGMBytes(back), SaveToKGMBytes(baked));
    }
    // Baking the model into itself works as into another.
    Reduce(grid, 0.5);
    const int visible = VisibleFaces(grid);
    ASSERT_TRUE(BakeReduction(grid, grid));
    EXPECT_EQ(grid.fCount, visible);
}
