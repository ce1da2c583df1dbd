// Level-of-detail reduction: the collapse loop, the resolve and degenerate passes,
// goal rounding, pinned elements and the guards on indices that name nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <utility>

#include "KGLModel.h"
#include "hand_models.h"

using namespace kgl;
using kgl::test::MakeGrid;
using kgl::test::MakeModel;
using kgl::test::MakeTwoTriangles;

namespace {

// The reduction state: what Reduce writes.
struct TState {
    std::vector<int32_t> targets, merges, texTargets;
    std::vector<int> visible, active;
    friend bool operator==(const TState&, const TState&) = default;
};

TState StateOf(const TKGLModel& m) {
    TState s;
    for (const TVertex& v : m.vertices) {
        s.targets.push_back(v.target);
        s.merges.push_back(v.merges);
    }
    for (const TTexCoord& t : m.texCoords) s.texTargets.push_back(t.target);
    for (const TGroup& g : m.groups)
        for (const TFace& f : g.faces) s.visible.push_back(f.visible);
    for (const TEdge& e : m.edges) s.active.push_back(e.active);
    return s;
}

int Hidden(const TKGLModel& m) {
    int n = 0;
    for (int32_t g = 0; g <= m.gCount; ++g)
        for (int32_t f = 1; f <= m.groups[g].fCount; ++f) n += m.groups[g].faces[f].visible ? 0 : 1;
    return n;
}

// n triangles with their own vertices and one edge each (weights ascending), so each
// collapse hides exactly one face and nothing else.
TKGLModel Separate(int n) {
    std::vector<TVec3> pos;
    std::vector<std::vector<int32_t>> faces;
    std::vector<double> areas;
    for (int i = 0; i < n; ++i) {
        for (int k = 0; k < 3; ++k) pos.push_back({float(i), float(k), 0});
        faces.push_back({3 * i + 1, 3 * i + 2, 3 * i + 3});
        areas.push_back(0.1 * (i + 1));
    }
    TKGLModel m = MakeModel(pos, faces, areas);
    for (int i = 0; i < n; ++i) m.edges.push_back(TEdge{0, 1, i + 1, kNoFace, 0, 0, areas[i]});
    m.edges.push_back(TEdge{});
    m.edges.push_back(TEdge{});
    m.eCount = n;
    return m;
}

// The reduction written out step by step as its rules read: separate reset, collapse
// loop with i not advanced after a collapse, full resolve pass, full degenerate pass.
// Indices that name nothing are never followed: an edge's ends are 0 without a face
// 1 .. fCount of its group or past its corners, an end outside the vertices skips the
// edge, face counts only as a face of the group and face2 only as one with the edge as a
// side, texture indices outside the table are left alone, and a face has as many corners as it has both count and vIdx.
void LiteralReduce(TKGLModel& m, double fraction) {
    if (m.vCount < 1 || m.fCount < 1) return;
    for (int32_t v = 0; v <= m.vCount; ++v) {
        if (m.vertices[v].target != -2) m.vertices[v].target = -1;
        m.vertices[v].merges = 0;
    }
    for (int32_t t = 0; t <= m.tCount; ++t)
        if (m.texCoords[t].target != -2) m.texCoords[t].target = -1;
    for (int32_t g = 0; g <= m.gCount; ++g)
        for (int32_t f = 1; f <= m.groups[g].fCount; ++f) m.groups[g].faces[f].visible = 1;
    for (int32_t e = 0; e <= m.eCount; ++e) m.edges[e].active = 1;
    auto isVertex = [&m](int32_t v) { return v >= 0 && v <= m.vCount; };
    auto isTexCoord = [&m](int32_t t) { return t >= 0 && t <= m.tCount; };
    auto corners = [](const TFace& f) { return std::min<int32_t>(f.count, static_cast<int32_t>(f.vIdx.size())); };
    double goal = std::nearbyint(m.fCount * fraction);
    int removed = 0, i = 0;
    while (removed < goal && i < m.eCount) {
        TEdge& e = m.edges[i];
        int32_t a = kgl::test::EndA(m, e), b = kgl::test::EndB(m, e);
        if (!isVertex(a) || !isVertex(b) || m.vertices[a].target != -1 || m.vertices[b].target != -1) {
            ++i;
            continue;
        }
        m.vertices[b].target = a;
        m.vertices[b].merges += 1;
        TFace* f = const_cast<TFace*>(kgl::test::FaceOf(m, e.group, e.face));
        TFace* f2 = e.face2 != kNoFace ? const_cast<TFace*>(kgl::test::FaceOf(m, e.group, e.face2)) : nullptr;
        // face2 is the second face only when it has the edge as a side (from a to b)
        bool onEdge = false;
        for (int32_t j = 0, n = f2 ? corners(*f2) : 0; j < n; ++j) {
            const int32_t x = f2->vIdx[j], y = f2->vIdx[(j + 1) % n];
            onEdge = onEdge || (x == a && y == b) || (x == b && y == a);
        }
        if (!onEdge) f2 = nullptr;
        const int32_t texSlots = f ? static_cast<int32_t>(f->tIdx.size()) : 0;
        if (e.corner0 >= 0 && e.corner0 < texSlots && e.corner1 >= 0 && e.corner1 < texSlots) {
            const int32_t from = f->tIdx[e.corner1], to = f->tIdx[e.corner0];
            if (isTexCoord(from) && isTexCoord(to) && m.texCoords[from].target == -1) m.texCoords[from].target = to;
        }
        if (f && f->visible) ++removed;
        if (f2 && f2->visible) ++removed;
        if (f) f->visible = 0;
        if (f2) f2->visible = 0;
        e.active = 0;
    }
    for (int32_t g = 0; g <= m.gCount; ++g)
        for (int32_t fi = 1; fi <= m.groups[g].fCount; ++fi) {
            TFace& f = m.groups[g].faces[fi];
            if (!f.visible) continue;
            for (int32_t j = 0; j < corners(f); ++j)
                if (isVertex(f.vIdx[j]) && m.vertices[f.vIdx[j]].target >= 0)
                    m.vertices[f.vIdx[j]].target = ResolveVertex(m, f.vIdx[j]);
            for (int32_t t : f.tIdx)
                if (isTexCoord(t) && m.texCoords[t].target >= 0) m.texCoords[t].target = ResolveTexCoord(m, t);
        }
    for (int32_t g = 0; g <= m.gCount; ++g)
        for (int32_t fi = 1; fi <= m.groups[g].fCount; ++fi) {
            TFace& f = m.groups[g].faces[fi];
            const int32_t n = corners(f);
            if (!f.visible || n < 1) continue;
            auto mp = [&](int32_t v) { return isVertex(v) && m.vertices[v].target >= 0 ? m.vertices[v].target : v; };
            bool deg = mp(f.vIdx[0]) == mp(f.vIdx[n - 1]);
            for (int32_t j = 0; j + 1 < n; ++j) deg = deg || mp(f.vIdx[j]) == mp(f.vIdx[j + 1]);
            if (deg) f.visible = 0;
        }
}

}  // namespace

