// The geometry as a scene of the Open Asset Import Library: one mesh and one node a group.
#include "geometry_scene.h"

#include <assimp/material.h>
#include <assimp/scene.h>

#include <cstring>
#include <vector>

#include "utf8.h"

namespace kgl {

namespace {

aiString NameOf(const std::string& bytes) {
    const std::string utf8 = NameAsUtf8(bytes);  // at most 100 bytes of a 50-byte name
    return aiString(utf8);
}

// The mesh of the faces [firstFace, firstFace + faces) whose corners start at corner.
aiMesh* MeshOf(const TGeometryView& g, const std::string& name, uint64_t firstFace, uint32_t faces, uint64_t corner,
               std::vector<uint32_t>& local) {
    auto* mesh = new aiMesh;
    mesh->mName = NameOf(name);
    mesh->mMaterialIndex = 0;
    const uint32_t word = g.faces[firstFace];
    const bool normals = word & kFaceHasNormals, tex = word & kFaceHasTexCoords;
    // the group's vertices in the order its corners first name them
    std::vector<uint32_t> used;
    uint64_t c = corner;
    for (uint32_t f = 0; f < faces; ++f) {
        const uint32_t n = g.faces[firstFace + f] & kFaceCornerBits;
        for (uint32_t k = 0; k < n; ++k, ++c) {
            const uint32_t v = static_cast<uint32_t>(g.vIdx[c] - 1);
            if (local[v] == 0) {
                used.push_back(v);
                local[v] = static_cast<uint32_t>(used.size());
            }
        }
    }
    mesh->mNumVertices = static_cast<unsigned>(used.size());
    mesh->mVertices = new aiVector3D[used.size()];
    if (normals) mesh->mNormals = new aiVector3D[used.size()];
    if (tex) {
        mesh->mTextureCoords[0] = new aiVector3D[used.size()];
        mesh->mNumUVComponents[0] = 2;
    }
    for (size_t i = 0; i < used.size(); ++i) {
        const size_t v = used[i];
        mesh->mVertices[i] = aiVector3D(g.positions[3 * v], g.positions[3 * v + 1], g.positions[3 * v + 2]);
        if (normals) mesh->mNormals[i] = aiVector3D(g.normals[3 * v], g.normals[3 * v + 1], g.normals[3 * v + 2]);
        if (tex) mesh->mTextureCoords[0][i] = aiVector3D(g.texCoords[2 * v], g.texCoords[2 * v + 1], 0);
    }
    mesh->mNumFaces = faces;
    mesh->mFaces = new aiFace[faces];
    c = corner;
    for (uint32_t f = 0; f < faces; ++f) {
        const uint32_t n = g.faces[firstFace + f] & kFaceCornerBits;
        aiFace& face = mesh->mFaces[f];
        face.mNumIndices = n;
        face.mIndices = new unsigned[n];
        for (uint32_t k = 0; k < n; ++k, ++c) face.mIndices[k] = local[static_cast<size_t>(g.vIdx[c] - 1)] - 1;
        mesh->mPrimitiveTypes |= n == 3 ? aiPrimitiveType_TRIANGLE : aiPrimitiveType_POLYGON;
    }
    for (const uint32_t v : used) local[v] = 0;  // ready for the next group
    return mesh;
}

}  // namespace

std::unique_ptr<aiScene> GeometryToScene(const TGeometryView& g) {
    auto scene = std::make_unique<aiScene>();
    scene->mNumMaterials = 1;
    scene->mMaterials = new aiMaterial*[1];
    scene->mMaterials[0] = new aiMaterial;
    const aiString material("default");
    scene->mMaterials[0]->AddProperty(&material, AI_MATKEY_NAME);

    std::vector<aiMesh*> meshes;
    std::vector<uint32_t> local(g.positions.size() / 3, 0);
    uint64_t face = 0, corner = 0;
    for (const TGeometry::TPart& part : g.groups) {
        if (part.faces > 0) meshes.push_back(MeshOf(g, part.name, face, part.faces, corner, local));
        for (uint32_t f = 0; f < part.faces; ++f) corner += g.faces[face + f] & kFaceCornerBits;
        face += part.faces;
    }
    scene->mRootNode = new aiNode("root");
    scene->mNumMeshes = static_cast<unsigned>(meshes.size());
    scene->mMeshes = new aiMesh*[meshes.size()];
    scene->mRootNode->mNumChildren = scene->mNumMeshes;
    scene->mRootNode->mChildren = new aiNode*[meshes.size()];
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        scene->mMeshes[m] = meshes[m];
        auto* node = new aiNode;
        node->mName = meshes[m]->mName;
        node->mParent = scene->mRootNode;
        node->mNumMeshes = 1;
        node->mMeshes = new unsigned[1]{m};
        scene->mRootNode->mChildren[m] = node;
    }
    return scene;
}

}  // namespace kgl
