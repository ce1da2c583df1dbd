// OBJ files as other programs write them: every OBJ file of Debian's assimp-testmodels,
// read here and by tinyobjloader, must give the same values and face index lists; and
// variants of a few of them (tabs, runs of blanks, lone CR, CR LF, trailing tabs, w,
// r g b) must load to the same model as their original, never to another one.
#include <gtest/gtest.h>
#include <tiny_obj_loader.h>

#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "KGLModel.h"
#include "test_support.h"

using namespace kgl;
using kgl::test::ReadFile;
using kgl::test::TMessageRecorder;

namespace {

const std::filesystem::path kFolder = "/usr/share/assimp/models/OBJ";

// The files we refuse, each with the text its refusal must hold.
const std::map<std::string, std::string> kRefused = {
    {"box_UTF16BE.obj", "UTF-16"},
    {"number_formats.obj", "'3.1+E2' is not a valid floating point value\nin memory, line 11"},  // sign before e
};

// tinyobjloader reads box_longline.obj's faces after its 936-corner face as copies of
// that face's first four corners; there the file's own text is the reference.
const char kLongLine[] = "box_longline.obj";

// Our face's index list for one part as tinyobjloader gives it: zero-based, -1 where a
// corner has no such part.
std::vector<int> Corners(const TIndexList& list, int32_t count) {
    std::vector<int> out(static_cast<size_t>(count), -1);
    if (list.size() == static_cast<uint32_t>(count))
        for (int32_t i = 0; i < count; ++i) out[static_cast<size_t>(i)] = list[static_cast<uint32_t>(i)] - 1;
    return out;
}

void ExpectSameAsTinyObj(const TKGLModel& m, const std::string& text, const std::string& name, bool faces = true) {
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn, err;
    std::istringstream in(text);
    ASSERT_TRUE(tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, &in, nullptr, false)) << name << err;

    ASSERT_EQ(attrib.vertices.size(), 3u * static_cast<size_t>(m.vCount)) << name;
    for (int32_t i = 1; i <= m.vCount; ++i) {
        const TVertex& v = m.vertices[static_cast<size_t>(i)];
        const float* t = &attrib.vertices[3 * static_cast<size_t>(i - 1)];
        EXPECT_TRUE(v.x == t[0] && v.y == t[1] && v.z == t[2]) << name << " vertex " << i;
    }
    ASSERT_EQ(attrib.normals.size(), 3u * static_cast<size_t>(m.nCount)) << name;
    for (int32_t i = 1; i <= m.nCount; ++i) {
        const TVec3& n = m.normals[static_cast<size_t>(i)];
        const float* t = &attrib.normals[3 * static_cast<size_t>(i - 1)];
        EXPECT_TRUE(n.x == t[0] && n.y == t[1] && n.z == t[2]) << name << " normal " << i;
    }
    ASSERT_EQ(attrib.texcoords.size(), 2u * static_cast<size_t>(m.tCount)) << name;
    for (int32_t i = 1; i <= m.tCount; ++i) {
        const TTexCoord& c = m.texCoords[static_cast<size_t>(i)];
        const float* t = &attrib.texcoords[2 * static_cast<size_t>(i - 1)];
        EXPECT_TRUE(c.u == t[0] && c.v == t[1]) << name << " texture coordinate " << i;
    }

    if (!faces) return;
    // faces in file order: tinyobjloader's shapes one after another, ours group by group
    std::vector<std::vector<int>> theirs, ours;
    for (const tinyobj::shape_t& s : shapes) {
        size_t at = 0;
        for (unsigned n : s.mesh.num_face_vertices) {
            std::vector<int> face;
            for (unsigned k = 0; k < n; ++k) face.push_back(s.mesh.indices[at + k].vertex_index);
            for (unsigned k = 0; k < n; ++k) face.push_back(s.mesh.indices[at + k].texcoord_index);
            for (unsigned k = 0; k < n; ++k) face.push_back(s.mesh.indices[at + k].normal_index);
            theirs.push_back(face);
            at += n;
        }
    }
    for (int32_t g = 0; g <= m.gCount; ++g)
        for (int32_t f = 1; f <= m.groups[static_cast<size_t>(g)].fCount; ++f) {
            const TFace& face = m.groups[static_cast<size_t>(g)].faces[static_cast<size_t>(f)];
            std::vector<int> all = Corners(face.vIdx, face.count);
            for (const TIndexList* part : {&face.tIdx, &face.nIdx}) {
                std::vector<int> c = Corners(*part, face.count);
                all.insert(all.end(), c.begin(), c.end());
            }
            ours.push_back(all);
        }
    EXPECT_EQ(ours, theirs) << name;
}

