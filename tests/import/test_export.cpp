// Writing other formats: every model of the test library that loads, written in every
// format and read back, is the model again to the precision of the format; every glTF
// file is valid under the Khronos validator; and no way the exporter can end or fail
// touches a file of the user's.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "KGLModel.h"
#include "errors.h"
#include "export.h"
#include "import.h"
#include "progress.h"
#include "test_support.h"

using kgl::test::TMessageRecorder;

namespace {

struct TExporterSetUp : testing::Environment {
    void SetUp() override {
        kgl::SetImporterProgram(KGL_BIN_DIR "/kglmodel-import");
        kgl::SetExporterProgram(KGL_BIN_DIR "/kglmodel-export");
    }
};
const auto* const kSetUp = testing::AddGlobalTestEnvironment(new TExporterSetUp);

// What a written file must give back: its faces (polygons, and triangles of their fans),
// the distinct positions they use with their box, and the names of the groups that have
// faces. sixDecimals: positions as a text of six decimals holds them.
struct TShape {
    int64_t faces = 0, triangles = 0;
    std::set<std::array<float, 3>> positions;
    std::array<float, 3> lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
    std::vector<std::string> groups;
};

TShape ShapeOf(const kgl::TKGLModel& m, bool sixDecimals) {
    TShape s;
    for (int32_t g = 0; g <= m.gCount; ++g) {
        const kgl::TGroup& group = m.groups[static_cast<size_t>(g)];
        int64_t faces = 0;
        for (int32_t f = 1; f <= group.fCount; ++f) {
            const kgl::TFace& face = group.faces[static_cast<size_t>(f)];
            if (face.count < 3) continue;
            ++faces;
            s.triangles += face.count - 2;
            for (int32_t c = 0; c < face.count; ++c) {
                const kgl::TVertex& v = m.vertices[static_cast<size_t>(face.vIdx[static_cast<size_t>(c)])];
                std::array<float, 3> p{v.x, v.y, v.z};
                for (float& x : p) {
                    if (sixDecimals) x = kgl::AsWrittenInOBJ(x);
                    if (x == 0) x = 0;  // -0 reads back as +0
                }
                s.positions.insert(p);
                for (int a = 0; a < 3; ++a) {
                    s.lo[a] = std::min(s.lo[a], p[a]);
                    s.hi[a] = std::max(s.hi[a], p[a]);
                }
            }
        }
        s.faces += faces;
        if (faces > 0) s.groups.push_back(group.name);
    }
    return s;
}

// How each format gives the model back.
struct TFormatRule {
    const char* ext;
    bool triangles;    // faces come back as the triangles of their fans
    bool names;        // groups come back with their names
    bool sixDecimals;  // positions as a text of six decimals
    bool ascii = false;
};
const TFormatRule kRules[] = {
    {".glb", true, true, false},   {".gltf", true, true, false},  {".stl", true, false, false},
    {".ply", false, false, false}, {".off", false, false, false}, {".dae", false, true, false},
    {".fbx", false, true, true},
};

// Writes model by rule to out and reads it back: "" when it comes back as it must, else
// what differs.
std::string RoundTrip(const kgl::TKGLModel& model, const TFormatRule& rule, const std::string& out) {
    TMessageRecorder rec;
    try {
        kgl::ExportModelFile(model, out, {rule.ascii});
    } catch (const kgl::EModelError& e) {
        return kgl::FormatExceptionText(e);
    }
    kgl::TKGLModel back;
    if (!kgl::LoadModelFile(back, out)) return "it does not load: " + (rec.count() ? rec.lastText() : "");
    const TShape want = ShapeOf(model, rule.sixDecimals), got = ShapeOf(back, false);
    std::ostringstream why;
    if ((rule.triangles ? want.triangles : want.faces) != got.faces)
        why << (rule.triangles ? want.triangles : want.faces) << " faces came back as " << got.faces << "; ";
    if (want.positions.size() != got.positions.size())
        why << want.positions.size() << " positions came back as " << got.positions.size() << "; ";
    if (want.lo != got.lo || want.hi != got.hi) why << "the box differs; ";
    // a group without a name comes back named as the reader names it; FBX's text holds no '"'
    bool sameNames = want.groups.size() == got.groups.size();
    for (size_t g = 0; sameNames && g < want.groups.size(); ++g) {
        std::string expected = want.groups[g];
        if (rule.ext == std::string(".fbx")) std::replace(expected.begin(), expected.end(), '"', '\'');
        sameNames = expected.empty() || expected == got.groups[g];
    }
    if (rule.names && !sameNames)
        why << testing::PrintToString(want.groups) << " came back as " << testing::PrintToString(got.groups);
    return why.str();
}

// What the library's readers cannot read back of what we write (file, format).
bool IsKnownLimit(const std::string& file, const std::string& ext) {
    // its OFF reader skips every face of more than 9 corners (which OFF allows, and we
    // write): this model's one face has 66, the ring below 300
    return (file == "ConcavePolygon.dae" || file == "polygons") && ext == ".off";
}

// The folders of the import test: models of many exporters.
const std::map<std::string, std::vector<std::string>> kFolders = {
    {"glTF2", {".gltf", ".glb"}},  {"FBX", {".fbx"}}, {"PLY", {".ply"}}, {"STL", {".stl"}}, {"3DS", {".3ds"}},
    {"Collada", {".dae", ".zae"}}, {"OFF", {".off"}}, {"X", {".x"}},
};

// Every model of the test library that loads, with its folder.
std::vector<std::pair<std::string, std::string>> LoadableModels() {
    std::vector<std::pair<std::string, std::string>> models;
    for (const auto& [folder, extensions] : kFolders)
        for (const std::string& path : kgl::test::AssimpModelFiles(folder, extensions)) {
            TMessageRecorder quiet;
            kgl::TKGLModel model;
            if (kgl::LoadModelFile(model, path)) models.emplace_back(folder, path);
        }
    return models;
}

// The files of folder, by name.
std::set<std::string> FilesOf(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
    return names;
}

}  // namespace

