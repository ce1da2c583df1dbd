// The OBJ reader: the dialect, the groups, the number grammar, index resolution and
// the guarantee that a failed load changes nothing.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "KGLModel.h"
#include "errors.h"
#include "test_support.h"

using namespace kgl;
using kgl::test::TMessageRecorder;

namespace {

const char* kTriangle = "v 0 0 0\nv 3 0 0\nv 3 4 0\nf 1 2 3\n";

bool Load(TKGLModel& m, const std::string& text) {
    InitModel(m);
    return LoadOBJFromMemory(m, text);
}

// Loads text expecting failure; returns the one message shown.
std::string Refusal(const std::string& text) {
    TMessageRecorder rec;
    TKGLModel m;
    EXPECT_FALSE(Load(m, text)) << text;
    EXPECT_EQ(rec.count(), 1u) << text;
    return rec.lastText();
}

const std::string kNotText =
    "Exception Name: EReadError Exception message: The file holds a NUL byte, so it is not OBJ text (is it a binary "
    "file named .obj?)";

std::string ConvertText(const std::string& what, const char* kind) {
    return "Exception Name: EConvertError Exception message: '" + what + "' is not a valid " + kind + " value";
}

}  // namespace

TEST(ObjReader, ReadsVerticesNormalsTexCoordsAndFaces) {
    TKGLModel m;
    ASSERT_TRUE(Load(m,
                     "# comment\nv 1.5 -2 3e2\nv 0 0 0\nv 1 1 1\nvn 0 0 1\nvt 0.25 0.75 0.0\nvt 1 0\n"
                     "o thing\ns 1\nusemtl x\nmtllib y.mtl\nvp 1 2\n l 1 2\n"
                     "f 1/1/1 2/2/1 3/1/1\n"));
    EXPECT_EQ(m.vCount, 3);
    EXPECT_EQ(m.nCount, 1);
    EXPECT_EQ(m.tCount, 2);
    ASSERT_EQ(m.vertices.size(), 5u);
    EXPECT_EQ(m.vertices[1].x, 1.5f);
    EXPECT_EQ(m.vertices[1].y, -2.0f);
    EXPECT_EQ(m.vertices[1].z, 300.0f);
    EXPECT_EQ(m.vertices[1].target, kTargetFree);
    EXPECT_EQ(m.vertices[0].target, 0);  // the spare stays zero
    EXPECT_EQ(m.texCoords[1].u, 0.25f);
    EXPECT_EQ(m.texCoords[1].v, 0.75f);
    EXPECT_EQ(m.texCoords[1].target, kTargetFree);
    EXPECT_EQ(m.normals[1].z, 1.0f);
    EXPECT_EQ(m.normals.size(), 3u);
    EXPECT_EQ(m.texCoords.size(), 4u);
    ASSERT_EQ(m.gCount, 0);
    EXPECT_EQ(m.groups[0].name, "DEFAULT");
    const TFace& f = m.groups[0].faces[1];
    EXPECT_EQ(f.count, 3);
    EXPECT_EQ(f.vIdx, (TIndexList{1, 2, 3}));
    EXPECT_EQ(f.tIdx, (TIndexList{1, 2, 1}));
    EXPECT_EQ(f.nIdx, (TIndexList{1, 1, 1}));
    EXPECT_TRUE(f.visible);
    EXPECT_EQ(m.vertices.size(), 5u);
    EXPECT_EQ(m.boxMin.y, -2.0f);
    EXPECT_EQ(m.boxMax.z, 300.0f);
}

