// A scene of the Open Asset Import Library as the model an OBJ file would give: two walks
// over the mesh instances, one to size the group and face tables once, one to fill them
// while the corners' values are welded into the vertex, normal and texture tables.
#include "scene_model.h"

#include <assimp/scene.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <vector>

#include "box.h"
#include "errors.h"

namespace kgl {

namespace {

constexpr int32_t kCountLimit = std::numeric_limits<int32_t>::max() - 2;  // tables hold count + 2

// One mesh reached from a node (or from no node): its group.
struct TInstance {
    const aiMesh* mesh;
    aiMatrix4x4 transform;
    std::string name;
};

// An OBJ group name as the reader makes it of "g NAME", so that the name survives an OBJ
// round trip: control bytes become blanks, a-z upper case, blanks trimmed, 50 at most.
std::string GroupNameOf(const aiString& own, const aiString& fallback) {
    const aiString& pick = own.length > 0 ? own : fallback;
    std::string name(pick.data, pick.length);
    for (char& c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = ' ';
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    auto trim = [](std::string& s) {
        const size_t b = s.find_first_not_of(' ');
        s = b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(' ') - b + 1);
    };
    trim(name);
    name = ShortString(name, kGroupNameMax);
    trim(name);
    return name;
}

void Collect(const aiScene& scene, const aiNode* node, const aiMatrix4x4& parent, std::vector<TInstance>& out,
             std::vector<uint8_t>& reached, int depth) {
    if (!node) return;
    // a hostile file may nest nodes without end; the stack must not follow it
    if (depth > 1000) throw EReadError("The scene's nodes nest more than 1000 deep");
    const aiMatrix4x4 transform = parent * node->mTransformation;
    for (unsigned i = 0; i < node->mNumMeshes; ++i) {
        const unsigned m = node->mMeshes[i];
        if (m >= scene.mNumMeshes || !scene.mMeshes[m]) continue;
        reached[m] = 1;
        out.push_back({scene.mMeshes[m], transform, GroupNameOf(node->mName, scene.mMeshes[m]->mName)});
    }
    for (unsigned c = 0; c < node->mNumChildren; ++c)
        Collect(scene, node->mChildren[c], transform, out, reached, depth + 1);
}

// Values in first-use order, numbered from 1, welded by exact value (0 and -0 alike).
template <size_t N>
class TWelded {
public:
    using TValue = std::array<float, N>;
    explicit TWelded(const char* what) : what_(what) {}
    int32_t Add(const TValue& value) {
        TKey key{};
        for (size_t i = 0; i < N; ++i) {
            const float v = value[i] == 0.0f ? 0.0f : value[i];
            std::memcpy(&key[i], &v, 4);
        }
        const auto [at, fresh] = index_.try_emplace(key, static_cast<int32_t>(values_.size()) + 1);
        if (fresh) {
            if (values_.size() >= static_cast<size_t>(kCountLimit))
                throw ERangeError(std::string("The scene has too many ") + what_);
            values_.push_back(value);
        }
        return at->second;
    }
    const std::vector<TValue>& Values() const { return values_; }

private:
    using TKey = std::array<uint32_t, N>;
    struct THash {
        size_t operator()(const TKey& k) const {
            uint64_t h = 0x9E3779B97F4A7C15ull;
            for (uint32_t v : k) h = (h ^ v) * 0xBF58476D1CE4E5B9ull;
            return static_cast<size_t>(h ^ (h >> 31));
        }
    };
    const char* what_;
    std::unordered_map<TKey, int32_t, THash> index_;
    std::vector<TValue> values_;
};

float FiniteOrZero(float v) { return std::isfinite(v) ? v : 0.0f; }

}  // namespace

void SceneToModel(const aiScene& scene, TKGLModel& model, TSceneSkipped& skipped) {
    std::vector<TInstance> instances;
    std::vector<uint8_t> reached(scene.mNumMeshes, 0);
    Collect(scene, scene.mRootNode, aiMatrix4x4(), instances, reached, 0);
    for (unsigned m = 0; m < scene.mNumMeshes; ++m)
        if (!reached[m] && scene.mMeshes[m])
            instances.push_back({scene.mMeshes[m], aiMatrix4x4(), GroupNameOf(scene.mMeshes[m]->mName, aiString())});

    // first walk: the faces of each group, and the points and lines skipped
    InitModel(model);
    model.groups.resize(instances.size());
    int64_t faces = 0;
    for (size_t g = 0; g < instances.size(); ++g) {
        const aiMesh& mesh = *instances[g].mesh;
        int32_t count = 0;
        for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
            const unsigned n = mesh.mFaces[f].mNumIndices;
            if (n >= 3)
                ++count;
            else if (n == 2)
                ++skipped.lines;
            else if (n == 1)
                ++skipped.points;
        }
        model.groups[g].name = instances[g].name;
        model.groups[g].fCount = count;
        faces += count;
    }
    if (faces == 0) throw EReadError("The scene holds no polygon (only points, lines or no mesh at all)");
    if (faces > kCountLimit || instances.size() > static_cast<size_t>(kCountLimit))
        throw ERangeError("The scene has too many faces");
    model.gCount = static_cast<int32_t>(instances.size()) - 1;
    model.fCount = static_cast<int32_t>(faces);
    AllocateModel(model);

