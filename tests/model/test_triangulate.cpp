// Triangulation: polygons of every kind cut in their planes (areas kept, nothing turned
// over, every corner's indices kept, fans where there is no cut), and the result as a
// load of its triangles leaves it.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "KGLModel.h"

using namespace kgl;

namespace {

struct TD3 {
    double x = 0, y = 0, z = 0;
};
TD3 operator-(TD3 a, TD3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
TD3 Cross(TD3 a, TD3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double Dot(TD3 a, TD3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

TD3 At(const TKGLModel& m, int32_t v) { return {m.vertices[v].x, m.vertices[v].y, m.vertices[v].z}; }

// Twice the area of a polygon along its normal (Newell), from the model's own floats.
TD3 Newell(const TKGLModel& m, const std::vector<int32_t>& corners) {
    TD3 n;
    for (size_t j = 1; j + 1 < corners.size(); ++j) {
        const TD3 c = Cross(At(m, corners[j]) - At(m, corners[0]), At(m, corners[j + 1]) - At(m, corners[0]));
        n = {n.x + c.x, n.y + c.y, n.z + c.z};
    }
    return n;
}

std::vector<std::array<int32_t, 3>> Triangles(const TGroup& g) {
    std::vector<std::array<int32_t, 3>> out;
    for (int32_t f = 1; f <= g.fCount; ++f) {
        const TIndexList& v = g.faces[f].vIdx;
        out.push_back({v[0], v[1], v.size() > 2 ? v[2] : 0});
    }
    return out;
}

}  // namespace

// One polygon a case, given in its plane, loaded once lying flat and once tilted and moved
// away from the origin. Corner j is vertex j + 1 and carries texture coordinate (j + 2)
// mod n + 1 and normal (j + 5) mod n + 1, so that each triangle corner shows whose it is.
TEST(Triangulate, CutsPolygonsInTheirPlanes) {
    struct TCase {
        const char* name;
        std::vector<std::array<double, 2>> corners;
        int fans;                                 // 1: no cut, fanned from corner 0
        std::vector<std::array<int32_t, 3>> cut;  // the triangles as vertex numbers, when fixed
    };
    std::vector<TCase> cases = {
        {"square: a tie goes 0-2", {{0, 0}, {1, 0}, {1, 1}, {0, 1}}, 0, {{1, 2, 3}, {1, 3, 4}}},
        {"quad, 1-3 the shorter", {{0, 0}, {2, 1}, {4, 0}, {2, -1}}, 0, {{1, 2, 4}, {2, 3, 4}}},
        {"quad, 0-2 the shorter", {{0, -1}, {2, 0}, {0, 1}, {-2, 0}}, 0, {{1, 2, 3}, {1, 3, 4}}},
        // the shorter diagonal lies outside a concave quad: the cut takes the other one
        {"dart, corner 1 reflex", {{0, 0}, {2, 1}, {4, 0}, {2, 6}}, 0, {{1, 2, 4}, {2, 3, 4}}},
        {"dart, corner 0 reflex", {{2, 1}, {4, 0}, {2, 6}, {0, 0}}, 0, {{1, 2, 3}, {1, 3, 4}}},
        {"quad, three corners on a line", {{0, 0}, {1, 0}, {2, 0}, {1, 1}}, 0, {{1, 2, 4}, {2, 3, 4}}},
        {"bowtie quad", {{0, 0}, {2, 2}, {2, 0}, {0, 2}}, 1, {{1, 2, 3}, {1, 3, 4}}},
        {"regular pentagon",
         {{2, 0}, {0.618034, 1.902113}, {-1.618034, 1.175571}, {-1.618034, -1.175571}, {0.618034, -1.902113}},
         0,
         {}},
        {"square with a corner on a side", {{0, 0}, {1, 0}, {2, 0}, {2, 2}, {0, 2}}, 0, {}},
        // a fan from corner 0 would turn (0 2 3) over
        {"L from a convex corner", {{2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}, {0, 0}}, 0, {}},
        {"U: the first ear holds a reflex corner",
         {{0, 0}, {3, 0}, {3, 3}, {2, 3}, {2, 1}, {1, 1}, {1, 3}, {0, 3}},
         0,
         {}},
        {"star of ten corners",
         {{2, 0},
          {0.647214, 0.470228},
          {0.618034, 1.902113},
          {-0.247214, 0.760845},
          {-1.618034, 1.175571},
          {-0.8, 0},
          {-1.618034, -1.175571},
          {-0.247214, -0.760845},
          {0.618034, -1.902113},
          {0.647214, -0.470228}},
         0,
         {}},
        // a square with a square hole, joined by a seam that runs both ways
        {"keyhole", {{0, 0}, {4, 0}, {4, 4}, {0, 4}, {0, 0}, {1, 1}, {1, 3}, {3, 3}, {3, 1}, {1, 1}}, 0, {}},
        {"every corner on a line", {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}, 1, {}},
        {"every corner in one place", {{1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}}, 1, {}},
        {"figure of eight: no area", {{0, 0}, {2, 2}, {2, 1}, {2, 0}, {0, 2}, {0, 1}}, 1, {}},
        // clipping the large loop leaves the small one, turned the other way
        {"figure of eight, loops unequal", {{0, 0}, {4, 4}, {4, 2}, {4, 0}, {0, 1}}, 1, {}},
    };
    // a comb of a thousand teeth: a reflex corner at the foot of each, and ears that reach
    // across the whole back once the teeth are gone
    cases.push_back({"comb of 4003 corners", {}, 0, {}});
    for (int t = 0; t < 1000; ++t)
        cases.back().corners.insert(cases.back().corners.end(),
                                    {{2.0 * t, 0}, {2.0 * t, 10}, {2.0 * t + 1, 10}, {2.0 * t + 1, 1}});
    cases.back().corners.insert(cases.back().corners.end(), {{2000, 1}, {2000, -1}, {0, -1}});
    for (const TCase& c : cases) {
        for (const bool tilted : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (tilted ? ", tilted" : ", flat"));
            const int32_t n = static_cast<int32_t>(c.corners.size());
            std::string obj;
            char line[160];
            for (const auto& [x, y] : c.corners) {
                if (tilted)  // 30 degrees about x, then far from the origin
                    std::snprintf(line, sizeof line, "v %.6f %.6f %.6f\n", x + 10, y * 0.866025 - 5, y * 0.5 + 3);
                else
                    std::snprintf(line, sizeof line, "v %.6f %.6f 0\n", x, y);
                obj += line;
            }
            for (int32_t j = 0; j < n; ++j) {
                std::snprintf(line, sizeof line, "vt %d 0\nvn 0 0 %d\n", j, j);
                obj += line;
            }
            obj += "f";
            for (int32_t j = 0; j < n; ++j) {
                std::snprintf(line, sizeof line, " %d/%d/%d", j + 1, (j + 2) % n + 1, (j + 5) % n + 1);
                obj += line;
            }
            TKGLModel m;
            ASSERT_TRUE(LoadOBJFromMemory(m, obj + "\n"));
            std::vector<int32_t> polygon;
            for (int32_t j = 1; j <= n; ++j) polygon.push_back(j);
            const TD3 normal = Newell(m, polygon);

            TTriangulation counts;
            ASSERT_TRUE(TriangulateFaces(m, &counts));
            EXPECT_EQ(counts.split, 1);
            EXPECT_EQ(counts.triangles, n - 2);
            EXPECT_EQ(counts.fans, c.fans);
            EXPECT_EQ(counts.listsLeft, 0);
            ASSERT_EQ(m.fCount, n - 2);
            const TGroup& g = m.groups[0];
            ASSERT_EQ(g.fCount, n - 2);
            if (!c.cut.empty()) {
                EXPECT_EQ(Triangles(g), c.cut);
            }
            if (c.fans) {  // a fan of corner 0
                for (int32_t f = 1; f <= g.fCount; ++f)
                    EXPECT_EQ(Triangles(g)[f - 1], (std::array<int32_t, 3>{1, f + 1, f + 2}));
            }
            double area = 0;
            for (int32_t f = 1; f <= g.fCount; ++f) {
                const TFace& t = g.faces[f];
                ASSERT_EQ(t.count, 3);
                ASSERT_EQ(t.vIdx.size(), 3u);
                ASSERT_EQ(t.tIdx.size(), 3u);
                ASSERT_EQ(t.nIdx.size(), 3u);
                EXPECT_TRUE(t.vIdx[0] < t.vIdx[1] && t.vIdx[1] < t.vIdx[2])
                    << "the face's order, from its lowest corner";
                for (uint32_t k = 0; k < 3; ++k) {
                    EXPECT_EQ(t.tIdx[k], (t.vIdx[k] + 1) % n + 1);
                    EXPECT_EQ(t.nIdx[k], (t.vIdx[k] + 4) % n + 1);
                }
                const double along = Dot(Newell(m, {t.vIdx[0], t.vIdx[1], t.vIdx[2]}), normal);
                if (!c.fans) {
                    EXPECT_GT(along, 0) << "triangle " << f << " turned over";
                }
                area += along;
            }
            if (!c.fans) {
                EXPECT_NEAR(area, Dot(normal, normal), 1e-9 * Dot(normal, normal)) << "area kept";
            }
        }
    }
}

// The triangulated model is what a load of its triangles gives, byte for byte, whatever
// state the model was in: groups and their order, faces of one and two corners, a face
// of mixed corner forms (its lists left off), a reduction, a pinned vertex, selections.
TEST(Triangulate, LeavesTheModelALoadOfItsTriangles) {
    const std::string vertices =
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 2 1 0\nv 3 0.5 0\nv 0.5 2 0.25\n"
        "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 0 1\nvn 0 0.6 0.8\n";
    TKGLModel m;
    ASSERT_TRUE(LoadOBJFromMemory(m, vertices + "g first\nf 1/1/1 2/2/1 3/3/2 4/4/2\nf 5 6\nf 7\n"
                                                "g second\nf 2 5 6 3\nf 2/1 5 6/3 3/4\nf 1//1 2//1 3//2\n"
                                                "f 2/1/1 5/2/1 7/3/2 6/4/2 3/1/1\n"));
    Reduce(m, 0.5);
    m.vertices[8].target = kTargetPinned;
    m.edgeSel.assign(static_cast<size_t>(m.eCount) + 2, 1);
    m.groupSel = {0, 1, 0};
    m.faceSel = {0, 1, 0, 0, 0, 1, 0, 1, 0};  // the first quad, the mixed one, the pentagon
    m.drawCount = 7;

    TTriangulation counts;
    ASSERT_TRUE(TriangulateFaces(m, &counts));
    EXPECT_EQ(counts.split, 4);
    EXPECT_EQ(counts.triangles, 9);
    EXPECT_EQ(counts.fans, 0);
    EXPECT_EQ(counts.listsLeft, 1);

    TKGLModel loaded;
    ASSERT_TRUE(LoadOBJFromMemory(loaded, vertices +
                                              "g first\nf 1/1/1 2/2/1 3/3/2\nf 1/1/1 3/3/2 4/4/2\nf 5 6\nf 7\n"
                                              "g second\nf 2 5 6\nf 2 6 3\nf 2 5 6\nf 2 6 3\nf 1//1 2//1 3//2\n"
                                              "f 2/1/1 5/2/1 3/1/1\nf 5/2/1 7/3/2 3/1/1\nf 7/3/2 6/4/2 3/1/1\n"));
    loaded.vertices[8].target = kTargetPinned;
    Reduce(loaded, 0.0);
    EXPECT_EQ(SaveToKGMBytes(m), SaveToKGMBytes(loaded));
    EXPECT_EQ(m.vertices[8].target, kTargetPinned);
    EXPECT_EQ(m.name, "SECOND");

    EXPECT_TRUE(m.edgeSel.empty());
    EXPECT_EQ(m.groupSel, (std::vector<TBool>{0, 1, 0}));
    EXPECT_EQ(m.faceSel, (std::vector<TBool>{0, 1, 1, 0, 0, 0, 0, 1, 1, 0, 1, 1, 1, 0}));
    EXPECT_EQ(m.drawCount, 7);

    // With nothing left to cut, nothing changes, not even the reduction.
    Reduce(m, 0.5);
    const std::string before = SaveToKGMBytes(m);
    ASSERT_TRUE(TriangulateFaces(m, &counts));
    EXPECT_EQ(counts.split, 0);
    EXPECT_EQ(counts.triangles, 0);
    EXPECT_EQ(SaveToKGMBytes(m), before);
}

// A model of several blocks of faces, groups running across the blocks and the ranges of
// the threads, on one, two and three threads: each time the load of its triangles. Every
// other row's cells pair into hexagons with a corner in the middle of two sides (clipped
// from corner 0 on: the middle of the far side blocks the third ear).
TEST(Triangulate, SameOnEveryNumberOfThreads) {
    const int n = 300;
    std::string obj, cut;
    char line[96];
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            std::snprintf(line, sizeof line, "v %d %d 0\n", i, j);
            obj += line;
        }
    cut = obj;
    for (int j = 0; j < n; ++j) {
        if (j % 100 == 0) {
            std::snprintf(line, sizeof line, "g rows%d\n", j);
            obj += line;
            cut += line;
        }
        for (int i = 0; i < n; ++i) {
            const int a = j * (n + 1) + i + 1, c = a + n + 1;
            if (j % 2 && i + 1 < n && i % 2 == 0) {
                std::snprintf(line, sizeof line, "f %d %d %d %d %d %d\n", a, a + 1, a + 2, c + 2, c + 1, c);
                obj += line;
                std::snprintf(line, sizeof line, "f %d %d %d\nf %d %d %d\nf %d %d %d\nf %d %d %d\n", a, a + 1, c, a + 1,
                              a + 2, c, a + 2, c + 2, c + 1, a + 2, c + 1, c);
                cut += line;
                ++i;
            } else {
                std::snprintf(line, sizeof line, "f %d %d %d %d\n", a, a + 1, c + 1, c);
                obj += line;
                std::snprintf(line, sizeof line, "f %d %d %d\nf %d %d %d\n", a, a + 1, c + 1, a, c + 1, c);
                cut += line;
            }
        }
    }
    TKGLModel loaded, triangles;
    ASSERT_TRUE(LoadOBJFromMemory(loaded, obj));
    ASSERT_TRUE(LoadOBJFromMemory(triangles, cut));
    Reduce(triangles, 0.0);
    const std::string expected = SaveToKGMBytes(triangles);
    ASSERT_GT(loaded.fCount, 65536);  // more than one block of faces
    struct TRestore {
        ~TRestore() { SetLoadThreads(0); }
    } restore;
    for (const int threads : {1, 2, 3}) {
        SCOPED_TRACE(threads);
        SetLoadThreads(threads);
        TKGLModel m = loaded;
        TTriangulation counts;
        ASSERT_TRUE(TriangulateFaces(m, &counts));
        EXPECT_EQ(counts.split, loaded.fCount);
        EXPECT_EQ(counts.fans, 0);
        EXPECT_TRUE(SaveToKGMBytes(m) == expected);
    }
}