TEST(ObjReader, CornerFormsFillTheirLists) {
    TKGLModel m;
    ASSERT_TRUE(Load(m,
                     "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvt 0 0\nvt 0 0\n"
                     "vn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\n"
                     "f 1 2 3 4\nf 1/4 2/5 3/6\nf 1//7 2//8 3//9\nf 1/4/7 2/5/8 3/6/9\nf 1/4 2 3\n"));
    const auto& faces = m.groups[0].faces;
    ASSERT_EQ(m.groups[0].fCount, 5);
    EXPECT_EQ(faces[1].count, 4);
    EXPECT_TRUE(faces[1].tIdx.empty() && faces[1].nIdx.empty());
    EXPECT_EQ(faces[2].tIdx, (TIndexList{4, 5, 6}));
    EXPECT_TRUE(faces[2].nIdx.empty());
    EXPECT_TRUE(faces[3].tIdx.empty());
    EXPECT_EQ(faces[3].nIdx, (TIndexList{7, 8, 9}));
    EXPECT_EQ(faces[4].tIdx, (TIndexList{4, 5, 6}));
    EXPECT_EQ(faces[4].nIdx, (TIndexList{7, 8, 9}));
    EXPECT_EQ(faces[5].vIdx, (TIndexList{1, 2, 3}));
    EXPECT_EQ(faces[5].tIdx, (TIndexList{4}));
}

TEST(ObjReader, GroupsNamesAndTheDefaultGroup) {
    TKGLModel m;
    // faces before the first g line go to DEFAULT at index 0; the name is group 1's
    ASSERT_TRUE(Load(m, std::string(kTriangle) + "g  Body Part \nf 1 2 3\nf 3 2 1\ng empty\n"));
    ASSERT_EQ(m.gCount, 2);
    EXPECT_EQ(m.groups[0].name, "DEFAULT");
    EXPECT_EQ(m.groups[0].fCount, 1);
    EXPECT_EQ(m.groups[1].name, "BODY PART");
    EXPECT_EQ(m.groups[1].fCount, 2);
    EXPECT_EQ(m.groups[2].fCount, 0);
    EXPECT_EQ(m.groups[2].faces.size(), 2u);
    EXPECT_EQ(m.fCount, 3);
    EXPECT_EQ(m.name, "BODY PART");

    // explicit "g default" then "g cube": no extra group; one g line: empty name
    ASSERT_TRUE(Load(m, "v 0 0 0\nv 1 0 0\nv 1 1 0\ng default\nf 1 2 3\ng cube\nf 1 2 3\n"));
    ASSERT_EQ(m.gCount, 1);
    EXPECT_EQ(m.groups[0].name, "DEFAULT");
    EXPECT_EQ(m.name, "CUBE");
    ASSERT_TRUE(Load(m, "v 0 0 0\nv 1 0 0\nv 1 1 0\ng cube\nf 1 2 3\n"));
    EXPECT_EQ(m.gCount, 0);
    EXPECT_EQ(m.groups[0].name, "CUBE");
    EXPECT_EQ(m.name, "");

    // no faces, no g line: no group at all
    ASSERT_TRUE(Load(m, "v 0 0 0\n"));
    EXPECT_EQ(m.gCount, -1);
    EXPECT_EQ(m.fCount, 0);
    EXPECT_EQ(m.eCount, 0);

    ASSERT_TRUE(Load(m, "g " + std::string(60, 'x') + "\n"));
    EXPECT_EQ(m.groups[0].name, std::string(50, 'X'));
}

TEST(ObjReader, KeywordsInAnyCaseBomAndCrLf) {
    TKGLModel m;
    ASSERT_TRUE(Load(m, "\xEF\xBB\xBFV 0 0 0\r\nv 1 0 0\r\nVT 0 0\r\nVn 0 0 1\r\nv 1 1 0\r\nF 1/1/1 2/1/1 3/1/1\r\n"));
    EXPECT_EQ(m.vCount, 3);
    EXPECT_EQ(m.tCount, 1);
    EXPECT_EQ(m.nCount, 1);
    EXPECT_EQ(m.fCount, 1);
    EXPECT_EQ(
        Refusal(std::string("\xFF\xFEv\0 \0", 6)),
        "Exception Name: EReadError Exception message: The file is UTF-16 text; OBJ files are read as 8-bit text\n"
        "in memory");
    // the last line without a line break is read too
    ASSERT_TRUE(Load(m, "v 0 0 0\nv 1 0 0\nv 1 1 1\nf 1 2 3"));
    EXPECT_EQ(m.fCount, 1);
    // extra blanks after the keyword are trimmed in v and f lines
    ASSERT_TRUE(Load(m, "v   0 0 0 \nv 1 0 0\nv 1 1 1\nf   1 2 3  \n"));
    EXPECT_EQ(m.fCount, 1);
}