TEST(Reduce, MatchesTheStepByStepRulesOnRandomMeshes) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        TKGLModel base = MakeGrid(9 + seed, 7 + seed % 3, seed);
        if (seed % 2) base.vertices[seed * 5].target = kTargetPinned;
        for (double fraction : {0.0, 0.05, 0.25, 0.5, 0.77, 1.0, 1.5}) {
            TKGLModel fast = base, literal = base;
            Reduce(fast, fraction);
            LiteralReduce(literal, fraction);
            EXPECT_TRUE(StateOf(fast) == StateOf(literal)) << "seed " << seed << " fraction " << fraction;
        }
    }
}

// One- and two-corner faces and quads among triangles: a two-corner face is both faces
// of its own edge and counts twice when that edge collapses; a one-corner face is
// degenerate on its own.
TEST(Reduce, MatchesTheStepByStepRulesWithShortFacesAndQuads) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        std::mt19937 rng(seed);
        std::vector<TVec3> pos(40);
        std::vector<std::vector<int32_t>> faces;
        std::vector<double> areas;
        std::uniform_int_distribution<int32_t> vertex(1, 40), corners(1, 4);
        std::uniform_real_distribution<double> area(0, 1);
        for (int f = 0; f < 60; ++f) {
            std::vector<int32_t> face;
            for (int32_t c = corners(rng); c > 0; --c) face.push_back(vertex(rng));
            faces.push_back(face);
            areas.push_back(f % 7 == 0 ? 0.25 : area(rng));  // some ties
        }
        TKGLModel base = MakeModel(pos, faces, areas, true);
        kgl::test::LiteralEdges(base);
        for (double fraction : {0.1, 0.3, 0.5, 0.8, 1.0}) {
            TKGLModel fast = base, literal = base;
            Reduce(fast, fraction);
            LiteralReduce(literal, fraction);
            EXPECT_TRUE(StateOf(fast) == StateOf(literal)) << "seed " << seed << " fraction " << fraction;
        }
    }
}

