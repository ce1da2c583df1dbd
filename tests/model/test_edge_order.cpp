// The edge order by geometric error: the same entries, sorted by weight, and a table
// that Reduce walks as the simulation did (checked against Reduce itself at every
// goal); a flat plane goes interior first, a cube keeps its corners.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "KGLModel.h"
#include "hand_models.h"
#include "test_support.h"

using namespace kgl;
using kgl::test::LiteralEdges;
using kgl::test::MakeGrid;
using kgl::test::MakeModel;

namespace {

// An n x n square of quads split into triangles at z = 0, side n.
TKGLModel Plane(int n) {
    std::vector<TVec3> pos;
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x) pos.push_back({float(x), float(y), 0});
    std::vector<std::vector<int32_t>> faces;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const int32_t a = y * (n + 1) + x + 1, b = a + 1, c = a + n + 1, d = c + 1;
            faces.push_back({a, b, d});
            faces.push_back({a, d, c});
        }
    TKGLModel m = MakeModel(pos, faces, std::vector<double>(faces.size(), 0.5));
    LiteralEdges(m);
    return m;
}

// The cube [-1, 1]^3 with each side cut into n x n quads, split into triangles; the
// sides share their rims' vertices.
TKGLModel Cube(int n) {
    std::vector<TVec3> pos;
    std::map<std::tuple<int, int, int>, int32_t> index;  // grid point -> vertex
    auto vertex = [&](int i, int j, int k) {
        auto [it, added] = index.insert({{i, j, k}, static_cast<int32_t>(pos.size()) + 1});
        if (added) pos.push_back({2.0f * i / n - 1, 2.0f * j / n - 1, 2.0f * k / n - 1});
        return it->second;
    };
    std::vector<std::vector<int32_t>> faces;
    for (int axis = 0; axis < 3; ++axis)
        for (int side : {0, n})
            for (int u = 0; u < n; ++u)
                for (int v = 0; v < n; ++v) {
                    auto at = [&](int du, int dv) {
                        int p[3];
                        p[axis] = side, p[(axis + 1) % 3] = u + du, p[(axis + 2) % 3] = v + dv;
                        return vertex(p[0], p[1], p[2]);
                    };
                    faces.push_back({at(0, 0), at(1, 0), at(1, 1)});
                    faces.push_back({at(0, 0), at(1, 1), at(0, 1)});
                }
    TKGLModel m = MakeModel(pos, faces, std::vector<double>(faces.size(), 0.5));
    LiteralEdges(m);
    return m;
}

// A grid whose right half is a second group: the entries along the seam name their
// second face by its number in the other group.
TKGLModel TwoGroups() {
    TKGLModel m = MakeGrid(8, 6, 11);
    TGroup right;
    right.name = "RIGHT";
    right.faces.resize(1);
    TGroup& left = m.groups[0];
    std::vector<TFace> keep(1);
    for (int32_t f = 1; f <= left.fCount; ++f) {
        const TFace& face = left.faces[f];
        const bool isRight = m.vertices[face.vIdx[0]].x + m.vertices[face.vIdx[1]].x + m.vertices[face.vIdx[2]].x > 10;
        (isRight ? right.faces.emplace_back() : keep.emplace_back()) = face;
    }
    right.fCount = static_cast<int32_t>(right.faces.size()) - 1;
    keep.emplace_back();
    right.faces.emplace_back();
    left.faces.assign(keep.begin(), keep.end());
    left.fCount = static_cast<int32_t>(keep.size()) - 2;
    m.groups.insert(m.groups.begin() + 1, std::move(right));
    m.gCount = 1;
    LiteralEdges(m);
    return m;
}

// What Reduce has to guard: a pinned vertex, a degenerate triangle, faces of two corners
// and of one, a face on the spare vertex 0, a triangle of its own, an entry naming no face.
TKGLModel Odd() {
    TKGLModel m = MakeModel(
        {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0.5f}, {2, 0, 0}, {2, 1, 1}, {5, 5, 5}, {6, 5, 5}, {5, 6, 5}},
        {{1, 2, 3}, {3, 2, 4}, {2, 5, 4}, {4, 5, 6}, {2, 2, 5}, {1, 4}, {7, 8, 9}, {0, 3, 4}, {8}},
        {0.1, 0.2, 0.3, 0.4, 0.0, 0.6, 0.7, 0.8, 0.9}, true);
    m.vertices[6].target = kTargetPinned;
    LiteralEdges(m);
    m.edges[m.eCount - 1].face = 40;
    return m;
}

// An entry as a set member: its faces, group and end corners either way round.
using TEntryKey = std::tuple<int32_t, int32_t, int32_t, int32_t, int32_t, int>;
TEntryKey KeyOf(const TEdge& e) {
    return {e.group, e.face, e.face2, std::min(e.corner0, e.corner1), std::max(e.corner0, e.corner1), e.active};
}
std::vector<TEntryKey> Keys(const TKGLModel& m, const std::vector<TBool>* only = nullptr) {
    std::vector<TEntryKey> keys;
    for (int32_t i = 0; i <= m.eCount; ++i)
        if (!only || (*only)[i]) keys.push_back(KeyOf(m.edges[i]));
    std::sort(keys.begin(), keys.end());
    return keys;
}

struct TFixture {
    const char* name;
    std::function<TKGLModel()> make;
};
const TFixture kFixtures[] = {
    {"two triangles", kgl::test::MakeTwoTriangles},
    {"grid", [] { return MakeGrid(9, 7, 3); }},
    {"plane", [] { return Plane(6); }},
    {"cube", [] { return Cube(3); }},
    {"two groups", TwoGroups},
    {"odd", Odd},
};

}  // namespace

