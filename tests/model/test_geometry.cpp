// The importer's hand-over: the weld against its literal form, the builder and the
// checking reader against the OBJ text of the same geometry, and every kind of broken
// hand-over refused.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>

#include "KGLModel.h"
#include "errors.h"
#include "geometry.h"
#include "weld.h"

using namespace kgl;

namespace {

// The literal form of the numbering: a search of every value kept so far, by ==.
std::vector<uint32_t> LiteralNumbers(const std::vector<std::array<float, 3>>& values,
                                     std::vector<std::array<float, 3>>& kept) {
    std::vector<uint32_t> numbers;
    for (const auto& v : values) {
        size_t k = 0;
        while (k < kept.size() && !(kept[k][0] == v[0] && kept[k][1] == v[1] && kept[k][2] == v[2])) ++k;
        if (k == kept.size()) kept.push_back(v);
        numbers.push_back(static_cast<uint32_t>(k));
    }
    return numbers;
}

bool SameBits(const std::array<float, 3>& a, const std::array<float, 3>& b) { return std::memcmp(&a, &b, 12) == 0; }

}  // namespace

// Value by value and many at a time (looking back at the values just before, and each
// value standing for a run of numbers), the weld numbers as a search would, keeping the
// first of equal values whole (-0 or +0) and a NaN apart every time, across the
// table's growth from a small start and with room reserved ahead.
TEST(Weld, NumbersAsASearchOfTheValuesKept) {
    std::mt19937 random(11);
    const float specials[] = {0.0f, -0.0f, 1.0f, -1.0f, NAN, INFINITY, -INFINITY, 1e-40f, 3.5f};
    for (const size_t n : {size_t(1), size_t(40), size_t(3000)}) {
        std::vector<std::array<float, 3>> values;
        for (size_t i = 0; i < n; ++i) {
            std::array<float, 3> v;
            for (float& c : v) c = specials[random() % 9];
            if (random() % 4 == 0 && !values.empty()) v = values[random() % values.size()];            // repeats
            if (random() % 4 == 0 && values.size() > 6) v = values[values.size() - 1 - random() % 7];  // near ones
            if (random() % 3 == 0) v[0] = static_cast<float>(random() % 500);                          // many distinct
            values.push_back(v);
        }
        std::vector<std::array<float, 3>> kept;
        const std::vector<uint32_t> want = LiteralNumbers(values, kept);
        for (const size_t room : {size_t(0), n}) {
            TWeld<3> one(room);
            std::vector<uint32_t> got;
            for (const auto& v : values) got.push_back(one.Add(v));
            EXPECT_EQ(got, want) << n << " values, room for " << room;
            ASSERT_EQ(one.Count(), kept.size());
            for (size_t k = 0; k < kept.size(); ++k) EXPECT_TRUE(SameBits(one.Values()[k], kept[k])) << k;
            for (const auto& [recent, repeat] : {std::pair<size_t, uint32_t>{1, 1}, {6, 1}, {2, 3}}) {
                TWeld<3> many(room);
                std::vector<uint32_t> gotMany(n * repeat), wantMany;
                for (const uint32_t w : want) wantMany.insert(wantMany.end(), repeat, w);
                many.AddMany(
                    n, [&](size_t i) { return values[i]; }, gotMany.data(), recent, repeat);
                EXPECT_EQ(gotMany, wantMany) << n << " values, room for " << room << ", back " << recent;
                ASSERT_EQ(many.Count(), kept.size());
                for (size_t k = 0; k < kept.size(); ++k) EXPECT_TRUE(SameBits(many.Values()[k], kept[k])) << k;
            }
        }
    }
}

