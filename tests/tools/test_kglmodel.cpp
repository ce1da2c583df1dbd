// kglmodel driven as a program: its output, exit status and messages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "test_support.h"

#ifndef KGLMODEL_PATH
#error "KGLMODEL_PATH must name the built kglmodel"
#endif

namespace {

using kgl::test::IsRefusalText;
using kgl::test::Quote;
using kgl::test::ReadFile;
using kgl::test::TRun;
using kgl::test::TTempDir;
using kgl::test::WriteFile;

// env: variable settings put before the command ("LC_ALL=de_DE.UTF-8 ").
TRun RunTool(const TTempDir& dir, const std::string& args, const std::string& env = "") {
    return kgl::test::RunProgram(KGLMODEL_PATH, args, dir, env);
}

size_t Lines(const std::string& s) {
    size_t n = 0;
    for (char c : s) n += c == '\n';
    return n;
}

const char* kCube =
    "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\nv -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\n"
    "g cube\nf 1 2 3 4\nf 5 8 7 6\nf 1 5 6 2\nf 2 6 7 3\nf 3 7 8 4\nf 4 8 5 1\n";

}  // namespace

TEST(Kglmodel, InfoOfACubeKeepsThePointUnderACommaLocale) {
    TTempDir dir;
    WriteFile(dir.file("cube.obj"), kCube);
    // Scripts read this output: the user's decimal comma stays out of it.
    TRun r = RunTool(dir, "info " + Quote(dir.file("cube.obj")),
                     "LC_ALL=de_DE.UTF-8 LC_NUMERIC=de_DE.UTF-8 LANG=de_DE.UTF-8 ");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "name: \nvCount: 8\nnCount: 0\ntCount: 0\ngCount: 0\nfCount: 6\neCount: 12\n"
              "minArea: 2.00\nmaxArea: 2.00\nscale: 3.46\n");
    EXPECT_EQ(r.err, "");
}

TEST(Kglmodel, DumpOfACube) {
    TTempDir dir;
    WriteFile(dir.file("cube.obj"), kCube);
    TRun r = RunTool(dir, "dump " + Quote(dir.file("cube.obj")));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("{\"name\": \"\", \"vCount\": 8, \"nCount\": 0, \"tCount\": 0, \"gCount\": 0, \"fCount\": 6, "
                          "\"eCount\": 12, \"boxMin\": [-1,-1,-1], \"boxMax\": [1,1,1], ",
                          0),
              0u)
        << r.out.substr(0, 300);
    EXPECT_NE(r.out.find("\"scale\": 3.4641016151377544"), std::string::npos);
    EXPECT_NE(
        r.out.find("{\"count\": 4, \"vIdx\": [1,2,3,4], \"tIdx\": [], \"nIdx\": [], \"area\": 0, \"visible\": 1}"),
        std::string::npos);
    EXPECT_EQ(r.out.back(), '\n');
    // cut into triangles first: each square along its 0-2 diagonal (both are as long)
    r = RunTool(dir, "dump " + Quote(dir.file("cube.obj")) + " --triangulate --reduce 0");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"fCount\": 12, \"eCount\": 18, "), std::string::npos) << r.out.substr(0, 300);
    EXPECT_NE(r.out.find("{\"count\": 3, \"vIdx\": [1,2,3], "), std::string::npos);
    EXPECT_NE(r.out.find("{\"count\": 3, \"vIdx\": [1,3,4], "), std::string::npos);
}