TEST(EdgeOrder, KeepsTheEntriesSortedByWeight) {
    for (const TFixture& fx : kFixtures) {
        TKGLModel m = fx.make();
        m.edgeSel.assign(static_cast<size_t>(m.eCount) + 2, 0);
        for (int32_t i = 0; i <= m.eCount; i += 3) m.edgeSel[i] = 1;
        const TKGLModel before = m;
        TEdgeOrderTrace trace;
        OrderEdgesByError(m, &trace);
        EXPECT_EQ(Keys(m), Keys(before)) << fx.name;
        EXPECT_EQ(Keys(m, &m.edgeSel), Keys(before, &before.edgeSel)) << fx.name << ": the selection follows";
        EXPECT_EQ(KeyOf(m.edges[m.eCount + 1]), KeyOf(before.edges[before.eCount + 1])) << fx.name;
        for (int32_t i = 1; i <= m.eCount; ++i) EXPECT_LE(m.edges[i - 1].weight, m.edges[i].weight) << fx.name << i;
        EXPECT_GT(trace.taken, 0) << fx.name;
        EXPECT_LE(trace.taken, m.eCount) << fx.name << ": Reduce never examines edges[eCount]";
        // the file keeps the order, swapped corners and all (a table naming no face is
        // refused either way)
        kgl::test::TMessageRecorder messages;
        TKGLModel back, unordered;
        const bool read = LoadKGMFromMemory(back, SaveToKGMBytes(m));
        ASSERT_EQ(read, LoadKGMFromMemory(unordered, SaveToKGMBytes(before))) << fx.name;
        for (int32_t i = 0; read && i <= m.eCount; ++i)
            EXPECT_TRUE(KeyOf(back.edges[i]) == KeyOf(m.edges[i]) && back.edges[i].corner0 == m.edges[i].corner0 &&
                        back.edges[i].weight == m.edges[i].weight)
                << fx.name << " entry " << i;
    }
}

// At every goal, Reduce collapses exactly the simulation's first steps, up to the one
// that brought `removed` to the goal, skips every other entry, and shows the faces the
// simulation had left then.
TEST(EdgeOrder, ReduceReplaysThePrefixOfTheSimulationAtEveryGoal) {
    for (const TFixture& fx : kFixtures) {
        TKGLModel m = fx.make();
        TEdgeOrderTrace trace;
        OrderEdgesByError(m, &trace);
        ASSERT_EQ(trace.removed.size(), static_cast<size_t>(trace.taken));
        for (int32_t goal = 0; goal <= m.fCount + 1; ++goal) {
            TKGLModel r = m;
            Reduce(r, static_cast<double>(goal) / m.fCount);
            int32_t last = -1;  // the last collapse Reduce made
            while (goal > 0 && last + 1 < trace.taken && (last < 0 || trace.removed[last] < goal)) ++last;
            for (int32_t i = 0; i <= m.eCount; ++i)
                ASSERT_EQ(r.edges[i].active, i <= last ? 0 : 1) << fx.name << ", goal " << goal << ", entry " << i;
            for (int32_t g = 0; g <= m.gCount; ++g)
                for (int32_t f = 1; f <= m.groups[g].fCount; ++f)
                    ASSERT_EQ(r.groups[g].faces[f].visible, trace.gone[g][f] > last ? 1 : 0)
                        << fx.name << ", goal " << goal << ", face " << g << "/" << f;
        }
    }
}

TEST(EdgeOrder, FlatPlaneGoesInteriorFirstAndTheAllZeroEntryLeads) {
    const int n = 8;
    TKGLModel m = Plane(n);
    TEdgeOrderTrace trace;
    OrderEdgesByError(m, &trace);
    EXPECT_EQ(m.edges[0].face, 0);
    EXPECT_EQ(m.edges[0].weight, 0.0);
    int borders = 0;
    for (int32_t i = 1; i < trace.taken; ++i) {
        const TVertex& gone = m.vertices[EdgeVertexB(m, m.edges[i])];  // corner1: the end retired
        const bool border = gone.x == 0 || gone.y == 0 || gone.x == n || gone.y == n;
        if (border) ++borders;
        EXPECT_TRUE(border || borders == 0) << "interior vertex retired at step " << i << " after a border one";
    }
    EXPECT_GT(borders, 0);
}

TEST(EdgeOrder, CubeKeepsItsCornersAndItsShape) {
    TKGLModel m = Cube(4);
    OrderEdgesByError(m);
    for (double fraction : {0.25, 0.5, 0.75, 1.0}) {
        Reduce(m, fraction);
        for (int32_t v = 1; v <= m.vCount; ++v) {
            const TVertex& p = m.vertices[v];
            const TVertex& drawn = m.vertices[ResolveVertex(m, v)];
            if (std::abs(p.x) == 1 && std::abs(p.y) == 1 && std::abs(p.z) == 1) {
                EXPECT_EQ(p.target, kTargetFree) << "corner " << v << " at " << fraction;
            }
            // drawn on every side it lies on: the surface stays where it was
            EXPECT_TRUE((std::abs(p.x) != 1 || drawn.x == p.x) && (std::abs(p.y) != 1 || drawn.y == p.y) &&
                        (std::abs(p.z) != 1 || drawn.z == p.z))
                << "vertex " << v << " moved off its side at " << fraction;
        }
    }
}
