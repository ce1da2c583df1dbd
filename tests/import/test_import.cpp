// Opening other formats through kglmodel-import: the models of many exporters load as
// their scenes say or are refused with a message, an imported model is the model its
// OBJ gives, and no way a child can end or fail costs more than a message.
#include <assimp/scene.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <assimp/Importer.hpp>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include "KGLModel.h"
#include "import.h"
#include "progress.h"
#include "test_support.h"

using kgl::test::TMessageRecorder;

namespace {

struct TImporterSetUp : testing::Environment {
    void SetUp() override { kgl::SetImporterProgram(KGL_BIN_DIR "/kglmodel-import"); }
};
const auto* const kSetUp = testing::AddGlobalTestEnvironment(new TImporterSetUp);

// What the mapping makes of a scene, worked out here from the library's own scene in the
// plainest way: every mesh instance's polygons, its transformed positions as a set.
struct TExpected {
    int32_t faces = 0;
    std::set<std::array<float, 3>> positions;
    std::array<float, 3> lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
};

void Expect(const aiScene& scene, const aiNode* node, aiMatrix4x4 parent, TExpected& e, std::vector<bool>& seen) {
    const aiMatrix4x4 t = parent * node->mTransformation;
    auto add = [&](const aiMesh& mesh, const aiMatrix4x4& m) {
        for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
            if (mesh.mFaces[f].mNumIndices < 3) continue;
            ++e.faces;
            for (unsigned c = 0; c < mesh.mFaces[f].mNumIndices; ++c) {
                aiVector3D p = m * mesh.mVertices[mesh.mFaces[f].mIndices[c]];
                e.positions.insert({p.x == 0 ? 0.0f : p.x, p.y == 0 ? 0.0f : p.y, p.z == 0 ? 0.0f : p.z});
                for (int a = 0; a < 3; ++a) {
                    e.lo[a] = std::min(e.lo[a], kgl::AsWrittenInOBJ(p[a]));
                    e.hi[a] = std::max(e.hi[a], kgl::AsWrittenInOBJ(p[a]));
                }
            }
        }
    };
    for (unsigned i = 0; i < node->mNumMeshes; ++i) {
        seen[node->mMeshes[i]] = true;
        add(*scene.mMeshes[node->mMeshes[i]], t);
    }
    for (unsigned c = 0; c < node->mNumChildren; ++c) Expect(scene, node->mChildren[c], t, e, seen);
    if (node == scene.mRootNode)
        for (unsigned m = 0; m < scene.mNumMeshes; ++m)
            if (!seen[m]) add(*scene.mMeshes[m], aiMatrix4x4());
}

// A load that fails: one message of the system's form whose second line is the file.
void ExpectRefusal(const TMessageRecorder& rec, const std::string& path) {
    ASSERT_EQ(rec.count(), 1u) << path;
    const std::string& text = rec.lastText();
    EXPECT_EQ(text.rfind("Exception Name: ", 0), 0u) << text;
    EXPECT_TRUE(kgl::test::IsRefusalText(text)) << text;
    EXPECT_EQ(text.substr(text.find('\n') + 1), "in \"" + path + "\"") << text;
}

}  // namespace