// Rewrites the statements of text line by line; g lines keep their blanks (a name is
// text, not fields).
std::string Variant(const std::string& text, const std::function<std::string(const std::string&)>& line,
                    const std::string& end) {
    std::string out, cur;
    std::istringstream in(text);
    while (std::getline(in, cur)) {
        if (!cur.empty() && cur.back() == '\r') cur.pop_back();
        const bool statement = cur.rfind("v", 0) == 0 || cur.rfind("f", 0) == 0;
        out += (statement ? line(cur) : cur) + end;
    }
    return out;
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
    return s;
}

}  // namespace

TEST(ObjRealWorld, AssimpTestModelsReadAsTinyObjLoaderReadsThem) {
    const auto files = kgl::test::AssimpObjFiles();
    int accepted = 0;
    for (const std::string& path : files) {
        const std::string name = std::filesystem::path(path).filename().string();
        const std::string text = ReadFile(path);
        TMessageRecorder rec;
        TKGLModel m;
        const bool ok = LoadOBJFromMemory(m, text);
        if (auto refused = kRefused.find(name); refused != kRefused.end()) {
            EXPECT_FALSE(ok) << name;
            EXPECT_NE(rec.lastText().find(refused->second), std::string::npos) << name << ": " << rec.lastText();
            continue;
        }
        ASSERT_TRUE(ok) << name << ": " << rec.lastText();
        ++accepted;
        ExpectSameAsTinyObj(m, text, name, name != kLongLine);
        if (name == kLongLine) {
            ASSERT_EQ(m.fCount, 6);
            EXPECT_EQ(m.groups[0].faces[1].count, 936);
            EXPECT_EQ(m.groups[0].faces[6].vIdx, (TIndexList{6, 7, 8, 5}));
        }
    }
    EXPECT_EQ(accepted + kRefused.size(), files.size());
}

TEST(ObjRealWorld, VariantsLoadToTheirOriginalsModel) {
    const std::pair<const char*, std::function<std::string(const std::string&)>> forms[] = {
        {"tabs", [](const std::string& l) { return Replace(l, " ", "\t"); }},
        {"runs of blanks", [](const std::string& l) { return Replace(l, " ", "  \t "); }},
        {"trailing tabs", [](const std::string& l) { return l + "\t\t"; }},
        {"w", [](const std::string& l) { return l.rfind("v ", 0) == 0 ? l + " 1.0" : l; }},
        {"r g b", [](const std::string& l) { return l.rfind("v ", 0) == 0 ? l + " 0.5 0.25 1" : l; }},
    };
    for (const char* file : {"spider.obj", "box.obj", "cube_usemtl.obj", "concave_polygon.obj", "regr01.obj"}) {
        const std::string original = ReadFile((kFolder / file).string());
        TKGLModel want;
        ASSERT_TRUE(LoadOBJFromMemory(want, original)) << file;
        const std::string wantBytes = SaveToKGMBytes(want);
        std::vector<std::pair<std::string, std::string>> variants;
        for (const auto& [form, rewrite] : forms) variants.emplace_back(form, Variant(original, rewrite, "\n"));
        auto same = [](const std::string& l) { return l; };
        variants.emplace_back("lone CR", Variant(original, same, "\r"));
        variants.emplace_back("CR LF", Variant(original, same, "\r\n"));
        for (const auto& [form, text] : variants) {
            TMessageRecorder rec;
            TKGLModel got;
            EXPECT_TRUE(LoadOBJFromMemory(got, text)) << file << ", " << form << ": " << rec.lastText();
            EXPECT_EQ(SaveToKGMBytes(got), wantBytes) << file << ", " << form;
        }
    }
}
