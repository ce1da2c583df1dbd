// The KGM format: exact layout, round trips, and hostile files that must fail with a
// message and leave the model as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <filesystem>

#include "KGLModel.h"
#include "errors.h"
#include "hand_models.h"
#include "test_support.h"

using namespace kgl;
using kgl::test::MakeGrid;
using kgl::test::MakeModel;
using kgl::test::MakeTwoTriangles;
using kgl::test::ReadFile;
using kgl::test::TMessageRecorder;
using kgl::test::TTempDir;
using kgl::test::WriteFile;

namespace {

int32_t I32At(const std::string& b, size_t off) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[off + i]);
    return static_cast<int32_t>(v);
}

void PutI32(std::string& b, size_t off, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) b[off + i] = static_cast<char>(v >> (8 * i));
}

// One group "BODY" with a textured, normal-carrying triangle and a bare triangle.
TKGLModel Mixed() {
    TKGLModel m = MakeModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{1, 2, 3}, {3, 2, 4}}, {0.0, 1.0});
    m.tCount = 3;
    m.nCount = 2;
    m.texCoords.assign(5, TTexCoord{0.5f, 0.25f, kTargetFree});
    m.normals.assign(4, TVec3{0, 0, 1});
    TFace& f = m.groups[0].faces[1];
    f.tIdx = {1, 2, 3};
    f.nIdx = {1, 2, 1};
    kgl::test::LiteralEdges(m);
    m.name = "MODEL";
    m.scale = m.diagonal = 1.4142135623730951;
    Reduce(m, 0.0);
    return m;
}

// Offset of the first group block of a model saved by SaveToKGMBytes.
size_t GroupOffset(const TKGLModel& m) {
    return 387 + 20 * size_t(m.vCount + 1) + 12 * size_t(m.nCount + 1) + 12 * size_t(m.tCount + 1) +
           40 * size_t(m.eCount + 1);
}

// Loading `bytes` must fail with a message naming `className` and, on its second line,
// the block it failed in ("in memory, BLOCK"), and leave `m` unchanged;
// the same with the same message when read for display (the edges are checked there
// by another pass).
void ExpectRefused(const std::string& bytes, const char* className, const std::string& why) {
    std::string text;
    for (bool forDisplay : {false, true}) {
        TKGLModel m = MakeTwoTriangles();
        m.groupSel = {1};
        const std::string before = SaveToKGMBytes(m);
        TMessageRecorder rec;
        EXPECT_FALSE(forDisplay ? LoadKGMFromMemoryAtFullDetail(m, bytes) : LoadKGMFromMemory(m, bytes)) << why;
        ASSERT_EQ(rec.count(), 1u) << why;
        EXPECT_NE(rec.lastText().find(std::string("Exception Name: ") + className + " Exception message: "),
                  std::string::npos)
            << why << ": " << rec.lastText();
        EXPECT_NE(rec.lastText().find("\nin memory, "), std::string::npos) << why << ": " << rec.lastText();
        EXPECT_EQ(SaveToKGMBytes(m), before) << why;
        EXPECT_EQ(m.groupSel, std::vector<TBool>{1}) << why;
        if (forDisplay) {
            EXPECT_EQ(rec.lastText(), text) << why;
        }
        text = rec.lastText();
    }
}

// A triangulated w x h grid as OBJ text, with texture coordinates and one normal.
std::string GridOBJ(int w, int h) {
    std::string t;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) t += "v " + std::to_string(x) + " " + std::to_string(y * (1 + x % 3)) + " 0\n";
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) t += "vt " + std::to_string(x % 7) + " " + std::to_string(y % 5) + "\n";
    t += "vn 0 0 1\ng BODY\n";
    for (int y = 0; y + 1 < h; ++y)
        for (int x = 0; x + 1 < w; ++x) {
            const int a = y * w + x + 1, b = a + 1, c = a + w, d = c + 1;
            auto corner = [](int v) { return std::to_string(v) + "/" + std::to_string(v) + "/1"; };
            t += "f " + corner(a) + " " + corner(b) + " " + corner(d) + "\n";
            t += "f " + corner(a) + " " + corner(d) + " " + corner(c) + "\n";
        }
    return t;
}