TEST(ObjReader, NumberGrammar) {
    for (const char* good : {"1", "-1", "+1", "1.5", ".5", "-.5", "1e3", "1E-3", "2.5e+2", "0.000", "5.", "-1.E2"})
        EXPECT_NO_THROW(ParseFloat(good)) << good;
    for (const char* bad : {"", ".", "-.", ".e5", "e5", "1e", "1e+", "nan", "inf", "-inf", "0x1p3", "1e39", "-1e39",
                            "1,5", "1.5.2", "--1", " 1", "1 ", "1.\t"})
        EXPECT_THROW(ParseFloat(bad), EModelError) << bad;
    EXPECT_EQ(ParseFloat("1e-50"), 0.0f);  // underflow is a float: zero
    EXPECT_EQ(ParseFloat("3.4e38"), 3.4e38f);
    EXPECT_EQ(ParseFloat("5."), 5.0f);  // a trailing point, as strtod reads it
    EXPECT_EQ(ParseFloat("-1.E2"), -100.0f);
    EXPECT_EQ(ParseInteger("+7"), 7);
    EXPECT_EQ(ParseInteger("-2147483648"), INT32_MIN);
    for (const char* bad : {"", "+", "1.0", "2147483648", "1e3", "0x10", " 1"})
        EXPECT_THROW(ParseInteger(bad), EModelError) << bad;
}

// Each refusal: the system's text, then where it is.
TEST(ObjReader, RefusalsSayWhatAndWhere) {
    const std::string t = kTriangle;  // four lines
    auto convert = [](const std::string& what, const char* kind, int line) {
        return ConvertText(what, kind) + "\nin memory, line " + std::to_string(line);
    };
    auto range = [](const std::string& what, int line) {
        return "Exception Name: ERangeError Exception message: The " + what + "\nin memory, line " +
               std::to_string(line);
    };
    const std::pair<std::string, std::string> cases[] = {
        {"v 1 2 nan\n", convert("NAN", "floating point", 1)},
        {"v 1 2 1e39\n", convert("1E39", "floating point", 1)},
        {"v 0 0 0\nv 1 2\n", convert("", "floating point", 2)},  // a missing number is ''
        {"vn 1\t2\n", convert("", "floating point", 1)},
        {"v 1 2 3\rv 4 x 6\r", convert("X", "floating point", 2)},  // lone CR ends lines
        {"v 1 2 3\r\nv 4 5 6\r\nvt\r\n", convert("", "floating point", 3)},
        {"vt \t \n", convert("", "floating point", 1)},
        {"vt 0.25 x\n", convert("X", "floating point", 1)},
        {"v 1 2 3,5\n", convert("3,5", "floating point", 1)},
        {"v 1 2 \x01\x1b[2J\x7f\n", convert("\\x01\\x1B[2J\\x7F", "floating point", 1)},  // control bytes escaped
        {t + "f 1 2 3\n" + std::string("\xFF\xFEv\0 \0", 6) + "\n", kNotText + "\nin memory, line 6"},
        {std::string("v\0 \0001\0", 6), kNotText + "\nin memory, line 1"},  // UTF-16 without byte-order mark
        {t + "f 1 2 x\n", convert("X", "integer", 5)},
        {t + "f 1 2 3.0\n", convert("3.0", "integer", 5)},
        {t + "f 1/ 2 3\n", convert("", "integer", 5)},
        {t + "f\n", convert("F", "integer", 5)},  // no blank: the whole line is corners
        {t + "f 1 2 0\n", range("vertex index of corner '0' is outside 1 .. 3", 5)},
        {t + "\n# note\n\nf 1 2 4\n", range("vertex index of corner '4' is outside 1 .. 3", 8)},
        {"v 0 0 0\nf -2 1 1\nv 1 1 1\n", range("vertex index of corner '-2' is outside 1 .. 2", 2)},
        {t + "f 1/1 2/1 3/1\n", range("texture-coordinate index of corner '1/1' is outside 1 .. 0", 5)},
        {t + "vn 0 0 1\nf 1//2 2//1 3//1\n", range("normal index of corner '1//2' is outside 1 .. 1", 6)},
    };
    for (const auto& [text, message] : cases) EXPECT_EQ(Refusal(text), message) << text;
}