TEST(Reduce, TwoCornerFaceCountsTwiceWhenItsEdgeCollapses) {
    // f 1 2 (the lightest, its side twice: face2 == face) and a triangle f 3 4 5
    TKGLModel m = MakeModel({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {2, 1, 0}}, {{1, 2}, {3, 4, 5}}, {0.0, 1.0});
    kgl::test::LiteralEdges(m);
    ASSERT_EQ(m.edges[0].face, 1);
    ASSERT_EQ(m.edges[0].face2, 1);
    Reduce(m, 1.0);  // goal 2: the one collapse counts face 1 twice, so nothing else collapses
    EXPECT_EQ(m.vertices[2].target, 1);
    EXPECT_EQ(m.groups[0].faces[1].visible, 0);
    EXPECT_EQ(m.groups[0].faces[2].visible, 1);
    for (int32_t v = 3; v <= 5; ++v) EXPECT_EQ(m.vertices[v].target, kTargetFree);
}

// The reduction keeps end points and texture pairs of the edges beside the model; an
// operation that renumbers them must not leave the old ones in use.
TEST(Reduce, FollowsTheEdgesAndTextureNumbersAsTheyAreNow) {
    TKGLModel m = MakeGrid(12, 9, 3);
    Reduce(m, 0.5);  // builds the tables
    // every texture coordinate distinct and used: the rewrite renumbers in first-use order
    OptimizeTexCoords(m);
    TKGLModel literal = m;
    Reduce(m, 0.5);
    LiteralReduce(literal, 0.5);
    EXPECT_TRUE(StateOf(m) == StateOf(literal));

    // edges put in another order by hand, in a copy (which builds tables of its own)
    TKGLModel reordered = m;
    std::reverse(reordered.edges.begin(), reordered.edges.begin() + reordered.eCount);
    literal = reordered;
    Reduce(reordered, 0.4);
    LiteralReduce(literal, 0.4);
    EXPECT_TRUE(StateOf(reordered) == StateOf(literal));
}

// The tables are built once per state of the model: slider moves reuse them, the
// operations that replace what they derive from make the next call build them again.
TEST(Reduce, SliderCallsReuseTheTablesOfTheLoad) {
    TKGLModel m = MakeGrid(10, 10, 5);
    EXPECT_EQ(m.reduction.Builds(), 0u);
    Reduce(m, 0.0);  // as LoadFromFile does
    for (double fraction : {0.1, 0.7, 0.3, 1.0}) Reduce(m, fraction);
    EXPECT_EQ(m.reduction.Builds(), 1u);
    // a copy is a model of its own
    TKGLModel copy = m;
    EXPECT_EQ(copy.reduction.Builds(), 0u);
    Reduce(copy, 0.5);
    Reduce(m, 0.5);
    EXPECT_TRUE(StateOf(copy) == StateOf(m));
    const std::pair<const char*, std::function<void(TKGLModel&)>> replacing[] = {
        {"OptimizeTexCoords", [](TKGLModel& x) { OptimizeTexCoords(x); }},
        {"BuildEdges", [](TKGLModel& x) { BuildEdges(x); }},
        {"AllocateModel", [](TKGLModel& x) { AllocateModel(x); }},
    };
    for (const auto& [name, change] : replacing) {
        TKGLModel x = MakeGrid(6, 5, 2);
        Reduce(x, 0.3);
        change(x);
        Reduce(x, 0.3);
        EXPECT_EQ(x.reduction.Builds(), 2u) << name;
    }
}