// What the display load must equal: the plain load, then the reduction at full detail.
std::string LoadThenReduce(const std::string& bytes) {
    TKGLModel m;
    EXPECT_TRUE(LoadKGMFromMemory(m, bytes));
    Reduce(m, 0.0);
    return SaveToKGMBytes(m);
}

}  // namespace

TEST(Kgm, HeaderAndRecordSizesAreExact) {
    TKGLModel m = Mixed();
    std::string b = SaveToKGMBytes(m);
    ASSERT_GE(b.size(), 387u);
    EXPECT_EQ(b.substr(0, 21), std::string("\x0eKGL_Model_file\0\0\0\0\0\0", 21));
    EXPECT_EQ(b.substr(21, 6), std::string("\x03"
                                           "0.1\0\0",
                                           6));
    EXPECT_EQ(static_cast<uint8_t>(b[107]), 5);
    EXPECT_EQ(b.substr(108, 5), "MODEL");
    EXPECT_EQ(b.substr(113, 250), std::string(250, '\0'));
    EXPECT_EQ(I32At(b, 363), 4);
    EXPECT_EQ(I32At(b, 367), 2);
    EXPECT_EQ(I32At(b, 371), 3);
    EXPECT_EQ(I32At(b, 375), 0);
    EXPECT_EQ(I32At(b, 379), 2);
    EXPECT_EQ(I32At(b, 383), m.eCount);
    // vertex 1 target -1 at offset 387 + 20 + 12
    EXPECT_EQ(I32At(b, 387 + 20 + 12), -1);
    // group header 79, spare face 21, textured triangle 57, bare triangle 33
    size_t g = GroupOffset(m);
    EXPECT_EQ(b.size(), g + 79 + 21 + 57 + 33);
    EXPECT_EQ(b[g], 4);
    EXPECT_EQ(b.substr(g + 1, 4), "BODY");
    size_t spare = g + 79;
    EXPECT_EQ(b[spare + 8], 0);           // spare face: not visible,
    EXPECT_EQ(I32At(b, spare + 9), 0);    // no corners,
    EXPECT_EQ(I32At(b, spare + 13), -1);  // no normals,
    EXPECT_EQ(I32At(b, spare + 17), -1);  // no texture indices
    size_t tri = spare + 21;
    EXPECT_EQ(I32At(b, tri + 9), 3);
    EXPECT_EQ(I32At(b, tri + 25), 2);  // Ln, then the normal indices first
    EXPECT_EQ(I32At(b, tri + 29), 1);
    EXPECT_EQ(I32At(b, tri + 33), 2);
    EXPECT_EQ(I32At(b, tri + 41), 2);  // Lt
    EXPECT_EQ(I32At(b, tri + 45), 1);
    // edge record: padding zero, active at 32, then 7 zero bytes
    size_t e = 387 + 20 * 5 + 12 * 3 + 12 * 4;
    EXPECT_EQ(b.substr(e + 20, 4), std::string(4, '\0'));
    EXPECT_EQ(b[e + 32], 1);
    EXPECT_EQ(b.substr(e + 33, 7), std::string(7, '\0'));
}

TEST(Kgm, FreedModelIsTheHeaderAloneAndReadsBack) {
    TKGLModel m;
    FreeModel(m);
    std::string b = SaveToKGMBytes(m);
    EXPECT_EQ(b.size(), 387u);
    TKGLModel back = MakeTwoTriangles();
    TMessageRecorder rec;
    ASSERT_TRUE(LoadKGMFromMemory(back, b));
    EXPECT_EQ(rec.count(), 0u);
    EXPECT_EQ(back.vCount, -1);
    EXPECT_EQ(back.nCount, -1);
    EXPECT_EQ(back.tCount, -1);
    EXPECT_EQ(back.gCount, -1);
    EXPECT_EQ(back.fCount, -1);
    EXPECT_EQ(back.eCount, -1);
    EXPECT_EQ(SaveToKGMBytes(back), b);
}