    // second walk: the corners
    TWelded<3> positions("vertices"), normals("normals");
    TWelded<2> texCoords("texture coordinates");
    for (size_t g = 0; g < instances.size(); ++g) {
        const TInstance& instance = instances[g];
        const aiMesh& mesh = *instance.mesh;
        aiMatrix3x3 normalTransform(instance.transform);
        normalTransform.Inverse().Transpose();
        const bool hasNormals = mesh.mNormals != nullptr;
        const bool hasTexCoords = mesh.mTextureCoords[0] != nullptr;
        TGroup& group = model.groups[g];
        int32_t slot = 0;
        for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
            const aiFace& source = mesh.mFaces[f];
            if (source.mNumIndices < 3) continue;
            if (source.mNumIndices > static_cast<unsigned>(kCountLimit))
                throw ERangeError("A face has too many corners");
            TFace& face = group.faces[static_cast<size_t>(++slot)];
            face.count = static_cast<int32_t>(source.mNumIndices);
            face.visible = 1;
            for (unsigned c = 0; c < source.mNumIndices; ++c) {
                const unsigned k = source.mIndices[c];
                if (k >= mesh.mNumVertices)
                    throw ERangeError("A face of mesh '" + QuoteText(std::string(mesh.mName.C_Str()), 64) +
                                      "' names vertex " + std::to_string(k) + " of " +
                                      std::to_string(mesh.mNumVertices));
                const aiVector3D p = instance.transform * mesh.mVertices[k];
                if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
                    throw EReadError("A vertex of mesh '" + QuoteText(std::string(mesh.mName.C_Str()), 64) +
                                     "' has a position that is not a finite number");
                face.vIdx.push_back(positions.Add({p.x, p.y, p.z}));
                if (hasTexCoords) {
                    const aiVector3D& t = mesh.mTextureCoords[0][k];
                    face.tIdx.push_back(texCoords.Add({FiniteOrZero(t.x), FiniteOrZero(t.y)}));
                }
                if (hasNormals) {
                    aiVector3D n = normalTransform * mesh.mNormals[k];
                    const float length = n.Length();
                    if (length > 0 && std::isfinite(length)) n /= length;
                    face.nIdx.push_back(normals.Add({FiniteOrZero(n.x), FiniteOrZero(n.y), FiniteOrZero(n.z)}));
                }
            }
        }
    }

    // the tables, each value as an OBJ file holds it; the vertex sum and the box as the
    // OBJ reader keeps them while it reads v lines
    model.vCount = static_cast<int32_t>(positions.Values().size());
    model.nCount = static_cast<int32_t>(normals.Values().size());
    model.tCount = static_cast<int32_t>(texCoords.Values().size());
    model.vertices.resize(static_cast<size_t>(model.vCount) + 2);
    model.normals.resize(static_cast<size_t>(model.nCount) + 2);
    model.texCoords.resize(static_cast<size_t>(model.tCount) + 2);
    TVec3 sum{};
    for (int32_t i = 1; i <= model.vCount; ++i) {
        const auto& p = positions.Values()[static_cast<size_t>(i - 1)];
        const TVertex v{AsWrittenInOBJ(p[0]), AsWrittenInOBJ(p[1]), AsWrittenInOBJ(p[2]), kTargetFree, 0};
        model.vertices[static_cast<size_t>(i)] = v;
        sum.x += v.x;
        sum.y += v.y;
        sum.z += v.z;
        WidenBox(model.boxMin, model.boxMax, v);
    }
    for (int32_t i = 1; i <= model.nCount; ++i) {
        const auto& n = normals.Values()[static_cast<size_t>(i - 1)];
        model.normals[static_cast<size_t>(i)] = {AsWrittenInOBJ(n[0]), AsWrittenInOBJ(n[1]), AsWrittenInOBJ(n[2])};
    }
    for (int32_t i = 1; i <= model.tCount; ++i) {
        const auto& t = texCoords.Values()[static_cast<size_t>(i - 1)];
        model.texCoords[static_cast<size_t>(i)] = {AsWrittenInOBJ(t[0]), AsWrittenInOBJ(t[1]), kTargetFree};
    }
    model.centroid = sum;
    FinishOBJ(model);
}

}  // namespace kgl