TEST(Kglmodel, UnreadableInputExitsOneWithOneRefusal) {
    TTempDir dir;
    WriteFile(dir.file("bad_number.obj"), "v 1 2 x\n");
    WriteFile(dir.file("bad_index.obj"), "v 1 2 3\nf 1 1 9\n");
    WriteFile(dir.file("control.obj"), std::string("v 1 2 3\nf 1 \x01 2\n"));
    WriteFile(dir.file("relative.obj"), "v 1 2 3\nf -5 1 1\n");
    WriteFile(dir.file("huge.obj"), "v 1 2 3\nf 1 99999999999 1\n");
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
    WriteFile(dir.file("garbage.obj"), "v 1 2 3\n" + garbage);
    // bytes that are no statement are ignored lines: a model or a message, never a crash
    TRun g = RunTool(dir, "dump " + Quote(dir.file("garbage.obj")));
    EXPECT_TRUE(g.status == 0 || (g.status == 1 && IsRefusalText(g.err))) << g.status << g.err;
    WriteFile(dir.file("model.txt"), kCube);
    WriteFile(dir.file("garbage.glb"), garbage);
    std::filesystem::create_directory(dir.file("folder.obj"));
    ASSERT_EQ(std::system(("mkfifo " + Quote(dir.file("fifo.kgm"))).c_str()), 0);  // never waited on
    for (const char* name : {"bad_number.obj", "bad_index.obj", "control.obj", "relative.obj", "huge.obj", "model.txt",
                             "folder.obj", "missing.obj", "fifo.kgm", "garbage.glb", "missing.fbx"}) {
        for (const char* cmd : {"info ", "dump "}) {
            TRun r = RunTool(dir, cmd + Quote(dir.file(name)));
            EXPECT_EQ(r.status, 1) << cmd << name;
            EXPECT_TRUE(IsRefusalText(r.err)) << cmd << name << ": " << r.err;
            EXPECT_EQ(r.out, "") << cmd << name;
        }
    }
    TRun r = RunTool(dir, "info " + Quote(dir.file("bad_index.obj")));
    EXPECT_EQ(r.err,
              "Exception Name: ERangeError Exception message: The vertex index of corner '9' is outside 1 .. 1\n"
              "in \"" +
                  dir.file("bad_index.obj") + "\", line 2\n");
}

// Other formats go through kglmodel-import: a glb becomes a KGM file that reads back to
// the same information, and formats lists what is read.
TEST(Kglmodel, ConvertsOtherFormatsToKgm) {
    TTempDir dir;
    const std::string glb = "/usr/share/assimp/models/glTF2/BoxTextured-glTF-Binary/BoxTextured.glb";
    TRun convert = RunTool(dir, "convert " + Quote(glb) + " " + Quote(dir.file("box.kgm")));
    ASSERT_EQ(convert.status, 0) << convert.err;
    TRun fromGlb = RunTool(dir, "info " + Quote(glb)), fromKgm = RunTool(dir, "info " + Quote(dir.file("box.kgm")));
    EXPECT_EQ(fromGlb.out, fromKgm.out);
    EXPECT_NE(fromGlb.out.find("fCount: 12\n"), std::string::npos) << fromGlb.out;
    TRun formats = RunTool(dir, "formats");
    EXPECT_EQ(formats.status, 0);
    for (const char* ext : {"obj\t", "kgm\t", "\nglb\t", "\ngltf\t", "\nfbx\t", "\nply\t", "\nstl\t", "\n3ds\t",
                            "\ndae\t", "\noff\t", "\nx\t", "\nprotections of kglmodel-import: "})
        EXPECT_NE(formats.out.find(ext), std::string::npos) << ext;
}

TEST(Kglmodel, WrongUsageExitsTwo) {
    TTempDir dir;
    WriteFile(dir.file("cube.obj"), kCube);
    const std::string cube = Quote(dir.file("cube.obj"));
    for (const std::string& args :
         {std::string(""), std::string("frobnicate"), "info " + cube + " " + cube, std::string("info"),
          "dump " + cube + " --reduce", "dump " + cube + " --bogus", "dump " + cube + " --edge-order",
          "dump " + cube + " --edge-order Error", "convert " + cube + " " + cube + " --edge-order none"}) {
        TRun r = RunTool(dir, args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << args;
    }
}

// Real-world files: each gives a model or one clear line with exit status 1, never a crash.
TEST(Kglmodel, AssimpTestModelsNeverCrash) {
    const auto files = kgl::test::AssimpObjFiles();
    TTempDir dir;
    for (const std::string& path : files) {
        TRun r = RunTool(dir, "info " + Quote(path));
        ASSERT_TRUE(r.status == 0 || r.status == 1) << path << " ended with " << r.status;
        if (r.status == 0) {
            EXPECT_EQ(Lines(r.out), 10u) << path;
        } else {
            EXPECT_TRUE(IsRefusalText(r.err)) << path << ": " << r.err;
        }
    }
    EXPECT_GT(files.size(), 10u);
}