// Every loadable model of eight folders of the test library, in every format written
// here, reads back with the same faces (or the triangles of their fans), the same welded
// positions and box (float32 exactly; FBX to its six decimals) and, where the format
// keeps them, the same groups with the same names. Prints the table of what passed.
TEST(Export, EveryFormatReadsBackAsTheModel) {
    kgl::SetImportLimits({uint64_t(4) << 30, 60, 60});
    kgl::test::TTempDir dir;
    std::map<std::string, std::map<std::string, std::pair<int, int>>> table;  // folder -> format -> passed, tried
    const auto models = LoadableModels();
    ASSERT_GT(models.size(), 40u);
    for (const auto& [folder, path] : models) {
        kgl::TKGLModel model;
        ASSERT_TRUE(kgl::LoadModelFile(model, path));
        for (const TFormatRule& rule : kRules) {
            ++table[folder][rule.ext].second;
            const std::string why = RoundTrip(model, rule, dir.file(std::string("model") + rule.ext));
            if (IsKnownLimit(std::filesystem::path(path).filename().string(), rule.ext)) {
                EXPECT_NE(why, "") << path << " as " << rule.ext << " now reads back";
                continue;
            }
            EXPECT_EQ(why, "") << path << " as " << rule.ext;
            table[folder][rule.ext].first += why.empty();
        }
    }
    std::printf("%-8s", "");
    for (const TFormatRule& rule : kRules) std::printf(" %7s", rule.ext);
    std::printf("\n");
    for (const auto& [folder, formats] : table) {
        std::printf("%-8s", folder.c_str());
        for (const TFormatRule& rule : kRules) {
            const auto [passed, tried] = formats.at(rule.ext);
            std::printf(" %3d/%-3d", passed, tried);
        }
        std::printf("\n");
    }
    kgl::SetImportLimits({});
}