TEST(ObjReader, RelativeIndices) {
    TKGLModel m;
    // -1 is the latest entry read before the f line
    ASSERT_TRUE(Load(m, "v 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 0\nf -3/-1 -2/-1 -1/-1\nv 2 2 2\nf -1 1 2\n"));
    EXPECT_EQ(m.groups[0].faces[1].vIdx, (TIndexList{1, 2, 3}));
    EXPECT_EQ(m.groups[0].faces[1].tIdx, (TIndexList{1, 1, 1}));
    EXPECT_EQ(m.groups[0].faces[2].vIdx, (TIndexList{4, 1, 2}));
    // a positive index may name a vertex that a later line defines
    ASSERT_TRUE(Load(m, "f 1 2 3\nv 0 0 0\nv 1 0 0\nv 1 1 0\n"));
    EXPECT_EQ(m.fCount, 1);
}

// What other programs write: tabs and runs of blanks between fields, lone CR line ends,
// w and r g b after a vertex, vt without v, numbers with a trailing point. Each text
// must load to the same model as its plain form (one blank, LF), byte for byte in KGM.
TEST(ObjReader, RealWorldFormsReadAsTheirPlainForm) {
    const std::string plain =
        "v 1 2 3\nv 4 5 6\nv 7 8 9\nvn 0 0 1\nvt 0.5 0\nvt 0.25 0.75\ng part\nf 1/1/1 2/2/1 3/2/1\nf 3 2 1\n";
    const std::string variants[] = {
        "v\t1 2 3\nv 4\t5\t6\nv  7   8 9\nvn\t0\t0\t1\nvt 0.5\nvt\t0.25  0.75\ng part\nf\t1/1/1\t2/2/1 3/2/1\nf 3  "
        "2\t1\n",
        "v 1 2 3\rv 4 5 6\rv 7 8 9\rvn 0 0 1\rvt 0.5 0\rvt 0.25 0.75\rg part\rf 1/1/1 2/2/1 3/2/1\rf 3 2 1\r",
        "v 1 2 3\r\nv 4 5 6\rv 7 8 9\nvn 0 0 1\r\r\nvt 0.5 0\nvt 0.25 0.75\ng part\nf 1/1/1 2/2/1 3/2/1\nf 3 2 1",
        "v 1 2 3 1\nv 4 5 6 0.5 0.25 0.125\nv 7 8 9 1.0\nvn 0 0 1 9\nvt 0.5 0 0\nvt 0.25 0.75 1 1\ng part\n"
        "f 1/1/1 2/2/1 3/2/1\nf 3 2 1\n",
        "v 1. 2. 3.\nv 4.e0 +5. 6\nv 7 8 9\t\nvn 0. 0 1.\nvt .5 0.\nvt 0.25 0.75\t \ng part\t\n"
        "f 1/1/1 2/2/1 3/2/1 \t\nf 3 2 1\t\n",
        // statements indented by blanks and tabs; an indented comment stays a comment
        "  v 1 2 3\n\tv 4 5 6\n \t v 7 8 9\n  vn 0 0 1\n\tvt 0.5 0\n vt 0.25 0.75\n\t# f 9 9 9\n  g part\n"
        "\tf 1/1/1 2/2/1 3/2/1\n f 3 2 1\n",
    };
    TKGLModel want;
    ASSERT_TRUE(Load(want, plain));
    const std::string wantBytes = SaveToKGMBytes(want);
    for (const std::string& text : variants) {
        TMessageRecorder rec;
        TKGLModel got;
        ASSERT_TRUE(Load(got, text)) << text << rec.lastText();
        EXPECT_EQ(SaveToKGMBytes(got), wantBytes) << text;
    }
}

