// Texture-coordinate rewriting, checked against the plain linear search it replaces.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "KGLModel.h"
#include "hand_models.h"

using namespace kgl;
using kgl::test::MakeModel;

namespace {

// The rewriting as its rules read: search the new table from its first entry.
void LiteralOptimize(TKGLModel& m) {
    std::vector<TTexCoord> table;
    for (int32_t g = 0; g <= m.gCount; ++g)
        for (int32_t f = 1; f <= m.groups[g].fCount; ++f)
            for (int32_t& e : m.groups[g].faces[f].tIdx) {
                const TTexCoord c = m.texCoords[e];
                size_t k = 0;
                while (k < table.size() && !(table[k].u == c.u && table[k].v == c.v)) ++k;
                if (k == table.size()) table.push_back(c);
                e = static_cast<int32_t>(k + 1);
            }
    m.tCount = static_cast<int32_t>(table.size());
    m.texCoords.assign(table.size() + 2, TTexCoord{});
    for (size_t k = 0; k < table.size(); ++k) m.texCoords[k + 1] = table[k];
}

std::vector<std::vector<int32_t>> TexLists(const TKGLModel& m) {
    std::vector<std::vector<int32_t>> out;
    for (const TGroup& g : m.groups)
        for (const TFace& f : g.faces) out.emplace_back(f.tIdx.begin(), f.tIdx.end());
    return out;
}

bool SameTable(const TKGLModel& a, const TKGLModel& b) {
    if (a.tCount != b.tCount || a.texCoords.size() != b.texCoords.size()) return false;
    for (size_t i = 0; i < a.texCoords.size(); ++i) {
        const TTexCoord &x = a.texCoords[i], &y = b.texCoords[i];
        if (std::memcmp(&x, &y, sizeof x) != 0) return false;
    }
    return true;
}

// Two triangles over a shared edge, with six vt lines that repeat the shared pairs.
TKGLModel SharedEdge() {
    TKGLModel m = MakeModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{1, 2, 3}, {3, 2, 4}}, {0, 1});
    m.tCount = 7;
    m.texCoords.assign(9, TTexCoord{0, 0, kTargetFree});
    m.texCoords[1] = {0, 0, -1};
    m.texCoords[2] = {1, 0, -1};
    m.texCoords[3] = {0, 1, -1};
    m.texCoords[4] = {0, 1, 5};  // same as 3 but another target
    m.texCoords[5] = {1, 0, -1};
    m.texCoords[6] = {1, 1, -1};
    m.texCoords[7] = {9, 9, -1};  // used by no face
    m.groups[0].faces[1].tIdx = {1, 2, 3};
    m.groups[0].faces[2].tIdx = {4, 5, 6};
    return m;
}

}  // namespace

TEST(TexCoords, SharedCornersReferToTheEntriesOfTheirFirstUse) {
    TKGLModel m = SharedEdge();
    OptimizeTexCoords(m);
    EXPECT_EQ(m.tCount, 4);
    ASSERT_EQ(m.texCoords.size(), 6u);
    EXPECT_TRUE(m.groups[0].faces[1].tIdx == (TIndexList{1, 2, 3}));
    EXPECT_TRUE(m.groups[0].faces[2].tIdx == (TIndexList{3, 2, 4}));
    EXPECT_EQ(m.texCoords[3].target, -1);  // the first one used wins
    EXPECT_EQ(m.texCoords[4].u, 1.0f);
    EXPECT_EQ(m.texCoords[0].u, 0.0f);
    EXPECT_EQ(m.texCoords[5].u, 0.0f);
    TKGLModel again = m;
    OptimizeTexCoords(again);
    EXPECT_TRUE(SameTable(again, m));
    EXPECT_EQ(TexLists(again), TexLists(m));
}

