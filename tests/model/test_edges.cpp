// Face measures, normalisation and the edge table, the latter checked field by field
// against the literal algorithm (linear search matching, stable sort; hand_models.h).
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "KGLModel.h"
#include "hand_models.h"
#include "test_support.h"

using namespace kgl;
using kgl::test::LiteralEdges;

namespace {

void ExpectSameEdges(const TKGLModel& a, const TKGLModel& b, const std::string& what) {
    ASSERT_EQ(a.eCount, b.eCount) << what;
    ASSERT_EQ(a.edges.size(), b.edges.size()) << what;
    for (size_t i = 0; i < a.edges.size(); ++i) {
        const TEdge &x = a.edges[i], &y = b.edges[i];
        ASSERT_TRUE(x.corner0 == y.corner0 && x.corner1 == y.corner1 && x.face == y.face && x.face2 == y.face2 &&
                    x.group == y.group && x.active == y.active && x.weight == y.weight)
            << what << " entry " << i << ": (" << x.corner0 << "," << x.corner1 << "," << x.face << "," << x.face2
            << "," << x.group << "," << x.weight << "," << int(x.active) << ") vs (" << y.corner0 << "," << y.corner1
            << "," << y.face << "," << y.face2 << "," << y.group << "," << y.weight << "," << int(y.active) << ")";
    }
}

// A random model: few vertices so sides are shared by 1 .. many faces, faces of 0 to 6
// corners (repeated vertices allowed), repeated faces, several groups, tied weights.
TKGLModel RandomModel(std::mt19937& rng) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    TKGLModel m;
    InitModel(m);
    m.vCount = pick(2, 12);
    m.gCount = pick(0, 3);
    m.groups.resize(m.gCount + 2);
    for (int g = 0; g <= m.gCount; ++g) m.groups[g].fCount = pick(0, 25);
    AllocateModel(m);
    const double weights[] = {0.0, 0.25, 0.5, 0.75, 1.0, 0.125};
    for (int g = 0; g <= m.gCount; ++g) {
        TGroup& group = m.groups[g];
        for (int f = 1; f <= group.fCount; ++f) {
            TFace& face = group.faces[f];
            if (f > 1 && pick(0, 5) == 0) {
                face = group.faces[f - 1];  // a repeated face
                continue;
            }
            const int shape = pick(0, 9);
            face.count = shape == 0 ? 2 : shape == 1 ? 0 : pick(1, 6);
            for (int j = 0; j < face.count; ++j) face.vIdx.push_back(pick(1, m.vCount));
            face.area = pick(0, 3) == 0 ? std::uniform_real_distribution<double>(0, 1)(rng) : weights[pick(0, 5)];
            face.visible = 1;
        }
        m.fCount += group.fCount;
    }
    return m;
}

TKGLModel LoadText(const std::string& text) {
    TKGLModel m;
    InitModel(m);
    EXPECT_TRUE(LoadOBJFromMemory(m, text));
    return m;
}

}  // namespace

// On one thread and, forced, on three, each taking a range of the faces.
TEST(Edges, MatchTheLiteralAlgorithmOnRandomMeshes) {
    std::mt19937 rng(20240607);
    for (int round = 0; round < 400; ++round) {
        TKGLModel model = RandomModel(rng);
        TKGLModel literal = model;
        LiteralEdges(literal);
        for (int32_t threads : {1, 3}) {
            SetLoadThreads(threads);
            TKGLModel fast = model;
            BuildEdges(fast);
            ExpectSameEdges(fast, literal, "round " + std::to_string(round) + ", threads " + std::to_string(threads));
        }
        SetLoadThreads(0);
        if (HasFatalFailure()) return;
    }
}

