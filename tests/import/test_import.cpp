// Opening other formats through kglmodel-import: the models of many exporters load as
// their scenes say or are refused with a message, an imported model is the model its
// OBJ gives, and no way a child can end or fail costs more than a message.
#include <arpa/inet.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include "KGLModel.h"
#include "binary_readers.h"
#include "errors.h"
#include "geometry.h"
#include "import.h"
#include "progress.h"
#include "sandbox.h"
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

namespace {

// A GLB file of a JSON chunk and a BIN chunk, each padded to 4 bytes.
std::string Glb(std::string json, std::string bin) {
    json.resize((json.size() + 3) / 4 * 4, ' ');
    bin.resize((bin.size() + 3) / 4 * 4, '\0');
    auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    return "glTF" + u32(2) + u32(static_cast<uint32_t>(28 + json.size() + bin.size())) + u32(uint32_t(json.size())) +
           "JSON" + json + u32(uint32_t(bin.size())) + std::string("BIN\0", 4) + bin;
}

// The forms of GLB our reader takes in one file: an untransformed root without a name
// holding a mesh of no indices, a child moved by translation, rotation and scale and by
// a matrix, holding a mesh of two primitives (byte and short indices) whose first
// interleaves positions, normals and texture coordinates; the same mesh again under a
// second root; a mesh no node of the scene reaches, which the library does not read.
const char* const kGlbForms = R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0,2]}],
"nodes":[{"mesh":1,"children":[1],"translation":[0,0,0]},
 {"name":"Child","mesh":0,"translation":[1,2,3],"rotation":[0,0.7071068,0,0.7071068],"scale":[2,2,0.5],
  "children":[3]},{"mesh":0},{"name":"matrix","mesh":2,"matrix":[0,1,0,0,-1,0,0,0,0,0,1,0,5,0,0,1]}],
"meshes":[{"primitives":[{"attributes":{"POSITION":0,"NORMAL":1,"TEXCOORD_0":2},"indices":3},
  {"attributes":{"POSITION":0},"indices":4,"mode":4}]},
 {"name":"loose","primitives":[{"attributes":{"POSITION":5}}]},{"name":"tilted","primitives":[{"attributes":{"POSITION":5}}]},
 {"primitives":[{"attributes":{"POSITION":5}}]}],
"buffers":[{"byteLength":184}],
"bufferViews":[{"buffer":0,"byteLength":128,"byteStride":32},{"buffer":0,"byteOffset":128,"byteLength":6},
 {"buffer":0,"byteOffset":136,"byteLength":12},{"buffer":0,"byteOffset":148,"byteLength":36}],
"accessors":[{"bufferView":0,"componentType":5126,"count":4,"type":"VEC3"},
 {"bufferView":0,"byteOffset":12,"componentType":5126,"count":4,"type":"VEC3"},
 {"bufferView":0,"byteOffset":24,"componentType":5126,"count":4,"type":"VEC2"},
 {"bufferView":1,"componentType":5121,"count":6,"type":"SCALAR"},
 {"bufferView":2,"componentType":5123,"count":6,"type":"SCALAR"},
 {"bufferView":3,"componentType":5126,"count":3,"type":"VEC3"}]})";

std::string GlbFormsBin() {
    std::vector<float> v;
    for (int i = 0; i < 4; ++i)  // position, normal (not of unit length), texture coordinate
        for (const float x : {float(i & 1), float(i >> 1), 0.25f * i, 0.f, 0.f, 2.f, 0.1f * i, 0.3f * i})
            v.push_back(x);
    std::string bin(reinterpret_cast<const char*>(v.data()), 4 * v.size());
    bin += std::string("\0\1\2\0\2\3\0\0", 8);
    const uint16_t shorts[6] = {2, 1, 0, 3, 2, 0};
    bin.append(reinterpret_cast<const char*>(shorts), sizeof shorts);
    const float loose[9] = {0, 0, 1, 1, 0, 1, 0, 1, 1};
    bin.append(reinterpret_cast<const char*>(loose), sizeof loose);
    return bin;
}

}  // namespace