// Our writers of STL, PLY and OFF in both their forms, on models the test library does
// not hold: polygons of many corners (a PLY face of more than 255), groups whose names
// hold blanks, faces with and without normals and texture coordinates. ASCII STL keeps a
// solid a group, its name up to the first blank.
TEST(Export, OurWritersReadBackInEveryForm) {
    std::ostringstream polygon;
    polygon << "g A RING\n";
    for (int k = 0; k < 300; ++k) polygon << "v " << std::cos(k * 0.0209) << " " << std::sin(k * 0.0209) << " 0.5\n";
    polygon << "f";
    for (int k = 1; k <= 300; ++k) polygon << " " << k;
    polygon << "\ng quads\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 1e-7\nvt 0 0\nvt 1 0\nvt 1 1\nvn 0 0 2\n"
               "f 301/1/1 302/2/1 303/3/1 304/1/1\nf 301 303 302\n";
    const std::pair<const char*, std::string> models[] = {
        {"polygons", polygon.str()},
        {"spider", kgl::test::ReadFile("/usr/share/assimp/models/OBJ/spider.obj")},
    };
    const TFormatRule rules[] = {
        {".stl", true, false, false, false}, {".stl", true, true, false, true},    {".ply", false, false, false, false},
        {".ply", false, false, false, true}, {".off", false, false, false, false},
    };
    kgl::test::TTempDir dir;
    for (const auto& [name, text] : models) {
        kgl::TKGLModel model;
        ASSERT_TRUE(kgl::LoadOBJFromMemory(model, text)) << name;
        for (kgl::TGroup& group : model.groups)  // as the text form reads a solid's name back
            if (group.name.find(' ') != std::string::npos) std::replace(group.name.begin(), group.name.end(), ' ', '_');
        for (const TFormatRule& rule : rules) {
            const std::string why = RoundTrip(model, rule, dir.file(std::string(name) + rule.ext));
            if (IsKnownLimit(name, rule.ext))
                EXPECT_NE(why, "") << name << " as " << rule.ext << " now reads back";
            else
                EXPECT_EQ(why, "") << name << " as " << rule.ext << (rule.ascii ? " text" : "");
        }
    }
}