TEST(Edges, MatchTheLiteralAlgorithmOnALoadedGrid) {
    // a grid with varied spacing: many distinct weights, ties, shared sides; enough entries
    // for the weight sort's buckets to fill several coarse ones
    std::string text;
    const int n = 40;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i)
            text += "v " + std::to_string(i + (i % 3) * 0.25) + " " + std::to_string(j * 1.5 + (j % 2) * 0.5) + " 0\n";
    text += "g a\n";
    for (int j = 0; j < n; ++j) {
        if (j == n / 2) text += "g b\n";
        for (int i = 0; i < n; ++i) {
            int a = j * (n + 1) + i + 1, c = a + n + 1;
            if ((i + j) % 4 == 0)
                text += "f " + std::to_string(a) + " " + std::to_string(a + 1) + " " + std::to_string(c + 1) + " " +
                        std::to_string(c) + "\n";
            else
                text += "f " + std::to_string(a) + " " + std::to_string(a + 1) + " " + std::to_string(c + 1) + "\nf " +
                        std::to_string(a) + " " + std::to_string(c + 1) + " " + std::to_string(c) + "\n";
        }
    }
    for (int32_t threads : {1, 3}) {
        SetLoadThreads(threads);
        TKGLModel fast = LoadText(text);
        TKGLModel literal = fast;
        LiteralEdges(literal);
        ExpectSameEdges(fast, literal, "grid, threads " + std::to_string(threads));
        EXPECT_GT(fast.eCount, 2 * n * n);
    }
    SetLoadThreads(0);
}

TEST(Edges, SingleTriangle) {
    TKGLModel m = LoadText("v 0 0 0\nv 3 0 0\nv 3 4 0\nf 1 2 3\n");
    EXPECT_EQ(m.minArea, 3.5);
    EXPECT_EQ(m.maxArea, 3.5);
    ASSERT_EQ(m.eCount, 3);
    ASSERT_EQ(m.edges.size(), 5u);
    // one face: every area and weight is +0.0, so the edges keep their order and
    // the all-zero entry follows them
    const int32_t ends[3][2] = {{0, 1}, {1, 2}, {0, 2}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(m.edges[i].corner0, ends[i][0]);
        EXPECT_EQ(m.edges[i].corner1, ends[i][1]);
        EXPECT_EQ(m.edges[i].face, 1);
        EXPECT_EQ(m.edges[i].face2, kNoFace);
        EXPECT_EQ(m.edges[i].weight, 0.0);
        EXPECT_FALSE(std::signbit(m.edges[i].weight));
    }
    EXPECT_EQ(m.edges[3].face, 0);
    EXPECT_EQ(m.edges[3].face2, 0);
    EXPECT_EQ(m.edges[4].face, 0);
    EXPECT_FALSE(std::signbit(m.groups[0].faces[0].area));  // the spare slot too
    EXPECT_EQ(m.groups[0].faces[1].area, 0.0);
    EXPECT_EQ(EdgeVertexA(m, m.edges[2]), 1);
    EXPECT_EQ(EdgeVertexB(m, m.edges[2]), 3);
    EXPECT_EQ(EdgeVertexA(m, m.edges[3]), 0);
}

TEST(Edges, SharedSideAndZeroEntryPlacement) {
    // two triangles of different size sharing 2-3
    TKGLModel m = LoadText("v 0 0 0\nv 2 0 0\nv 0 2 0\nv 8 8 0\nf 1 2 3\nf 3 2 4\n");
    ASSERT_EQ(m.eCount, 5);
    int shared = 0;
    for (int i = 0; i <= m.eCount; ++i) {
        const TEdge& e = m.edges[i];
        if (e.active) {
            ++shared;
            EXPECT_EQ(e.face, 1);
            EXPECT_EQ(e.face2, 2);
            EXPECT_EQ(e.weight, 0.5);  // mean of normalised areas 0 and 1
        }
        if (i > 0) {
            EXPECT_LE(m.edges[i - 1].weight, e.weight);
        }
    }
    EXPECT_EQ(shared, 1);
    // face 1 has area 0: its two unshared edges come first, then the all-zero entry
    EXPECT_EQ(m.edges[0].face, 1);
    EXPECT_EQ(m.edges[1].face, 1);
    EXPECT_EQ(m.edges[2].face, 0);
    EXPECT_EQ(m.edges[2].weight, 0.0);
    EXPECT_EQ(m.edges[3].weight, 0.5);
    EXPECT_EQ(m.edges[6].face, 0);
}