TEST(Kgm, RoundTripIsByteForByteAndKeepsEveryField) {
    for (TKGLModel m : {Mixed(), MakeGrid(17, 13, 5)}) {
        m.name = std::string(255, 'N');
        m.groups[0].name = std::string(50, 'G');
        m.vertices[3].target = kTargetPinned;
        m.minArea = 0.125;
        m.maxArea = 7.5;
        m.boxMin = {-1, -2, -3};
        m.center = {0.5f, 0.25f, 1e-7f};
        m.groups[0].faces[0].area = -1.0;
        Reduce(m, 0.0);
        std::string first = SaveToKGMBytes(m);
        TKGLModel back;
        ASSERT_TRUE(LoadKGMFromMemory(back, first));
        Reduce(back, 0.0);
        EXPECT_EQ(SaveToKGMBytes(back), first);
        EXPECT_EQ(back.name, m.name);
        EXPECT_EQ(back.groups[0].name, m.groups[0].name);
        EXPECT_EQ(back.vertices[3].target, kTargetPinned);
        EXPECT_EQ(back.groups[0].faces[0].area, -1.0);
        EXPECT_EQ(back.groups[0].faces[0].count, 0);
        EXPECT_TRUE(back.groups[0].faces[2].tIdx == m.groups[0].faces[2].tIdx);
        EXPECT_TRUE(back.groups[0].faces[1].nIdx == m.groups[0].faces[1].nIdx);
        EXPECT_EQ(back.vertices.size(), m.vertices.size());
        EXPECT_EQ(back.edges.size(), static_cast<size_t>(m.eCount) + 2);
        EXPECT_EQ(back.groups[0].faces.size(), static_cast<size_t>(m.groups[0].fCount) + 2);
    }
}

TEST(Kgm, ReducedStateIsStoredAsItStands) {
    TKGLModel m = MakeGrid(8, 8, 2);
    Reduce(m, 0.5);
    std::string b = SaveToKGMBytes(m);
    TKGLModel back;
    ASSERT_TRUE(LoadKGMFromMemory(back, b));
    EXPECT_EQ(SaveToKGMBytes(back), b);
}

TEST(Kgm, TwoGroupsWithTheSameNameStayTwo) {
    TKGLModel m = MakeTwoTriangles();
    m.gCount = 1;
    m.groups.resize(3);
    m.groups[1] = m.groups[0];
    m.fCount = 4;
    TKGLModel back;
    ASSERT_TRUE(LoadKGMFromMemory(back, SaveToKGMBytes(m)));
    EXPECT_EQ(back.gCount, 1);
    EXPECT_EQ(back.groups[1].name, "BODY");
    EXPECT_EQ(back.groups[1].fCount, 2);
}

TEST(Kgm, LoadKeepsGroupAndFaceSelectionsAndEmptiesEdgeSelection) {
    std::string b = SaveToKGMBytes(Mixed());
    TKGLModel m = MakeGrid(4, 4, 1);
    m.groupSel = {1, 0};
    m.faceSel = {0, 1, 1};
    m.edgeSel = {1, 1};
    m.drawCount = 42;
    ASSERT_TRUE(LoadKGMFromMemory(m, b));
    EXPECT_EQ(m.groupSel, (std::vector<TBool>{1, 0}));
    EXPECT_EQ(m.faceSel, (std::vector<TBool>{0, 1, 1}));
    EXPECT_TRUE(m.edgeSel.empty());
    EXPECT_EQ(m.selColor, (TColor{1, 0, 0, 1}));
    EXPECT_EQ(m.name, "MODEL");
}

TEST(Kgm, TruncationAtEveryOffsetFailsCleanly) {
    const std::string b = SaveToKGMBytes(Mixed());
    for (size_t n = 0; n < b.size(); ++n) ExpectRefused(b.substr(0, n), "EReadError", "cut at " + std::to_string(n));
}