// Every glTF file written, of every loadable model and of each as shown at half its
// faces, has no error under the Khronos glTF validator (node, tests/gltf).
TEST(Export, EveryGltfWrittenIsValid) {
    const std::string validator = KGL_SOURCE_DIR "/tests/gltf/validate.js";
    if (std::system("node --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "node is missing: no glTF validation";
    if (!std::filesystem::exists(KGL_SOURCE_DIR "/tests/gltf/node_modules/gltf-validator"))
        GTEST_SKIP() << "gltf-validator is missing (scripts/install-deps.sh installs it into tests/gltf)";
    kgl::SetImportLimits({uint64_t(4) << 30, 60, 60});
    kgl::test::TTempDir dir;
    std::string files;
    int written = 0;
    for (const auto& [folder, path] : LoadableModels()) {
        kgl::TKGLModel model;
        ASSERT_TRUE(kgl::LoadModelFile(model, path));
        kgl::TKGLModel shown = model;
        kgl::OrderEdgesByError(shown);
        kgl::Reduce(shown, 0.5);
        ASSERT_TRUE(kgl::BakeReduction(shown, shown)) << path;
        for (const auto& [which, m] :
             {std::pair<const char*, const kgl::TKGLModel*>{"full", &model}, {"shown", &shown}})
            for (const char* ext : {".glb", ".gltf"}) {
                if (m->fCount < 1) continue;
                const std::string out = dir.file("m" + std::to_string(written++) + "-" + which + ext);
                EXPECT_NO_THROW(kgl::ExportModelFile(*m, out)) << path;
                files += " " + kgl::test::Quote(out);
            }
    }
    const kgl::test::TRun run = kgl::test::RunProgram("node", kgl::test::Quote(validator) + files, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::string line;
    int validated = 0, errors = 0, warnings = 0;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string file, e, w;
        std::getline(fields, file, '\t');
        std::getline(fields, e, '\t');
        std::getline(fields, w, '\t');
        ++validated;
        errors += std::stoi(e);
        warnings += std::stoi(w);
        EXPECT_EQ(e, "0") << line;
    }
    EXPECT_EQ(validated, written);
    std::printf("%d glTF files validated: %d errors, %d warnings\n", validated, errors, warnings);
    kgl::SetImportLimits({});
}

// However the exporter ends, the save fails with one message of the exporter's, and the
// file at the target is as it was, with nothing left beside it; so too when the user
// cancels, when the folder cannot take a file, and when the model has no face.
TEST(Export, EveryWayTheExporterFailsLeavesTheFiles) {
    kgl::test::TTempDir dir, elsewhere;
    kgl::TKGLModel model;
    ASSERT_TRUE(kgl::LoadOBJFromMemory(model, "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n"));
    const std::string target = dir.file("m.gltf"), secret = elsewhere.file("secret");
    kgl::test::WriteFile(secret, "the user's");
    // a file set of one file named NAME (its length LEN, octal), holding "x"
    auto set = [](const char* name, const char* len) {
        return std::string("printf 'KGLFILE1\\001\\000\\000\\000\\") + len + "\\000\\000\\000" + name +
               "\\001\\000\\000\\000\\000\\000\\000\\000x' >&3";
    };
    struct TCase {
        std::string script;  // the exporter's body: descriptor 3 takes its files
        const char* says;
    };
    const TCase cases[] = {
        {"kill -SEGV $$", "The exporter crashed (signal 11: Segmentation fault)"},
        {"echo 'it cannot' >&2; exit 1", "it cannot"},
        {"exit 1", "The exporter could not write the file"},
        {"exit 3", "The exporter needed more than its"},
        {"exit 0", "The exporter handed over broken files: they end within their header"},
        {set("../m.gltf", "011"), "The exporter handed over broken files: a name that is no file's name"},
        {set("other", "005"), "The exporter made a file \"other\" it was not asked for"},
        // its sandbox reads no file of the user's (and starts no other program)
        {"read line < " + kgl::test::Quote(secret) + "; echo \"$line\" >&2; exit 1", "cannot open"},
        {"cat " + kgl::test::Quote(secret), "it tried a forbidden system call"},
    };
    auto expectUntouched = [&](const std::string& why) {
        EXPECT_EQ(kgl::test::ReadFile(target), "old gltf") << why;
        EXPECT_EQ(FilesOf(dir.path()), (std::set<std::string>{"m.gltf", "fake.sh"})) << why;
    };
    kgl::test::WriteFile(target, "old gltf");
    kgl::test::WriteFile(dir.file("fake.sh"), "");
    for (const TCase& c : cases) {
        kgl::test::WriteFile(dir.file("fake.sh"), "#!/bin/sh\n" + c.script + "\n");
        ASSERT_EQ(chmod(dir.file("fake.sh").c_str(), 0755), 0);
        kgl::SetExporterProgram(dir.file("fake.sh"));
        try {
            kgl::ExportModelFile(model, target);
            ADD_FAILURE() << c.script << " wrote the file";
        } catch (const kgl::EModelError& e) {
            const std::string text = kgl::FormatExceptionText(e);
            EXPECT_NE(text.find(c.says), std::string::npos) << c.script << "\n" << text;
            EXPECT_EQ(text.find("the user's"), std::string::npos) << text;
            EXPECT_TRUE(kgl::test::IsRefusalText(text)) << text;
            EXPECT_NE(text.find("\nin \"" + target + "\""), std::string::npos) << text;
        }
        expectUntouched(c.script);
    }

    // the user cancels while the exporter works
    kgl::test::WriteFile(dir.file("fake.sh"), "#!/bin/sh\nwhile :; do :; done\n");
    const auto previous = kgl::SetProgressHandler([](uint64_t, uint64_t) { return false; });
    EXPECT_THROW(kgl::ExportModelFile(model, target), kgl::ECancelled);
    kgl::SetProgressHandler(previous);
    expectUntouched("cancelled");
    kgl::SetExporterProgram(KGL_BIN_DIR "/kglmodel-export");

    // a folder that is not there, and a model with no face
    EXPECT_THROW(kgl::ExportModelFile(model, dir.file("none/m.glb")), kgl::EInOutError);
    kgl::TKGLModel empty;
    ASSERT_TRUE(kgl::LoadOBJFromMemory(empty, "v 0 0 0\nv 1 0 0\nf 1 2\n"));
    EXPECT_THROW(kgl::ExportModelFile(empty, dir.file("e.glb")), kgl::EInOutError);
    EXPECT_THROW(kgl::ExportModelFile(model, dir.file("m.xyz")), kgl::EConvertError);
    expectUntouched("refused");

    // and a good write replaces the file, its buffer in it
    kgl::ExportModelFile(model, target);
    EXPECT_NE(kgl::test::ReadFile(target).find("\"uri\":\"data:application/octet-stream;base64,"), std::string::npos);
    kgl::TKGLModel back;
    ASSERT_TRUE(kgl::LoadModelFile(back, target));
    EXPECT_EQ(back.fCount, 2);
}