TEST(Reduce, TwoTrianglesAtFullFractionFollowTheWorkedExample) {
    TKGLModel m = MakeTwoTriangles();
    // the sorted table: (1,2), (1,3), the all-zero entry, (2,3), (2,4), (3,4)
    ASSERT_EQ(m.eCount, 5);
    EXPECT_EQ(m.edges[2].face, 0);
    EXPECT_EQ(m.edges[3].face2, 2);
    Reduce(m, 1.0);
    EXPECT_EQ(m.vertices[2].target, 1);
    EXPECT_EQ(m.vertices[3].target, 1);
    EXPECT_EQ(m.vertices[0].target, 0);  // the all-zero entry points vertex 0 at itself
    EXPECT_EQ(m.vertices[4].target, kTargetFree);
    EXPECT_EQ(m.vertices[1].target, kTargetFree);
    EXPECT_EQ(m.vertices[2].merges, 1);
    EXPECT_EQ(m.vertices[3].merges, 1);
    EXPECT_EQ(m.vertices[0].merges, 1);
    EXPECT_EQ(m.groups[0].faces[1].visible, 0);
    EXPECT_EQ(m.groups[0].faces[2].visible, 0);  // degenerate: corners map to 1, 1, 4
    // collapsed entries inactive, the skipped and the unexamined ones active
    std::vector<int> active;
    for (int32_t e = 0; e <= m.eCount; ++e) active.push_back(m.edges[e].active);
    EXPECT_EQ(active, (std::vector<int>{0, 0, 0, 1, 1, 1}));
    // texture coordinates follow the first face's corners
    EXPECT_EQ(m.texCoords[2].target, 1);
    EXPECT_EQ(m.texCoords[3].target, 1);
}

TEST(Reduce, ZeroFractionResetsEverythingButPinnedTargets) {
    TKGLModel m = MakeTwoTriangles();
    Reduce(m, 1.0);
    m.vertices[4].target = kTargetPinned;
    m.texCoords[4].target = kTargetPinned;
    Reduce(m, 0.0);
    for (int32_t v = 0; v <= m.vCount; ++v) {
        EXPECT_EQ(m.vertices[v].target, v == 4 ? kTargetPinned : kTargetFree);
        EXPECT_EQ(m.vertices[v].merges, 0);
    }
    EXPECT_EQ(m.texCoords[4].target, kTargetPinned);
    EXPECT_EQ(m.texCoords[3].target, kTargetFree);
    EXPECT_EQ(Hidden(m), 0);
    for (int32_t e = 0; e <= m.eCount; ++e) EXPECT_EQ(m.edges[e].active, 1);
}

TEST(Reduce, GoalRoundsHalvesToEven) {
    struct {
        int faces;
        double fraction;
        int hidden;
    } cases[] = {{5, 0.5, 2}, {7, 0.5, 4}, {6, 0.25, 2}, {4, 0.3, 1}, {4, -0.5, 0}, {4, 2.0, 4}};
    for (const auto& c : cases) {
        TKGLModel m = Separate(c.faces);
        Reduce(m, c.fraction);
        EXPECT_EQ(Hidden(m), c.hidden) << c.faces << " faces at " << c.fraction;
    }
}

TEST(Reduce, EachCallStartsFromTheFullModel) {
    TKGLModel a = MakeGrid(12, 9, 7);
    TKGLModel b = a;
    Reduce(a, 0.3);
    Reduce(a, 0.1);
    Reduce(b, 0.1);
    EXPECT_TRUE(StateOf(a) == StateOf(b));
    Reduce(a, 0.8);
    Reduce(a, 0.8);
    Reduce(b, 0.8);
    EXPECT_TRUE(StateOf(a) == StateOf(b));
}

TEST(Reduce, VisibleCornersPointAtTheEndOfTheirChainAndHiddenFacesGrow) {
    for (unsigned seed = 1; seed <= 5; ++seed) {
        TKGLModel m = MakeGrid(15, 11, seed);
        int last = 0;
        for (int pct = 0; pct <= 100; pct += 10) {
            Reduce(m, pct / 100.0);
            int hidden = Hidden(m);
            EXPECT_GE(hidden, last);
            last = hidden;
            for (int32_t f = 1; f <= m.groups[0].fCount; ++f) {
                const TFace& face = m.groups[0].faces[f];
                if (!face.visible) continue;
                for (int32_t v : face.vIdx) {
                    int32_t t = m.vertices[v].target;
                    if (t >= 0) {
                        EXPECT_LT(m.vertices[t].target, 0) << "corner not resolved";
                    }
                }
                for (int32_t t : face.tIdx) {
                    int32_t n = m.texCoords[t].target;
                    if (n >= 0 && n != t) {
                        EXPECT_TRUE(m.texCoords[n].target < 0 || m.texCoords[n].target == n);
                    }
                }
            }
        }
    }
}