TEST(ObjReader, FailedLoadLeavesTheModelAsItWas) {
    TKGLModel m;
    ASSERT_TRUE(Load(m, std::string(kTriangle) + "g a\nf 1 2 3\n"));
    m.groupSel = {1, 0};
    m.faceSel = {0, 1, 0};
    m.edgeSel = {1, 1, 1};
    TKGLModel before = m;
    TMessageRecorder rec;
    EXPECT_FALSE(LoadOBJFromMemory(m, "v 1 1 1\nv 2 2 2\nv 3 3 x\n"));
    EXPECT_EQ(rec.count(), 1u);
    EXPECT_EQ(m.vCount, before.vCount);
    EXPECT_EQ(m.vertices.size(), before.vertices.size());
    EXPECT_EQ(m.vertices[1].x, before.vertices[1].x);
    EXPECT_EQ(m.gCount, before.gCount);
    EXPECT_EQ(m.eCount, before.eCount);
    EXPECT_EQ(m.edgeSel, before.edgeSel);

    // a successful reload keeps group and face selections, empties the edge selection
    ASSERT_TRUE(LoadOBJFromMemory(m, kTriangle));
    EXPECT_EQ(m.groupSel, (std::vector<TBool>{1, 0}));
    EXPECT_EQ(m.faceSel, (std::vector<TBool>{0, 1, 0}));
    EXPECT_TRUE(m.edgeSel.empty());
    EXPECT_EQ(m.gCount, 0);
}

TEST(ObjReader, FilesByExtension) {
    kgl::test::TTempDir dir;
    TKGLModel m;
    InitModel(m);
    kgl::test::WriteFile(dir.file("a.OBJ"), kTriangle);
    kgl::test::WriteFile(dir.file("a.txt"), kTriangle);
    TMessageRecorder rec;
    EXPECT_TRUE(LoadFromFile(m, dir.file("a.OBJ")));
    EXPECT_EQ(m.fCount, 1);
    EXPECT_FALSE(LoadFromFile(m, dir.file("a.txt")));
    EXPECT_FALSE(LoadFromFile(m, dir.file("missing.obj")));
    EXPECT_EQ(m.fCount, 1);
    EXPECT_EQ(rec.count(), 0u);  // neither a wrong extension nor a missing file shows a message
    EXPECT_FALSE(LoadFromFile(m, dir.path() + "/"));
    // a folder or a FIFO named like a model is refused up front by either reader (a FIFO
    // is never waited on): the message says where, and the model stays
    for (const char* name : {"d.obj", "d.kgm", "p.obj", "p.kgm"}) {
        const std::string path = dir.file(name);
        const std::string make = name[0] == 'd' ? "mkdir '" : "mkfifo '";
        ASSERT_EQ(std::system((make + path + "'").c_str()), 0);
        rec.entries.clear();
        EXPECT_FALSE(LoadFromFile(m, path));
        EXPECT_EQ(rec.count(), 1u) << name;
        EXPECT_EQ(rec.lastText().rfind("Exception Name: EInOutError Exception message: Cannot read file", 0), 0u);
        EXPECT_EQ(rec.lastText().substr(rec.lastText().find('\n') + 1), "in \"" + path + "\"") << name;
        EXPECT_EQ(m.fCount, 1);
    }
}

