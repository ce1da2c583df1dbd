#pragma once
// What kglmodel-import makes of a scene the Open Asset Import Library read: the model
// an OBJ file of the same geometry would load to.
//
// The mapping:
//  - every mesh instance reached from the scene's root node is one group, named after
//    its node (the mesh's name where the node has none), as an OBJ group name is read:
//    control bytes as blanks, a-z upper-cased, blanks trimmed, cut to 50 characters.
//    Names need not be unique. The instance's node transforms (root first) move its
//    positions, and their inverse transpose its normals (renormalised). Meshes that no
//    node reaches follow once each, untransformed, named after the mesh.
//  - then positions, normals and the first texture-coordinate set (u, v) go through
//    TGeometryBuilder (geometry.h): welded by exact value over the whole model, numbered
//    by first use, kept as an OBJ file holds them. A mesh without normals or texture
//    coordinates gives its faces no nIdx or tIdx.
//  - polygons keep their corners (the importer is not asked to triangulate); faces of
//    one or two corners (points, lines) are skipped and counted.
// The caller builds the model of it as an OBJ file of the same geometry loads, and the
// finishing steps of an OBJ load name the model after its second group.
#include <assimp/types.h>  // the vector and matrix types, and their arithmetic

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "geometry.h"

struct aiScene;

namespace kgl {

struct TSceneSkipped {
    uint64_t points = 0;  // faces of one corner
    uint64_t lines = 0;   // faces of two corners
};

// A node's or mesh's name as the group name above.
std::string SceneGroupName(std::string_view name);

// An instance's node transforms as the mapping applies them, in the library's own float
// arithmetic (so that a reader of our own gives the same bits).
class TInstanceTransform {
public:
    explicit TInstanceTransform(const aiMatrix4x4& transform);
    std::array<float, 3> Position(const aiVector3D& p) const {
        const aiVector3D moved = transform_ * p;
        return {moved.x, moved.y, moved.z};
    }
    std::array<float, 3> Normal(const aiVector3D& n) const {
        const aiVector3D turned = normals_ * n;
        return {turned.x, turned.y, turned.z};
    }

private:
    aiMatrix4x4 transform_;
    aiMatrix3x3 normals_;  // the inverse transpose
};

// The geometry of scene as above. Throws EReadError when the scene holds no polygon or a
// position that is not finite, ERangeError when a table would exceed 2^31 - 3 entries
// or a face names a vertex its mesh lacks.
TGeometry SceneToGeometry(const aiScene& scene, TSceneSkipped& skipped);

}  // namespace kgl
