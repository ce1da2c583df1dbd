// A scene of the Open Asset Import Library as the geometry an OBJ file of it would give:
// the mesh instances in order, each mesh's vertices moved by its node's transforms, its
// polygons through the geometry builder.
#include "scene_model.h"

#include <assimp/scene.h>

#include <vector>

#include "errors.h"

namespace kgl {

// An OBJ group name as the reader makes it of "g NAME", so that the name survives an OBJ
// round trip: control bytes become blanks, a-z upper case, blanks trimmed, 50 at most.
std::string SceneGroupName(std::string_view own) {
    std::string name(own);
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

TInstanceTransform::TInstanceTransform(const aiMatrix4x4& transform) : transform_(transform), normals_(transform) {
    normals_.Inverse().Transpose();
}

namespace {

// One mesh reached from a node (or from no node): its group.
struct TInstance {
    const aiMesh* mesh;
    aiMatrix4x4 transform;
    std::string name;
};

// The group name of a node or mesh, the mesh's where the node has none.
std::string GroupNameOf(const aiString& own, const aiString& fallback) {
    const aiString& pick = own.length > 0 ? own : fallback;
    return SceneGroupName(std::string_view(pick.data, pick.length));
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

}  // namespace

TGeometry SceneToGeometry(const aiScene& scene, TSceneSkipped& skipped) {
    std::vector<TInstance> instances;
    std::vector<uint8_t> reached(scene.mNumMeshes, 0);
    Collect(scene, scene.mRootNode, aiMatrix4x4(), instances, reached, 0);
    for (unsigned m = 0; m < scene.mNumMeshes; ++m)
        if (!reached[m] && scene.mMeshes[m])
            instances.push_back({scene.mMeshes[m], aiMatrix4x4(), GroupNameOf(scene.mMeshes[m]->mName, aiString())});

    TGeometryBuilder builder;
    for (const TInstance& instance : instances) {
        const aiMesh& mesh = *instance.mesh;
        const TInstanceTransform move(instance.transform);
        const bool hasNormals = mesh.mNormals != nullptr, hasTexCoords = mesh.mTextureCoords[0] != nullptr;
        uint64_t corners = 0;
        for (unsigned f = 0; f < mesh.mNumFaces; ++f)
            if (mesh.mFaces[f].mNumIndices >= 3) corners += mesh.mFaces[f].mNumIndices;
        builder.BeginMesh(instance.name, mesh.mName.C_Str(), mesh.mNumVertices, hasNormals, hasTexCoords,
                          mesh.mNumFaces, corners);
        builder.Vertices([&](uint32_t k) { return move.Position(mesh.mVertices[k]); },
                         [&](uint32_t k) { return move.Normal(mesh.mNormals[k]); },
                         [&](uint32_t k) {
                             const aiVector3D& t = mesh.mTextureCoords[0][k];
                             return std::array<float, 2>{t.x, t.y};
                         });
        for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
            const aiFace& face = mesh.mFaces[f];
            if (face.mNumIndices == 2) ++skipped.lines;
            if (face.mNumIndices == 1) ++skipped.points;
            if (face.mNumIndices < 3) continue;
            builder.Face(face.mIndices, face.mNumIndices);
        }
    }
    return builder.Finish();
}

}  // namespace kgl