// Every model file of eight folders of assimp-testmodels either loads to what its scene
// holds under the mapping (faces, welded positions, box), and reads back from its own
// OBJ text to the same KGM bytes, or is refused with a message; none loads empty.
TEST(Import, ModelsOfEveryExporterLoadAsTheirScenesOrAreRefused) {
    kgl::SetImportLimits({uint64_t(4) << 30, 60, 60});
    const std::map<std::string, std::vector<std::string>> folders = {
        {"glTF2", {".gltf", ".glb"}},  {"FBX", {".fbx"}}, {"PLY", {".ply"}}, {"STL", {".stl"}}, {"3DS", {".3ds"}},
        {"Collada", {".dae", ".zae"}}, {"OFF", {".off"}}, {"X", {".x"}},
    };
    for (const auto& [folder, extensions] : folders) {
        int loaded = 0, refused = 0;
        const auto files = kgl::test::AssimpModelFiles(folder, extensions);
        for (const std::string& path : files) {
            TMessageRecorder rec;
            kgl::TKGLModel model;
            if (!kgl::LoadModelFile(model, path)) {
                ++refused;
                ExpectRefusal(rec, path);
                std::printf("  refused %s: %s\n", path.c_str(), kgl::test::FirstLine(rec.lastText()).c_str());
                continue;
            }
            ++loaded;
            ASSERT_GE(model.fCount, 1) << path;
            Assimp::Importer importer;
            const aiScene* scene = importer.ReadFile(path, 0);
            ASSERT_TRUE(scene && scene->mRootNode) << path;
            TExpected want;
            std::vector<bool> seen(scene->mNumMeshes);
            Expect(*scene, scene->mRootNode, aiMatrix4x4(), want, seen);
            EXPECT_EQ(model.fCount, want.faces) << path;
            EXPECT_EQ(model.vCount, static_cast<int32_t>(want.positions.size())) << path;
            EXPECT_EQ((std::array<float, 3>{model.boxMin.x, model.boxMin.y, model.boxMin.z}), want.lo) << path;
            EXPECT_EQ((std::array<float, 3>{model.boxMax.x, model.boxMax.y, model.boxMax.z}), want.hi) << path;
            kgl::TKGLModel again;
            ASSERT_TRUE(kgl::LoadOBJFromMemory(again, kgl::SaveToOBJText(model, "now"))) << path;
            kgl::Reduce(again, 0.0);
            EXPECT_EQ(kgl::SaveToKGMBytes(again), kgl::SaveToKGMBytes(model)) << path;
        }
        std::printf("%s: %d loaded, %d refused, %zu files\n", folder.c_str(), loaded, refused, files.size());
    }
    kgl::SetImportLimits({});
}