TEST(Kgm, AnotherFileIsNotAKgmModelFile) {
    std::string b = SaveToKGMBytes(Mixed());
    std::string wrongMagic = b;
    wrongMagic[5] = 'x';
    ExpectRefused(wrongMagic, "EReadError", "magic");
    std::string wrongVersion = b;
    wrongVersion[24] = '2';
    ExpectRefused(wrongVersion, "EReadError", "version");
    ExpectRefused("v 1 2 3\nf 1 2 3\n", "EReadError", "OBJ text");
    TKGLModel m;
    TMessageRecorder rec;
    EXPECT_FALSE(LoadKGMFromMemory(m, wrongMagic));
    EXPECT_NE(rec.lastText().find("is not a KGM model file\nin memory, header"), std::string::npos) << rec.lastText();
}

TEST(Kgm, HostileCountsFailWithoutSizingTables) {
    const std::string b = SaveToKGMBytes(Mixed());
    for (size_t off = 363; off <= 383; off += 4)
        for (int32_t count : {-2, INT32_MIN, INT32_MAX, 1 << 24}) {
            std::string h = b;
            PutI32(h, off, count);
            ExpectRefused(h, "EReadError", "count at " + std::to_string(off) + " = " + std::to_string(count));
        }
    const TKGLModel m = Mixed();
    const size_t g = GroupOffset(m);
    for (int32_t count : {-2, INT32_MAX}) {
        std::string h = b;
        PutI32(h, g + 75, count);  // the group's fCount
        ExpectRefused(h, "EReadError", "group fCount " + std::to_string(count));
    }
    const size_t tri = g + 79 + 21;
    for (auto [off, count] : {std::pair{tri + 9, INT32_MAX},
                              {tri + 9, -1},
                              {tri + 25, INT32_MAX},
                              {tri + 25, -2},
                              {tri + 41, INT32_MAX},
                              {tri + 41, -5}}) {
        std::string h = b;
        PutI32(h, off, count);
        ExpectRefused(h, count == -1 ? "ERangeError" : "EReadError", "face field at " + std::to_string(off - tri));
    }
}

TEST(Kgm, IndicesOutsideTheirTablesAreRefused) {
    const TKGLModel m = Mixed();
    const std::string b = SaveToKGMBytes(m);
    const size_t g = GroupOffset(m);
    const size_t tri = g + 79 + 21;
    const size_t edge0 = 387 + 20 * 5 + 12 * 3 + 12 * 4;
    struct {
        size_t off;
        int32_t value;
        const char* what;
    } cases[] = {
        {tri + 13, 5, "vertex index past vCount"},
        {tri + 13, -1, "negative vertex index"},
        {tri + 29, 3, "normal index past nCount"},
        {tri + 45, 4, "texture index past tCount"},
        {tri + 45, -2, "negative texture index"},
        {387 + 20 + 12, 5, "vertex target past vCount"},
        {387 + 20 + 12, -3, "vertex target below -2"},
        {387 + 100 + 36 + 12 + 8, 4, "texture target past tCount"},
        {edge0 + 16, 1, "edge group past gCount"},
        {edge0 + 16, -1, "negative edge group"},
        {edge0 + 8, 3, "edge face past the group's faces"},
        {edge0 + 0, 3, "edge corner past the face's corners"},
        {edge0 + 4, -1, "negative edge corner"},
    };
    ASSERT_GE(m.edges[0].face, 1);
    for (const auto& c : cases) {
        std::string h = b;
        PutI32(h, c.off, c.value);
        ExpectRefused(h, "ERangeError", c.what);
    }
    // face2 has no fixed range: loaded as it stands, guarded where it is used
    std::string h = b;
    PutI32(h, edge0 + 12, 12345);
    TKGLModel back;
    ASSERT_TRUE(LoadKGMFromMemory(back, h));
    EXPECT_EQ(back.edges[0].face2, 12345);
    Reduce(back, 1.0);
}