// Our own readers of binary STL, PLY and GLB give the geometry the library's reading
// maps to, byte for byte, on every such file of the test models, on a binary copy the
// library writes of every model of those folders (and a GLB copy of every OBJ and glTF
// model), and on files of every form they take; every other file is left to the library.
TEST(Import, OurBinaryReadersReadAsTheLibrary) {
    kgl::test::TTempDir dir;
    std::vector<std::string> files;
    Assimp::Exporter exporter;
    int copies = 0;
    const std::tuple<const char*, std::vector<std::string>, const char*, const char*> sources[] = {
        {"PLY", {".ply"}, ".ply", "plyb"},
        {"STL", {".stl"}, ".stl", "stlb"},
        {"glTF2", {".glb", ".gltf"}, ".glb", "glb2"},
        {"OBJ", {".obj"}, ".glb", "glb2"}};
    for (const auto& [folder, extensions, ext, format] : sources) {
        for (const std::string& path : kgl::test::AssimpModelFiles(folder, extensions)) {
            if (kgl::LowerExtension(path) == ext) files.push_back(path);
            Assimp::Importer importer;
            const aiScene* scene = importer.ReadFile(path, 0);
            const std::string copy = dir.file(std::to_string(copies++) + ext);
            if (scene && scene->mNumMeshes > 0 && exporter.Export(scene, format, copy) == AI_SUCCESS)
                files.push_back(copy);
        }
    }
    // the forms of PLY taken, and some that are left to the library
    const std::string head = "ply\nformat binary_little_endian 1.0\n";
    const std::string tri = std::string("\3", 1) + std::string("\0\0\0\0\1\0\0\0\2\0\0\0", 12);
    auto floats = [](std::initializer_list<float> v) {
        return std::string(reinterpret_cast<const char*>(v.begin()), 4 * v.size());
    };
    const std::string xyz = floats({0, 0, 0, 1, 0, 0, 0, 1, 0});
    const std::pair<const char*, std::string> forms[] = {
        {"plain.ply", head +
                          "element vertex 3\nproperty float x\nproperty float y\nproperty float z\nelement face 1\n"
                          "property list uchar int vertex_indices\nend_header\n" +
                          xyz + tri},
        {"crlf_and_colour.ply",
         "ply\r\nformat binary_little_endian 1.0\r\ncomment c\r\nelement vertex 3\r\n"
         "property float x\r\nproperty uchar red\r\nproperty float y\r\nproperty float z\r\n"
         "element face 1\r\nproperty list uchar uint vertex_index\r\nend_header\r\n" +
             std::string("\0\0\0\0\7", 5) + floats({0, 0}) + floats({1}) + "\7" + floats({0, 0}) + floats({0}) + "\7" +
             floats({1, 0}) + tri},
        {"uv.ply", head +
                       "element vertex 3\nproperty float x\nproperty float y\nproperty float z\nproperty float u\n"
                       "property float v\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n" +
                       floats({0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1}) + tri},
        {"double.ply", head +
                           "element vertex 3\nproperty double x\nproperty double y\nproperty double z\n"
                           "element face 1\nproperty list uchar int vertex_indices\nend_header\n" +
                           std::string(72, '\0') + tri},
        {"big_endian.ply",
         "ply\nformat binary_big_endian 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
         "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n" +
             std::string(36, '\0') + std::string("\3\0\0\0\0\0\0\0\1\0\0\0\2", 13)},
        {"forms.glb", Glb(kGlbForms, GlbFormsBin())},
    };
    for (const auto& [name, bytes] : forms) {
        files.push_back(dir.file(name));
        kgl::test::WriteFile(files.back(), bytes);
    }
    int ours = 0;
    for (const std::string& path : files) {
        const std::string bytes = kgl::test::ReadFile(path);
        kgl::TGeometry mine;
        kgl::TSceneSkipped skipped;
        const std::string ext = kgl::LowerExtension(path);
        kgl::TBinaryRead read = kgl::TBinaryRead::kNotMine;
        std::string refused;
        try {
            read = ext == ".stl"   ? kgl::ReadBinarySTL(bytes, mine, nullptr)
                   : ext == ".ply" ? kgl::ReadBinaryPLY(bytes, mine, skipped, nullptr)
                                   : kgl::ReadBinaryGLB(bytes, mine, nullptr);
        } catch (const kgl::EModelError& e) {
            refused = e.what();
        }
        if (read == kgl::TBinaryRead::kNotMine && refused.empty()) {
            EXPECT_NE(std::filesystem::path(path).filename(), "forms.glb");
            continue;
        }
        ++ours;
        // the library's reading through the mapping: its geometry, or why there is none
        Assimp::Importer importer;
        const aiScene* scene = importer.ReadFile(path, aiProcess_ValidateDataStructure);
        kgl::TSceneSkipped theirs;
        std::string b, theirRefusal = scene ? "" : importer.GetErrorString();
        if (scene) try {
                b = kgl::GeometryBytes(kgl::SceneToGeometry(*scene, theirs));
            } catch (const kgl::EModelError& e) {
                theirRefusal = e.what();
            }
        if (!refused.empty() || !theirRefusal.empty()) {  // refused both ways
            EXPECT_FALSE(refused.empty() || theirRefusal.empty()) << path << ": " << refused << " / " << theirRefusal;
            continue;
        }
        const std::string a = kgl::GeometryBytes(mine);

        const auto differ = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
        EXPECT_TRUE(a == b) << path << ": " << a.size() << " and " << b.size() << " bytes, first apart at "
                            << (differ.first - a.begin());
        EXPECT_EQ(skipped.points + skipped.lines, theirs.points + theirs.lines) << path;
    }
    std::printf("  %d of %zu files read by our own readers\n", ours, files.size());
    EXPECT_GE(ours, 50);
}

