// kglmodel convert: OBJ <-> KGM by the extension of OUT, on the real OBJ files of
// assimp-testmodels and on hostile KGM files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "KGLModel.h"
#include "test_support.h"

namespace {

using kgl::test::ReadFile;
using kgl::test::TTempDir;
using kgl::test::WriteFile;

using TResult = kgl::test::TRun;

// Runs the kglmodel beside this program; standard output is not looked at.
TResult RunKglmodel(const std::string& args, const TTempDir& tmp) {
    return kgl::test::RunProgram(KGLMODEL_PATH, args, tmp);
}

std::string Q(const std::string& path) { return "'" + path + "'"; }

}  // namespace

TEST(Convert, RealObjFilesBothWays) {
    const auto files = kgl::test::AssimpObjFiles();
    TTempDir tmp;
    int converted = 0;
    for (const std::string& in : files) {
        const std::string& name = in;
        TResult toKgm = RunKglmodel("convert " + Q(in) + " " + Q(tmp.file("a.KGM")), tmp);
        ASSERT_TRUE(toKgm.status == 0 || toKgm.status == 1) << name << ": " << toKgm.status;
        if (toKgm.status == 1) {
            EXPECT_FALSE(toKgm.err.empty()) << name;
            continue;
        }
        ++converted;
        TResult again = RunKglmodel("convert " + Q(tmp.file("a.KGM")) + " " + Q(tmp.file("b.kgm")), tmp);
        ASSERT_EQ(again.status, 0) << name << ": " << again.err;
        EXPECT_EQ(ReadFile(tmp.file("b.kgm")), ReadFile(tmp.file("a.KGM"))) << name;
        TResult toObj = RunKglmodel("convert " + Q(tmp.file("b.kgm")) + " " + Q(tmp.file("c.obj")), tmp);
        kgl::TKGLModel m;
        ASSERT_TRUE(kgl::LoadKGM(m, tmp.file("b.kgm")));
        if (m.fCount < 1) {
            EXPECT_EQ(toObj.status, 1) << name;  // no faces: no OBJ file
            continue;
        }
        ASSERT_EQ(toObj.status, 0) << name << ": " << toObj.err;
        // the steps in their order, and a file that keeps the edge order
        for (const bool triangulate : {false, true}) {
            TResult back = RunKglmodel("convert " + Q(tmp.file("c.obj")) + " " + Q(tmp.file("d.kgm")) +
                                           " --reduce 0.5 --edge-order error --optimize-texcoords" +
                                           (triangulate ? " --triangulate" : ""),
                                       tmp);
            EXPECT_EQ(back.status, 0) << name << ": " << back.err;
            kgl::TKGLModel here;
            ASSERT_TRUE(kgl::LoadFromFile(here, tmp.file("c.obj"))) << name;
            if (triangulate) {
                ASSERT_TRUE(kgl::TriangulateFaces(here)) << name;
            }
            kgl::OptimizeTexCoords(here);
            kgl::OrderEdgesByError(here);
            kgl::Reduce(here, 0.5);
            EXPECT_TRUE(ReadFile(tmp.file("d.kgm")) == kgl::SaveToKGMBytes(here)) << name << triangulate;
        }
    }
    EXPECT_GE(converted, 5);
}

TEST(Convert, HostileKgmGivesOneLineAndStatusOneAndKeepsTheOutput) {
    TTempDir tmp;
    kgl::TKGLModel m;
    ASSERT_TRUE(kgl::LoadOBJFromMemory(m, "v 0 0 0\nv 1 0 0\nv 0 1 0\ng tri\nf 1 2 3\n"));
    const std::string good = kgl::SaveToKGMBytes(m);
    WriteFile(tmp.file("out.obj"), "keep me");
    std::string bad = good;
    bad[363] = '\x7f';  // vCount far beyond the file
    bad[366] = '\x7f';
    WriteFile(tmp.file("bad.kgm"), bad);
    TResult r = RunKglmodel("convert " + Q(tmp.file("bad.kgm")) + " " + Q(tmp.file("out.obj")), tmp);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Exception Name: EReadError Exception message: ", 0), 0u) << r.err;
    EXPECT_EQ(ReadFile(tmp.file("out.obj")), "keep me");
    WriteFile(tmp.file("text.kgm"), "v 0 0 0\n");
    r = RunKglmodel("convert " + Q(tmp.file("text.kgm")) + " " + Q(tmp.file("out.obj")), tmp);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is not a KGM model file"), std::string::npos) << r.err;
    r = RunKglmodel("convert " + Q(tmp.file("missing.obj")) + " " + Q(tmp.file("out.kgm")), tmp);
    EXPECT_EQ(r.status, 1);
    // wrong usage, before anything is read: a format not written here, --ascii beyond STL and PLY
    r = RunKglmodel("convert " + Q(tmp.file("bad.kgm")) + " " + Q(tmp.file("out.xyz")), tmp);
    EXPECT_EQ(r.status, 2);
    r = RunKglmodel("convert " + Q(tmp.file("bad.kgm")) + " " + Q(tmp.file("out.glb")) + " --ascii", tmp);
    EXPECT_EQ(r.status, 2);
}