namespace {

// Two groups of a quad and a triangle, with texture coordinates and normals on the
// quads, positions with -0 and repeats, as the builder takes them.
TGeometry TwoGroups() {
    TGeometryBuilder b;
    const std::vector<std::array<float, 3>> p = {{0, 0, 0}, {1.0000004f, 0, -0.0f}, {1, 1, 0}, {0, 1, 0}, {1, 0, 0}};
    b.BeginMesh("FRONT", "front", 5, true, true, 2, 7);
    b.Vertices([&](uint32_t i) { return p[i]; },
               [](uint32_t i) {
                   return std::array<float, 3>{0, 0, i ? 2.0f : 0.0f};
               },
               [](uint32_t i) {
                   return std::array<float, 2>{0.25f * static_cast<float>(i), NAN};
               });
    const uint32_t quad[] = {0, 1, 2, 3}, tri[] = {4, 2, 1};
    b.Face(quad, 4);
    b.Face(tri, 3);
    b.BeginMesh("", "back", 3, false, false, 1, 3);
    b.Vertices([&](uint32_t i) { return p[3 - i]; }, [](uint32_t) { return std::array<float, 3>{}; },
               [](uint32_t) { return std::array<float, 2>{}; });
    const uint32_t back[] = {0, 1, 2};
    b.Face(back, 3);
    return b.Finish();
}

}  // namespace

// The model built of a hand-over is the model its OBJ text loads to, byte for byte: the
// values as six-decimal text reads them, numbered by first use, -0 as +0.
TEST(Geometry, HandOverLoadsAsItsObjText) {
    TKGLModel model;
    ReadGeometry(GeometryBytes(TwoGroups()), model);
    const char* obj =
        "v 0 0 0\nv 1.000000 0 0\nv 1 1 0\nv 0 1 0\nv 1 0 0\nvt 0 0\nvt 0.25 0\nvt 0.5 0\nvt 0.75 0\nvt 1 0\n"
        "vn 0 0 0\nvn 0 0 1\ng FRONT\nf 1/1/1 2/2/2 3/3/2 4/4/2\nf 5/5/2 3/3/2 2/2/2\ng\nf 4 3 2\n";
    TKGLModel want;
    ASSERT_TRUE(LoadOBJFromMemory(want, obj));
    Reduce(want, 0.0);
    EXPECT_EQ(model.vCount, 5);  // 1.0000004 and 1 are two values, welded apart though written alike
    EXPECT_EQ(SaveToKGMBytes(model), SaveToKGMBytes(want));
}

// Faces over the vertices in order (an STL file's facets) come out as Face adds them one
// by one, whether the tables can be numbered in one pass (a first mesh, a mesh after
// meshes that used all they welded, one by one or in order) or not (a mesh after one
// that left a value unused), and a position that is not finite is refused either way.
TEST(Geometry, ConsecutiveFacesAreFacesOneByOne) {
    // positions of a strip of triangles, values repeated within and across meshes
    const std::vector<std::array<float, 3>> p = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0},
                                                 {0, 1, 0}, {2, 0, 0}, {0, 0, 0}, {5, 5, 5}};
    struct TMesh {
        uint32_t first, vertices;  // p[first ..], corners per face 3
        bool attributes, inOrder;  // normals and texture coordinates; added by ConsecutiveFaces
    };
    auto build = [&](const std::vector<TMesh>& meshes, bool consecutive) {
        TGeometryBuilder b;
        for (const TMesh& m : meshes) {
            b.BeginMesh("g", "mesh", m.vertices, m.attributes, m.attributes, m.vertices / 3, m.vertices);
            b.Vertices([&](uint32_t i) { return p[m.first + i]; },
                       [&](uint32_t i) {
                           return std::array<float, 3>{0, 0, static_cast<float>((m.first + i) / 3)};
                       },
                       [&](uint32_t i) {
                           return std::array<float, 2>{static_cast<float>((m.first + i) % 2), 0};
                       });
            if (consecutive && m.inOrder) {
                b.ConsecutiveFaces(3, m.vertices / 3);
            } else {
                for (uint32_t f = 0; 3 * f + 2 < m.vertices; ++f) {
                    const uint32_t corners[] = {3 * f, 3 * f + 1, 3 * f + 2};
                    b.Face(corners, 3);
                }
            }
        }
        return GeometryBytes(b.Finish());
    };
    const std::vector<std::vector<TMesh>> cases = {
        {{0, 6, true, true}},                                           // one mesh
        {{0, 6, false, true}, {3, 6, false, true}},                     // new and old values
        {{0, 6, true, true}, {2, 6, true, true}, {0, 3, true, true}},   // three, with attributes
        {{0, 8, false, false}, {3, 6, false, true}},                    // p[6] and p[7] left unused
        {{0, 7, false, true}},                                          // a vertex no face uses
        {{0, 6, true, true}, {3, 6, true, false}, {0, 3, true, true}},  // one by one between
    };
    for (size_t c = 0; c < cases.size(); ++c) EXPECT_EQ(build(cases[c], true), build(cases[c], false)) << c;

    for (const bool consecutive : {true, false}) {
        TGeometryBuilder b;
        b.BeginMesh("", "broken", 3, false, false, 1, 3);
        b.Vertices(
            [](uint32_t i) {
                return std::array<float, 3>{0, i == 2 ? INFINITY : 1.0f, 0};
            },
            [](uint32_t) { return std::array<float, 3>{}; }, [](uint32_t) { return std::array<float, 2>{}; });
        const uint32_t corners[] = {0, 1, 2};
        try {
            consecutive ? b.ConsecutiveFaces(3, 1) : b.Face(corners, 3);
            ADD_FAILURE() << "an infinite position went in";
        } catch (const EReadError& e) {
            EXPECT_STREQ(e.what(), "A vertex of mesh 'broken' has a position that is not a finite number");
        }
    }
}