// However the child ends, the caller shows one message saying where and keeps its
// model; a cancel kills the child and shows nothing.
TEST(Import, EveryWayTheChildEndsIsAMessage) {
    kgl::test::TTempDir dir;
    const std::string model = dir.file("model.ply");
    kgl::test::WriteFile(model, "ply\nformat ascii 1.0\nend_header\n");
    // a sound triangle, handed over by a child that says so and then fails
    kgl::TGeometry triangle;
    triangle.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    triangle.groups = {{"", 1}};
    triangle.faces = {3};
    triangle.vIdx = {1, 2, 3};
    kgl::test::WriteFile(dir.file("triangle.geometry"), kgl::GeometryBytes(triangle));
    const std::string thenFails = "cat '" + dir.file("triangle.geometry") + "' >&3; echo done; exit 7";
    struct TCase {
        std::string script;  // the child's body: descriptor 3 takes its geometry
        kgl::TImportLimits limits;
        const char* says;
        // sleep is a program of its own, which the sandbox does not let the child start
        kgl::TSandboxMode sandbox = kgl::TSandboxMode::kFull;
    };
    const kgl::TImportLimits normal{uint64_t(1) << 30, 10, 10};
    const TCase cases[] = {
        {"kill -SEGV $$", normal, "The importer crashed (signal 11: Segmentation fault)"},
        {"echo 'cannot read it' >&2; echo second >&2; exit 1", normal, "cannot read it"},
        {"printf '\\033[2Jbad\\000x' >&2; exit 1", normal, "\\x1B[2Jbad\\x00x"},
        {"exit 3", normal, "The importer needed more than its 1024 MB of memory"},
        {"exit 7", normal, "The importer ended with status 7"},
        {"sleep 20", {uint64_t(1) << 30, 10, 1}, "The importer did not finish within 1 s", kgl::TSandboxMode::kOff},
        {"while :; do :; done", {uint64_t(1) << 30, 1, 20}, "The importer used more than its 1 s of processor time"},
        {"exit 0", normal, "The importer handed over a broken model: it does not start with its header"},
        {"echo 'progress 5 1000'; printf "
         "'KGLGEOM1\\000\\000\\000\\000\\000\\000\\000\\000\\000\\000\\000\\000\\001\\000\\000\\000\\001\\000\\000\\000"
         "\\000\\000\\000\\000\\000\\000\\000\\000\\000\\000\\000\\000' >&3",
         normal, "The importer handed over a broken model: 40 bytes where its counts make 100"},
        // built while the child ends, the model is not kept: cat is a program of its own
        {thenFails, normal, "The importer ended with status 7", kgl::TSandboxMode::kOff},
    };
    for (const TCase& c : cases) {
        const std::string fake = dir.file("fake.sh");
        kgl::test::WriteFile(fake, "#!/bin/sh\n" + c.script + "\n");
        ASSERT_EQ(chmod(fake.c_str(), 0755), 0);
        kgl::SetImporterProgram(fake);
        kgl::SetImportLimits(c.limits);
        kgl::SetImportSandbox(c.sandbox);
        TMessageRecorder rec;
        kgl::TKGLModel shown;
        shown.fCount = 42;
        EXPECT_FALSE(kgl::LoadModelFile(shown, model)) << c.script;
        ExpectRefusal(rec, model);
        EXPECT_NE(rec.lastText().find(c.says), std::string::npos) << c.script << "\n" << rec.lastText();
        EXPECT_EQ(shown.fCount, 42);
    }
    kgl::SetImportSandbox(kgl::TSandboxMode::kOff);  // the child below writes its pid down
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
    kgl::SetImporterProgram(KGL_BIN_DIR "/kglmodel-import");
    kgl::SetImportLimits({});
    kgl::SetImportSandbox(kgl::TSandboxMode::kFull);
}