TEST(ObjReader, FileAndMemoryGiveTheSameModel) {
    kgl::test::TTempDir dir;
    // long lines cross the file reader's block boundaries, with each kind of line end
    for (const std::string eol : {"\r\n", "\r", "\n"}) {
        std::string text = "\xEF\xBB\xBF";
        for (int i = 0; i < 100000; ++i) text += "v " + std::to_string(i) + ".5 1 2" + eol;
        text += "g big" + eol + "f";
        for (int i = 1; i <= 100000; ++i) text += ' ' + std::to_string(i);
        text += eol + "f 1 2 3";
        kgl::test::WriteFile(dir.file("big.obj"), text);
        TKGLModel a, b;
        ASSERT_TRUE(LoadOBJ(a, dir.file("big.obj")));
        ASSERT_TRUE(Load(b, text));
        EXPECT_EQ(a.vCount, 100000);
        EXPECT_EQ(a.groups[0].faces[1].count, 100000);
        EXPECT_EQ(a.groups[0].faces[2].count, 3);
        EXPECT_EQ(a.vertices[100000].x, 99999.5f);
        EXPECT_EQ(SaveToKGMBytes(a), SaveToKGMBytes(b));
    }
    // a line end as the last byte of the first 1 MiB block: a CR LF cut apart, a lone CR;
    // the lines after it are counted alike (the refusal names line 6 either way)
    for (const std::string eol : {"\r\n", "\r"}) {
        const std::string text = "#" + std::string((size_t(1) << 20) - 2, 'x') + eol + "v 1 2 3" + eol +
                                 "v 4 5 6\nv 7 8 9\nf 1 2 3\nf 1 2 x\n";
        kgl::test::WriteFile(dir.file("cut.obj"), text);
        TMessageRecorder rec;
        TKGLModel a, b;
        EXPECT_FALSE(LoadOBJ(a, dir.file("cut.obj")));
        EXPECT_EQ(rec.lastText(), ConvertText("X", "integer") + "\nin \"" + dir.file("cut.obj") + "\", line 6");
        EXPECT_EQ(Refusal(text), ConvertText("X", "integer") + "\nin memory, line 6");
        const std::string good = text.substr(0, text.size() - 8);
        kgl::test::WriteFile(dir.file("cut.obj"), good);
        ASSERT_TRUE(LoadOBJ(a, dir.file("cut.obj")));
        ASSERT_TRUE(Load(b, good));
        EXPECT_EQ(a.vCount, 3);
        EXPECT_EQ(SaveToKGMBytes(a), SaveToKGMBytes(b));
    }
    // a NUL byte past the first block: not text, refused at its line from file and memory
    const std::string binary = "#" + std::string((size_t(1) << 20) - 2, 'x') + "\nv 1 2 3\nv 4 5 6\nv 7 8 9\n" +
                               "f 1 2 3\nf 1 2" + std::string(1, '\0') + " 3\n";
    kgl::test::WriteFile(dir.file("binary.obj"), binary);
    TMessageRecorder rec;
    TKGLModel a;
    EXPECT_FALSE(LoadOBJ(a, dir.file("binary.obj")));
    EXPECT_EQ(rec.lastText(), kNotText + "\nin \"" + dir.file("binary.obj") + "\", line 6");
    EXPECT_EQ(Refusal(binary), kNotText + "\nin memory, line 6");
}