// Every way a hand-over can be broken is refused with its reason, before the model is
// built.
TEST(Geometry, BrokenHandOversAreRefused) {
    const std::string good = GeometryBytes(TwoGroups());
    // offsets of the sections of the good one: header 40, 5 positions, 2 normals, 5
    // texture coordinates, 2 groups, 3 faces, 10 corners, 7 with texture and normal
    const size_t positions = 40, groups = positions + 60 + 24 + 40, faces = groups + 112, vIdx = faces + 12;
    auto with = [&](size_t at, const void* bytes, size_t n) {
        std::string b = good;
        std::memcpy(b.data() + at, bytes, n);
        return b;
    };
    auto u32 = [&](size_t at, uint32_t v) { return with(at, &v, 4); };
    const float nan = NAN;
    const struct {
        std::string bytes;
        const char* says;
    } cases[] = {
        {good.substr(0, 39), "it does not start with its header"},
        {"KGLGEOM2" + good.substr(8), "it does not start with its header"},
        {good + "x", "bytes where its counts make"},
        {good.substr(0, good.size() - 4), "bytes where its counts make"},
        {u32(8, 0x7FFFFFFF), "a count of 2147483647"},
        {u32(20, 0), "no face"},
        {with(positions + 4, &nan, 4), "a position is not a finite number"},
        {u32(groups, 3), "groups of 4 faces in all, not 3"},
        {with(groups + 4, "\x33", 1), "a group name of 51 bytes"},
        {with(groups + 5, "\n", 1), "a group name with a control byte"},
        {u32(faces + 8, 2), "a face of fewer than 3 corners"},
        {u32(faces + 8, 3 | kFaceHasNormals), "faces whose corners do not add up to its counts"},
        {u32(vIdx, 0), "vertex index 0, outside 1 .. 5"},
        {u32(vIdx + 4, 6), "vertex index 6, outside 1 .. 5"},
        {u32(vIdx + 40, static_cast<uint32_t>(-3)), "texture-coordinate index -3, outside 1 .. 5"},
    };
    for (const auto& c : cases) {
        TKGLModel model;
        try {
            ReadGeometry(c.bytes, model);
            ADD_FAILURE() << "taken: " << c.says;
        } catch (const EModelError& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
    }
}