// Whatever program stands at the importer's path can touch nothing but its input: one
// run for each thing it tries, and each fails or ends the child, in one message, with
// nothing written and no connection made. Without Landlock the system-call filter still
// holds everything but the files.
TEST(Import, TheSandboxHoldsWhateverRunsAsTheImporter) {
    kgl::test::TTempDir dir, outside;
    const std::string model = dir.file("model.ply");
    kgl::test::WriteFile(model, "ply\nformat ascii 1.0\nend_header\n");
    kgl::test::WriteFile(outside.file("secret.txt"), "secret\n");
    // a local server the child may try to reach
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(listen(server, 4), 0);
    ASSERT_EQ(getsockname(server, reinterpret_cast<sockaddr*>(&at), &length), 0);
    const char* home = std::getenv("HOME");
    struct TTry {
        const char* what;
        std::string arg;
        const char* says;
        const char* saysWithoutLandlock;  // nullptr: it goes through there
    };
    const TTry tries[] = {
        {"write", outside.file("written.txt"), "write failed: Permission denied", nullptr},
        {"read", outside.file("secret.txt"), "read failed: Permission denied", nullptr},
        {"list", home ? home : "/root", "list failed: Permission denied", nullptr},
        {"connect", std::to_string(ntohs(at.sin_port)), "forbidden system call (socket)",
         "forbidden system call (socket)"},
        {"run", "", "forbidden system call (execve)", "forbidden system call (execve)"},
        {"signal", "", "forbidden system call (kill)", "forbidden system call (kill)"},
        {"fork", "", "forbidden system call (clone)", "forbidden system call (clone)"},
    };
    kgl::SetImporterProgram(KGL_STANDIN);
    kgl::SetImportLimits({uint64_t(1) << 30, 10, 10});
    const bool landlock = kgl::KernelProtections().landlockAbi > 0;
    if (!landlock) std::printf("  this kernel has no Landlock: the file tries are not checked\n");
    for (const kgl::TSandboxMode mode : {kgl::TSandboxMode::kFull, kgl::TSandboxMode::kWithoutLandlock}) {
        kgl::SetImportSandbox(mode);
        const bool files = landlock && mode == kgl::TSandboxMode::kFull;
        for (const TTry& t : tries) {
            const char* says = files ? t.says : t.saysWithoutLandlock;
            if (!says) continue;
            setenv("KGL_STANDIN_TRY", t.what, 1);
            setenv("KGL_STANDIN_ARG", t.arg.c_str(), 1);
            TMessageRecorder rec;
            kgl::TKGLModel shown;
            EXPECT_FALSE(kgl::LoadModelFile(shown, model)) << t.what;
            ExpectRefusal(rec, model);
            EXPECT_NE(rec.lastText().find(says), std::string::npos) << t.what << ": " << rec.lastText();
            EXPECT_FALSE(std::filesystem::exists(outside.file("written.txt"))) << t.what;
            EXPECT_LT(accept(server, nullptr, nullptr), 0) << t.what << " reached the server";
        }
    }
    close(server);
    unsetenv("KGL_STANDIN_TRY");
    unsetenv("KGL_STANDIN_ARG");
    kgl::SetImportSandbox(kgl::TSandboxMode::kFull);
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