TEST(Kgm, FileSaveAndLoad) {
    TTempDir dir;
    const TKGLModel m = Mixed();
    SaveToKGM(m, dir.file("a.kgm"));
    EXPECT_EQ(ReadFile(dir.file("a.kgm")), SaveToKGMBytes(m));
    TKGLModel back;
    ASSERT_TRUE(LoadKGM(back, dir.file("a.kgm")));
    EXPECT_EQ(SaveToKGMBytes(back), SaveToKGMBytes(m));
    // only the saved file is left in the folder
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    TMessageRecorder rec;
    TKGLModel untouched = MakeTwoTriangles();
    EXPECT_FALSE(LoadKGM(untouched, dir.file("missing.kgm")));
    EXPECT_EQ(rec.count(), 0u);
    EXPECT_EQ(untouched.vCount, 4);
    EXPECT_FALSE(LoadKGM(untouched, dir.path()));  // a folder
    EXPECT_EQ(rec.count(), 1u);
    WriteFile(dir.file("short.kgm"), SaveToKGMBytes(m).substr(0, 400));
    EXPECT_FALSE(LoadKGM(untouched, dir.file("short.kgm")));
    EXPECT_EQ(rec.count(), 2u);
    EXPECT_NE(rec.lastText().find("\nin \"" + dir.file("short.kgm") + "\", header"), std::string::npos)
        << rec.lastText();
    EXPECT_EQ(untouched.vCount, 4);
}

TEST(Kgm, LargeFileStreamsThroughTheBuffer) {
    TTempDir dir;
    TKGLModel m = MakeGrid(200, 150, 9);  // a few MB: several buffer refills
    Reduce(m, 0.0);
    SaveToKGM(m, dir.file("big.kgm"));
    TKGLModel back;
    ASSERT_TRUE(LoadKGM(back, dir.file("big.kgm")));
    EXPECT_EQ(SaveToKGMBytes(back), ReadFile(dir.file("big.kgm")));
}

TEST(Kgm, FailedSaveKeepsTheOldFileAndReportsIt) {
    TTempDir dir;
    const std::string path = dir.file("model.kgm");
    WriteFile(path, "old contents");
    TKGLModel m = MakeGrid(30, 30, 4);
    // a file size limit makes the write fail part way, whoever runs the test
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        SaveToKGM(m, path);
    } catch (const EInOutError& e) {
        threw = true;
        EXPECT_NE(std::string(e.what()).find("model.kgm"), std::string::npos) << e.what();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_TRUE(threw);
    EXPECT_EQ(ReadFile(path), "old contents");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "temporary file left behind";
    EXPECT_THROW(SaveToKGM(m, dir.file("no/such/folder/m.kgm")), EInOutError);
}

// Read for display, the reset of the reduction is done while reading: the result must
// be exactly the plain load followed by Reduce(model, 0.0).
TEST(Kgm, DisplayLoadEqualsLoadThenReduceAtFullDetail) {
    TKGLModel m = Mixed();
    m.vertices[3].target = kTargetPinned;
    m.groups[0].faces[2].vIdx = {3, 3, 4};  // repeats a corner: hidden at full detail
    m.texCoords[2].target = kTargetPinned;
    Reduce(m, 1.0);
    const std::string reduced = SaveToKGMBytes(m);
    TKGLModel shown;
    ASSERT_TRUE(LoadKGMFromMemoryAtFullDetail(shown, reduced));
    EXPECT_EQ(SaveToKGMBytes(shown), LoadThenReduce(reduced));
    EXPECT_EQ(shown.vertices[3].target, kTargetPinned);
    EXPECT_EQ(shown.groups[0].faces[2].visible, 0);

    // without faces (or vertices) the reduction changes nothing: stored flags stay
    TKGLModel bare = MakeTwoTriangles();
    Reduce(bare, 1.0);
    bare.groups[0].fCount = 0;
    bare.fCount = 0;
    bare.groups[0].faces.resize(2);
    bare.eCount = 0;
    bare.edges.assign(2, TEdge{});
    const std::string noFaces = SaveToKGMBytes(bare);
    ASSERT_TRUE(LoadKGMFromMemoryAtFullDetail(shown, noFaces));
    EXPECT_EQ(SaveToKGMBytes(shown), noFaces);
    EXPECT_EQ(shown.vertices[2].target, 1);

    // from a file, as the window loads it: a model at full detail holds no reduction
    // table; the first slider move builds them once, the next ones allocate nothing
    TTempDir dir;
    WriteFile(dir.file("m.kgm"), reduced);
    TKGLModel file;
    ASSERT_TRUE(LoadFromFile(file, dir.file("m.kgm")));
    EXPECT_EQ(SaveToKGMBytes(file), LoadThenReduce(reduced));
    EXPECT_EQ(file.reduction.Builds(), 0u);
    Reduce(file, 0.5);
    Reduce(file, 0.3);
    EXPECT_EQ(file.reduction.Builds(), 1u);
}