TEST(Reduce, PinnedVertexIsNeverMergedNorADestination) {
    TKGLModel m = MakeTwoTriangles();
    m.vertices[2].target = kTargetPinned;
    Reduce(m, 1.0);
    EXPECT_EQ(m.vertices[2].target, kTargetPinned);
    EXPECT_EQ(m.vertices[3].target, 1);  // (1,3) still collapses
    EXPECT_EQ(m.groups[0].faces[1].visible, 0);
    EXPECT_EQ(m.groups[0].faces[2].visible, 1);  // 1, 2, 4: still a triangle

    TKGLModel g = MakeGrid(10, 10, 3);
    for (int32_t v = 1; v <= g.vCount; v += 3) g.vertices[v].target = kTargetPinned;
    Reduce(g, 1.0);
    for (int32_t v = 1; v <= g.vCount; ++v) {
        if (v % 3 == 1) {
            EXPECT_EQ(g.vertices[v].target, kTargetPinned);
        } else if (g.vertices[v].target >= 0) {
            EXPECT_NE((g.vertices[v].target - 1) % 3, 0) << "merged into a pinned vertex";
        }
    }
}

TEST(Reduce, QuadWithTwoMergedNeighboursBecomesInvisible) {
    // quad 1 2 3 4 and a triangle 1 5 2 whose light edge (1,2) merges 2 into 1
    TKGLModel m =
        MakeModel({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5f, -1, 0}}, {{1, 2, 3, 4}, {1, 5, 2}}, {1.0, 0.0});
    m.edges = {TEdge{0, 2, 2, kNoFace, 0, 0, 0.0}, TEdge{}, TEdge{}};  // (1,2) through the triangle
    m.eCount = 1;
    Reduce(m, 0.5);
    EXPECT_EQ(m.vertices[2].target, 1);
    EXPECT_EQ(m.groups[0].faces[2].visible, 0);
    EXPECT_EQ(m.groups[0].faces[1].visible, 0);  // 1, 1, 3, 4
}

// A face2 that is not the edge's second face is neither counted nor hidden: one that
// names no face, and one that names a face of the group far from the edge, as an edge
// between two groups does (its second face is numbered in the other group).
TEST(Reduce, OnlyASecondFaceOnTheEdgeIsCountedAndHidden) {
    // two separate triangles; the first edge names a second face that is not on it
    for (int32_t face2 : {2, 3, 99, 0, -7, INT32_MAX}) {
        TKGLModel m = Separate(2);
        m.edges[0].face2 = face2;
        Reduce(m, 1.0);  // goal 2: counting a bogus second face would stop after one collapse
        EXPECT_EQ(m.groups[0].faces[1].visible, 0) << face2;
        EXPECT_EQ(m.groups[0].faces[2].visible, 0) << face2;
        EXPECT_EQ(m.vertices[5].target, 4) << face2;
    }
    // a second face on the edge (a triangle over the same side) is hidden and counted
    TKGLModel m = Separate(3);
    m.groups[0].faces[3].vIdx = TIndexList({2, 1, 9});
    m.edges[0].face2 = 3;
    Reduce(m, 2.0 / 3.0);
    EXPECT_EQ(m.groups[0].faces[1].visible, 0);
    EXPECT_EQ(m.groups[0].faces[3].visible, 0);
    EXPECT_EQ(m.groups[0].faces[2].visible, 1);
}

// The mend on a loaded model: two groups whose face numbers collide. The edge between
// them names its second face by its number in the other group; a collapse of it hides
// its own face and no face far away, and the true second face, left degenerate, is
// hidden by the degenerate test.
TEST(Reduce, AnEdgeBetweenGroupsHidesNoFaceFarFromIt) {
    // group A: a strip of two triangles away from the shared side, then the triangle
    // on it; group B: one triangle on the shared side (1, 2)
    const char* obj =
        "v 0 0 0\nv 1 0 0\nv 0.5 -1 0\nv 5 5 0\nv 6 5 0\nv 5 6 0\nv 6 6 0\nv 0.5 1 0\n"
        "g A\nf 4 5 6\nf 5 7 6\nf 1 3 2\ng B\nf 1 2 8\n";
    TKGLModel m;
    ASSERT_TRUE(LoadOBJFromMemory(m, obj));
    Reduce(m, 0.0);
    int32_t shared = -1;
    for (int32_t e = 0; e <= m.eCount; ++e) {
        const int32_t a = EdgeVertexA(m, m.edges[e]), b = EdgeVertexB(m, m.edges[e]);
        if (m.edges[e].face >= 1 && std::min(a, b) == 1 && std::max(a, b) == 2) shared = e;
    }
    ASSERT_GE(shared, 0);
    ASSERT_EQ(m.edges[shared].face2, 1);  // B's face 1, which in A is the far triangle
    // the shared side first in the table, then a reduction of one collapse
    std::swap(m.edges[0], m.edges[shared]);
    Reduce(m, 0.25);
    EXPECT_EQ(m.groups[0].faces[1].visible, 1) << "a face far from the edge vanished";
    EXPECT_EQ(m.groups[0].faces[2].visible, 1);
    EXPECT_EQ(m.groups[0].faces[3].visible, 0);  // the edge's first face
    EXPECT_EQ(m.groups[1].faces[1].visible, 0);  // its true second face, degenerate now
}