// A text read in 2 or 3 ranges at once gives the model, or the refusal with its line
// number, of the text read in one. A comment of growing length in front moves the range
// edges over every line of each text: groups that run on across an edge (the default
// group too), relative indices, each kind of line end, and texts with two faults, of
// which the first in the file must be the one reported.
TEST(ObjReader, ReadingInRangesGivesTheModelOfOneReading) {
    const std::string texts[] = {
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 0\nvt 1 1\nvn 0 0 1\nf 1/1/1 2/2/1 3/1/1\nf -1 -2 -3\ng a\nf 1 2 3\r\n"
        "v 2 2 2\r\nf -1 1 2\rf 4 3 2\n  g  b c\n\tf 1//1 2//1 -1//1\ng\ng d\nf 1 2 4\nv 3 3 3\nf -1 -2 -3 -4\n",
        "g only\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 3 2 1\nf 1 3 2\nf 2 1 3\nf 2 3 1\nf 3 1 2\n",
        "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 2 3\ng x\nf 1 2 3\nv 1 x 1\nf 1 2 9\n",  // two faults
        "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\ng x\nf -1 -2 -4\nf 1 2 3\n",
    };
    for (const std::string& body : texts) {
        for (size_t pad = 0; pad < body.size() + 2; pad += 3) {
            std::string text(pad + 1, 'x');
            text[0] = '#';
            text += '\n';
            text += body;
            std::string want;
            for (int32_t threads : {1, 2, 3}) {
                SetLoadThreads(threads);
                TMessageRecorder rec;
                TKGLModel m;
                const std::string got = Load(m, text) ? SaveToKGMBytes(m) : rec.lastText();
                if (threads == 1)
                    want = got;
                else
                    EXPECT_EQ(got, want) << threads << " ranges, pad " << pad << ":\n" << body;
            }
        }
    }
    SetLoadThreads(0);
}

// Short decimals go through one double division; a decimal of many digits that lies
// just off the half-way point between two floats must still give the nearest float,
// in ParseFloat and in v, vn and vt lines alike.
TEST(ObjReader, DecimalsGiveTheNearestFloat) {
    auto nearest = [](const std::string& text) {
        float f = 0;
        std::from_chars(text.data(), text.data() + text.size(), f);
        return f;
    };
    std::vector<std::string> texts = {"1.57398921251297", "7.53116250038147", "-4.58791708946228", "9.54694414138794",
                                      "0.350000",         "-0.000000",        "123456.789012345"};
    std::mt19937_64 rng(7);
    for (int i = 0; i < 2000; ++i) {  // random decimals of 1 to 15 digits
        int digits = 1 + static_cast<int>(rng() % 15), point = static_cast<int>(rng() % (digits + 1));
        std::string t = rng() % 2 ? "-" : "";
        for (int d = 0; d < digits; ++d) {
            if (d == point && d > 0) t += '.';
            t += static_cast<char>('0' + rng() % 10);
        }
        texts.push_back(t);
    }
    for (const std::string& t : texts) {
        const float want = nearest(t);
        EXPECT_EQ(std::signbit(ParseFloat(t)), std::signbit(want)) << t;
        EXPECT_EQ(ParseFloat(t), want) << t;
    }
    std::string obj;
    for (size_t i = 0; i < 60; ++i) obj += "v " + texts[i] + " " + texts[i + 1] + " " + texts[i + 2] + "\n";
    for (size_t i = 0; i < 60; ++i) obj += "vn " + texts[i] + " 0 " + texts[i + 3] + "\n";
    for (size_t i = 0; i < 60; ++i) obj += "vt " + texts[i] + " " + texts[i + 4] + "\n";
    TKGLModel m;
    ASSERT_TRUE(LoadOBJFromMemory(m, obj));
    for (size_t i = 0; i < 60; ++i) {
        EXPECT_EQ(m.vertices[i + 1].x, nearest(texts[i])) << texts[i];
        EXPECT_EQ(m.vertices[i + 1].z, nearest(texts[i + 2])) << texts[i + 2];
        EXPECT_EQ(m.normals[i + 1].z, nearest(texts[i + 3])) << texts[i + 3];
        EXPECT_EQ(m.texCoords[i + 1].v, nearest(texts[i + 4])) << texts[i + 4];
    }
}