// A model big enough to stream through the file reader's buffer many times, from memory
// and from a file: the same model, and the same failures in the fixed-size blocks and in
// the group blocks (with both, the earlier one in the file is reported).
// Read on two threads (the fixed-size blocks on one, the group blocks on the other),
// whatever the machine: the same model, and the first failing block is the one reported.
TEST(Kgm, BigFileGivesTheSameModelAndTheSameFailures) {
    SetLoadThreads(2);
    TKGLModel m;
    {
        TMessageRecorder rec;
        ASSERT_TRUE(LoadOBJFromMemory(m, GridOBJ(320, 300)));
    }
    Reduce(m, 0.3);
    const std::string b = SaveToKGMBytes(m);
    const size_t g = GroupOffset(m);
    ASSERT_GT(g, size_t(8) << 20);
    ASSERT_GT(b.size() - g, size_t(8) << 20);
    const std::string full = LoadThenReduce(b);
    TKGLModel back;
    ASSERT_TRUE(LoadKGMFromMemory(back, b));
    EXPECT_EQ(SaveToKGMBytes(back), b);
    ASSERT_TRUE(LoadKGMFromMemoryAtFullDetail(back, b));
    EXPECT_EQ(SaveToKGMBytes(back), full);
    TTempDir dir;
    WriteFile(dir.file("big.kgm"), b);
    ASSERT_TRUE(LoadKGM(back, dir.file("big.kgm")));
    EXPECT_EQ(SaveToKGMBytes(back), b);
    ASSERT_TRUE(LoadKGMAtFullDetail(back, dir.file("big.kgm")));
    EXPECT_EQ(SaveToKGMBytes(back), full);

    for (size_t cut : {g / 2, g + 100, b.size() - 1}) ExpectRefused(b.substr(0, cut), "EReadError", "cut");
    // a vertex target in the first half, a vertex index of the last face in the second
    std::string h = b;
    PutI32(h, 387 + 20 * 7 + 12, -7);
    ExpectRefused(h, "ERangeError", "vertex target");
    std::string late = b;
    PutI32(late, b.size() - 3 * 4 - 4 - 3 * 4 - 4 - 4, m.vCount + 1);  // last face: its last vertex index
    ExpectRefused(late, "ERangeError", "last face's vertex index");
    PutI32(late, 387 + 20 * 7 + 12, -7);
    TKGLModel any;
    TMessageRecorder rec;
    EXPECT_FALSE(LoadKGMFromMemoryAtFullDetail(any, late));
    EXPECT_NE(rec.lastText().find("vertex 7 has target -7"), std::string::npos) << rec.lastText();
    EXPECT_NE(rec.lastText().find("\nin memory, vertex block"), std::string::npos) << rec.lastText();
    // an edge naming a face past its group, found by the display load's own pass
    std::string edge = b;
    const size_t edge0 = 387 + 20 * size_t(m.vCount + 1) + 12 * size_t(m.nCount + 1) + 12 * size_t(m.tCount + 1);
    PutI32(edge, edge0 + 40 * 1000 + 8, m.fCount + 5);
    ExpectRefused(edge, "ERangeError", "edge face");
    SetLoadThreads(0);
}