TEST(Reduce, IndicesThatNameNothingAreSkippedAsTheRulesSay) {
    // Each damage alone, then all of them at once, on the two triangles (edges: (1,2),
    // (1,3), the all-zero entry, (2,3), (2,4), (3,4)).
    const std::vector<std::pair<const char*, std::function<void(TKGLModel&)>>> damages = {
        {"vertex beyond the table", [](TKGLModel& m) { m.groups[0].faces[1].vIdx[1] = 99; }},
        {"negative vertex", [](TKGLModel& m) { m.groups[0].faces[2].vIdx[0] = -3; }},
        {"texture index beyond the table", [](TKGLModel& m) { m.groups[0].faces[2].tIdx[2] = 500; }},
        {"negative texture index", [](TKGLModel& m) { m.groups[0].faces[1].tIdx[0] = -1; }},
        {"texture list shorter than the corners", [](TKGLModel& m) { m.groups[0].faces[1].tIdx.resize(1); }},
        {"group beyond the table", [](TKGLModel& m) { m.edges[3].group = 7; }},
        {"negative group", [](TKGLModel& m) { m.edges[1].group = -1; }},
        {"corner beyond the face", [](TKGLModel& m) { m.edges[4].corner1 = 12; }},
        {"negative corner", [](TKGLModel& m) { m.edges[0].corner0 = -2; }},
        {"face beyond the group", [](TKGLModel& m) { m.edges[5].face = 40; }},
        {"count past vIdx", [](TKGLModel& m) { m.groups[0].faces[2].count = 9; }},
        {"no corners", [](TKGLModel& m) { m.groups[0].faces[1].vIdx.clear(); }},
    };
    auto check = [](TKGLModel m, const std::string& what) {
        const TKGLModel damaged = m;
        for (double fraction : {1.0, 0.5, 0.0, 1.0}) {
            TKGLModel literal = m;
            LiteralReduce(literal, fraction);
            Reduce(m, fraction);
            EXPECT_TRUE(StateOf(m) == StateOf(literal)) << what << " at " << fraction;
        }
        // nothing but the reduction state was written: the damaged indices stand
        for (int32_t f = 1; f <= 2; ++f) {
            EXPECT_EQ(m.groups[0].faces[f].vIdx, damaged.groups[0].faces[f].vIdx) << what;
            EXPECT_EQ(m.groups[0].faces[f].tIdx, damaged.groups[0].faces[f].tIdx) << what;
            EXPECT_EQ(m.groups[0].faces[f].count, damaged.groups[0].faces[f].count) << what;
        }
        for (int32_t e = 0; e <= m.eCount + 1; ++e) {
            EXPECT_EQ(m.edges[e].group, damaged.edges[e].group) << what;
            EXPECT_EQ(m.edges[e].face, damaged.edges[e].face) << what;
        }
    };
    TKGLModel all = MakeTwoTriangles();
    for (const auto& [what, damage] : damages) {
        TKGLModel m = MakeTwoTriangles();
        damage(m);
        check(m, what);
        damage(all);
    }
    check(all, "all at once");

    // Spot checks of what the rules give: an edge through a face beyond its group
    // has ends 0 and 0 and hides nothing, an edge whose end is vertex 99 is skipped.
    TKGLModel m = MakeTwoTriangles();
    m.edges[0].face = 40;  // (1,2) now names no face
    Reduce(m, 0.5);        // goal 1: (1,2) retires vertex 0 into itself, (1,3) hides face 1
    EXPECT_EQ(m.vertices[0].target, 0);
    EXPECT_EQ(m.vertices[2].target, kTargetFree);
    EXPECT_EQ(m.vertices[3].target, 1);
    EXPECT_EQ(m.groups[0].faces[1].visible, 0);
    EXPECT_EQ(m.groups[0].faces[2].visible, 1);
    m = MakeTwoTriangles();
    m.groups[0].faces[1].vIdx[1] = 99;  // (1,2) and (2,3) through face 1 end at 99
    Reduce(m, 0.5);
    EXPECT_EQ(m.vertices[3].target, 1);  // (1,3) is the first edge that collapses
    EXPECT_EQ(m.edges[0].active, 1);
    EXPECT_EQ(m.edges[1].active, 0);

    TKGLModel freed;
    FreeModel(freed);
    Reduce(freed, 0.5);
    EXPECT_EQ(freed.vCount, -1);
    TKGLModel none = MakeTwoTriangles();
    none.fCount = 0;
    none.vertices[2].target = 7;
    Reduce(none, 0.5);
    EXPECT_EQ(none.vertices[2].target, 7) << "no reset without faces";
}