TEST(Edges, TwoCornerFacesAndThirdFacesAlongASide) {
    TKGLModel m = LoadText("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2\nf 1 2 3\nf 2 1 3\nf 1 2 3\n");
    // f1 (1,2) twice: one entry with face2 == face
    EXPECT_EQ(m.edges[0].face, 1);
    EXPECT_EQ(m.edges[0].face2, 1);
    EXPECT_TRUE(m.edges[0].active);
    // side 1-2 of faces 2, 3, 4: faces 2 and 3 pair, face 4 starts a new entry
    TKGLModel literal = m;
    LiteralEdges(literal);
    ExpectSameEdges(m, literal, "two corners");
}

TEST(Edges, TableGrowsPastThreeTimesTheVertexCount) {
    std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    for (int i = 0; i < 40; ++i) text += "f 1 2 3\n";
    TKGLModel m = LoadText(text);
    EXPECT_EQ(m.eCount, 60);  // every third face along a side starts an entry again
    EXPECT_EQ(m.edges.size(), 62u);
}

TEST(Measures, OffsetQuantisesCoordinates) {
    TVertices line = {{1000000.0f, 1000000.0f, 1000000.0f}, {1000000.0625f, 1000000.0f, 1000000.0f}};
    EXPECT_EQ(FaceMeasure(line), 0.0625);
    EXPECT_EQ(FaceMeasure({}), 0.0);
    EXPECT_EQ(FaceMeasure({{1, 2, 3}}), 0.0);
    // open chain: the closing side does not count
    EXPECT_EQ(FaceMeasure({{0, 0, 0}, {3, 0, 0}, {3, 4, 0}}), 3.5);

    TKGLModel m = LoadText("v 0 0 0\nv 0.01 0 0\nv 0.01 0.01 0\nv 0.05 0 0\nf 1 2 3\nf 1 4\n");
    EXPECT_EQ(m.minArea, 0.0);
    EXPECT_EQ(m.maxArea, 0.0625);
    EXPECT_EQ(m.groups[0].faces[1].area, 0.0);
    EXPECT_EQ(m.groups[0].faces[2].area, 1.0);
    EXPECT_EQ(m.groups[0].faces[0].area, 0.0);  // slot 0 normalised like the rest
}

TEST(Measures, BoxesCentreCentroidAndScale) {
    TKGLModel m = LoadText("v 0 0 0\nv 2 0 0\nv 2 2 0\nv 9 9 9\ng a\nf 1 2 3\ng b\nf 2 3 4\n");
    EXPECT_EQ(m.center.x, 4.5f);
    EXPECT_EQ(m.centroid.x, 13.0f / 4);
    EXPECT_DOUBLE_EQ(m.scale, std::sqrt(81.0 * 3));
    EXPECT_EQ(m.diagonal, m.scale);
    EXPECT_EQ(m.groups[0].boxMin.x, 0.0f);
    EXPECT_EQ(m.groups[0].boxMax.x, 2.0f);
    EXPECT_EQ(m.groups[0].boxMax.z, 0.0f);
    EXPECT_EQ(m.groups[1].boxMin.x, 2.0f);
    EXPECT_EQ(m.groups[1].boxMax.z, 9.0f);
    EXPECT_EQ(m.name, "B");

    TKGLModel empty = LoadText("# nothing\n");
    EXPECT_TRUE(std::isnan(empty.centroid.x));
    EXPECT_EQ(empty.minArea, 1e18);
    EXPECT_EQ(empty.eCount, 0);
    EXPECT_EQ(empty.edges.size(), 2u);
}