// However the child ends, the caller shows one message saying where, keeps its model
// and leaves no temporary file; a cancel kills the child and shows nothing.
TEST(Import, EveryWayTheChildEndsIsAMessage) {
    kgl::test::TTempDir dir;
    const std::string model = dir.file("model.ply");
    kgl::test::WriteFile(model, "ply\nformat ascii 1.0\nend_header\n");
    setenv("TMPDIR", dir.path().c_str(), 1);
    struct TCase {
        const char* script;  // the child's body: $2 is its output
        kgl::TImportLimits limits;
        const char* says;
    };
    const kgl::TImportLimits normal{uint64_t(1) << 30, 10, 10};
    const TCase cases[] = {
        {"kill -SEGV $$", normal, "The importer crashed (signal 11: Segmentation fault)"},
        {"echo 'cannot read it' >&2; echo second >&2; exit 1", normal, "cannot read it"},
        {"printf '\\033[2Jbad\\000x' >&2; exit 1", normal, "\\x1B[2Jbad\\x00x"},
        {"exit 3", normal, "The importer needed more than its 1024 MB of memory"},
        {"exit 7", normal, "The importer ended with status 7"},
        {"sleep 20", {uint64_t(1) << 30, 10, 1}, "The importer did not finish within 1 s"},
        {"while :; do :; done", {uint64_t(1) << 30, 1, 20}, "The importer used more than its 1 s of processor time"},
        {"exit 0", normal, "The importer wrote a model that cannot be read: Cannot read file"},
        {"echo 'progress 5 1000'; printf 'KGL_Model_file' > \"$2\"", normal,
         "The importer wrote a model that cannot be read: "},
    };
    for (const TCase& c : cases) {
        const std::string fake = dir.file("fake.sh");
        kgl::test::WriteFile(fake, std::string("#!/bin/sh\n") + c.script + "\n");
        ASSERT_EQ(chmod(fake.c_str(), 0755), 0);
        kgl::SetImporterProgram(fake);
        kgl::SetImportLimits(c.limits);
        TMessageRecorder rec;
        kgl::TKGLModel shown;
        shown.fCount = 42;
        EXPECT_FALSE(kgl::LoadModelFile(shown, model)) << c.script;
        ExpectRefusal(rec, model);
        EXPECT_NE(rec.lastText().find(c.says), std::string::npos) << c.script << "\n" << rec.lastText();
        EXPECT_EQ(shown.fCount, 42);
    }
    // a cancel from the progress service: no message, the child gone
    kgl::test::WriteFile(dir.file("fake.sh"), "#!/bin/sh\necho \"$$\" > " + dir.file("pid") + "\nsleep 20\n");
    kgl::SetImportLimits(normal);
    // asked to stop once the child has started (its pid written)
    const std::string pidFile = dir.file("pid");
    const auto previous = kgl::SetProgressHandler(
        [&](uint64_t, uint64_t) { return kgl::test::ReadFile(pidFile).find('\n') == std::string::npos; });
    TMessageRecorder rec;
    kgl::TKGLModel shown;
    EXPECT_FALSE(kgl::LoadModelFile(shown, model));
    kgl::SetProgressHandler(previous);
    EXPECT_EQ(rec.count(), 0u);
    const std::string pid = kgl::test::ReadFile(pidFile);
    ASSERT_FALSE(pid.empty());
    EXPECT_NE(kill(std::atoi(pid.c_str()), 0), 0) << "the child still runs";

    // the importer program missing
    kgl::SetImporterProgram(dir.file("none"));
    EXPECT_FALSE(kgl::LoadModelFile(shown, model));
    EXPECT_NE(rec.lastText().find("Cannot start the importer"), std::string::npos) << rec.lastText();
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().rfind("kgl-import-", 0), std::string::npos) << entry.path();
    unsetenv("TMPDIR");
    kgl::SetImporterProgram(KGL_BIN_DIR "/kglmodel-import");
    kgl::SetImportLimits({});
}

// Hostile files the real importer meets: each is refused with a message or loads, and
// none takes the caller down or past its limits.
TEST(Import, HostileFilesAreRefusedOrLoad) {
    kgl::test::TTempDir dir;
    const std::string glb =
        kgl::test::ReadFile("/usr/share/assimp/models/glTF2/BoxTextured-glTF-Binary/BoxTextured.glb");
    ASSERT_GT(glb.size(), 100u);
    std::string binaryStl = "solid but binary" + std::string(64, ' ');
    binaryStl += std::string("\x02\0\0\0", 4) + std::string(100, '\x7f');
    const std::pair<const char*, std::string> files[] = {
        {"truncated.glb", glb.substr(0, glb.size() / 2)},
        {"header.glb", glb.substr(0, 20)},
        {"faces.ply",
         "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\nproperty float z\n"
         "element face 2147483648\nproperty list uchar int vertex_indices\nend_header\n0 0 0\n1 0 0\n"
         "0 1 0\n3 0 1 2\n"},
        {"binary.stl", binaryStl},
        {"empty.fbx", ""},
        {"points.ply",
         "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\nproperty float z\n"
         "end_header\n0 0 0\n1 0 0\n"},
    };
    kgl::SetImportLimits({uint64_t(2) << 30, 20, 30});
    for (const auto& [name, bytes] : files) {
        const std::string path = dir.file(name);
        kgl::test::WriteFile(path, bytes);
        TMessageRecorder rec;
        kgl::TKGLModel model;
        if (kgl::LoadModelFile(model, path)) {
            EXPECT_GE(model.fCount, 1) << name;
        } else {
            ExpectRefusal(rec, path);
        }
        std::printf("  %s: %s\n", name, rec.count() ? kgl::test::FirstLine(rec.lastText()).c_str() : "loaded");
    }
    kgl::SetImportLimits({});
}