TEST(Reduce, ResolveFollowsAtMost101Steps) {
    std::vector<TVec3> pos(300);
    TKGLModel m = MakeModel(pos, {{1, 2, 3}}, {0.5});
    for (int32_t v = 1; v < 300; ++v) m.vertices[v].target = v + 1;
    EXPECT_EQ(ResolveVertex(m, 1), 102);
    EXPECT_EQ(ResolveVertex(m, 250), 300);
    m.vertices[10].target = 8;  // 8 -> 9 -> 10 -> 8
    EXPECT_EQ(ResolveVertex(m, 8), 8);
    m.vertices[20].target = 20;
    EXPECT_EQ(ResolveVertex(m, 20), 20);
    m.vertices[30].target = 5000;  // outside the table: the chain ends where it stands
    EXPECT_EQ(ResolveVertex(m, 30), 30);
    EXPECT_EQ(ResolveVertex(m, -4), -4);
    EXPECT_EQ(ResolveVertex(m, 4000), 4000);
    m.texCoords.assign(5, TTexCoord{0, 0, kTargetFree});
    m.tCount = 3;
    m.texCoords[1].target = 2;
    m.texCoords[2].target = 3;
    EXPECT_EQ(ResolveTexCoord(m, 1), 3);
    EXPECT_EQ(ResolveTexCoord(m, 9), 9);
}

TEST(Reduce, LongChainsCutByTheLimitAreJudgedOnTheFinalTargets) {
    // Edges (k+1, k) through faces k = (k, k+1, k+1000) retire k into k+1, building
    // the chain 1 -> 2 -> ... -> 250. Face X = (1, 101, 1290) is resolved first: 1 ends
    // on 102 after 101 steps, 101 on 202. Face Y = (1, 1291, 1292) resolves 1 again,
    // walking on to 202, so on the final targets X maps to 202, 202: degenerate.
    std::vector<TVec3> pos(1300);
    std::vector<std::vector<int32_t>> faces;
    std::vector<double> areas;
    for (int k = 1; k < 250; ++k) {
        faces.push_back({k, k + 1, k + 1000});
        areas.push_back(0.5);
    }
    faces.push_back({1, 101, 1290});
    faces.push_back({1, 1291, 1292});
    areas.push_back(0.5);
    areas.push_back(0.5);
    TKGLModel m = MakeModel(pos, faces, areas);
    for (int k = 1; k < 250; ++k) m.edges.push_back(TEdge{1, 0, k, kNoFace, 0, 0, 0.0});
    m.edges.push_back(TEdge{});
    m.edges.push_back(TEdge{});
    m.eCount = 249;
    TKGLModel literal = m;
    LiteralReduce(literal, 249.0 / 251.0);
    Reduce(m, 249.0 / 251.0);
    EXPECT_TRUE(StateOf(m) == StateOf(literal));
    for (int k = 1; k < 250; ++k) ASSERT_EQ(m.groups[0].faces[k].visible, 0);
    EXPECT_EQ(m.vertices[1].target, 202);
    EXPECT_EQ(m.vertices[101].target, 202);
    EXPECT_EQ(m.groups[0].faces[250].visible, 0);
    EXPECT_EQ(m.groups[0].faces[251].visible, 1);
}