TEST(TexCoords, WithoutTextureIndicesTheTableIsTwoZeroSlots) {
    TKGLModel m = MakeModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}}, {0}, true);
    m.groups[0].faces[1].tIdx.clear();
    OptimizeTexCoords(m);
    EXPECT_EQ(m.tCount, 0);
    ASSERT_EQ(m.texCoords.size(), 2u);
    EXPECT_EQ(m.texCoords[1].target, 0);
    TKGLModel freed;
    FreeModel(freed);
    OptimizeTexCoords(freed);
    EXPECT_EQ(freed.tCount, 0);
}

TEST(TexCoords, ZeroAndMinusZeroAreOneCoordinateAndNaNIsNeverShared) {
    TKGLModel m = SharedEdge();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    m.texCoords[1] = {-0.0f, 0.0f, -1};
    m.texCoords[2] = {0.0f, -0.0f, -1};
    m.texCoords[3] = {nan, 0, -1};
    m.groups[0].faces[2].tIdx = {3, 2, 1};
    OptimizeTexCoords(m);
    EXPECT_TRUE(m.groups[0].faces[1].tIdx == (TIndexList{1, 1, 2}));
    EXPECT_TRUE(m.groups[0].faces[2].tIdx == (TIndexList{3, 1, 1}));
    EXPECT_EQ(m.tCount, 3);
    EXPECT_TRUE(std::signbit(m.texCoords[1].u));  // the record is copied as first used
}

TEST(TexCoords, IndicesOutsideTheOldTableBecomeTheZeroCoordinate) {
    TKGLModel m = SharedEdge();
    m.groups[0].faces[1].tIdx = {-1, 500, 2};
    m.groups[0].faces[2].tIdx = {1, 8, 0};  // 8 is the spare past tCount; 0 the spare slot
    OptimizeTexCoords(m);
    EXPECT_TRUE(m.groups[0].faces[1].tIdx == (TIndexList{1, 1, 2}));
    EXPECT_TRUE(m.groups[0].faces[2].tIdx == (TIndexList{1, 1, 1}));
    EXPECT_EQ(m.tCount, 2);
    EXPECT_EQ(m.texCoords[1].target, kTargetFree);
}

// ... and the state saved before it puts the model back as it was (the undo of the
// rewrite), on the same random tables.
TEST(TexCoords, MatchesTheLinearSearchOnRandomTablesAndTheSavedStateUndoesIt) {
    std::mt19937 rng(11);
    for (int round = 0; round < 20; ++round) {
        TKGLModel m = kgl::test::MakeGrid(9, 8, round);
        std::uniform_int_distribution<int> pick(1, m.tCount), small(0, 4);
        for (int32_t t = 1; t <= m.tCount; ++t)
            m.texCoords[t] = {small(rng) * 0.25f, small(rng) % 2 ? -0.0f : small(rng) * 0.5f, small(rng) - 2};
        for (TFace& f : m.groups[0].faces)
            for (int32_t& e : f.tIdx) e = pick(rng);
        TKGLModel literal = m;
        const TKGLModel original = m;
        const TTexCoordState before = SaveTexCoordState(m);
        OptimizeTexCoords(m);
        LiteralOptimize(literal);
        EXPECT_TRUE(SameTable(m, literal)) << round;
        EXPECT_EQ(TexLists(m), TexLists(literal)) << round;

        EXPECT_FALSE(SameTexCoordState(m, before));
        const TTexCoordState after = SaveTexCoordState(m);
        OptimizeTexCoords(m);  // a second run changes nothing
        EXPECT_TRUE(SameTexCoordState(m, after));
        ASSERT_TRUE(RestoreTexCoordState(m, before));
        EXPECT_TRUE(SameTable(m, original)) << round;
        EXPECT_EQ(TexLists(m), TexLists(original)) << round;
    }
    TKGLModel other = SharedEdge();  // another model's state does not fit
    EXPECT_FALSE(RestoreTexCoordState(other, SaveTexCoordState(kgl::test::MakeGrid(3, 3, 1))));
    EXPECT_EQ(TexLists(other), TexLists(SharedEdge()));
}
