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
//  - positions are welded by exact value over the whole model (0 and -0 alike), in
//    first-use order, so that neighbouring faces share vertices as in an OBJ file;
//    normals and the first texture-coordinate set (u, v) go into tables of their own,
//    welded the same way, with per-corner indices as "f v/t/n" gives them. A mesh
//    without normals or texture coordinates gives its faces no nIdx or tIdx.
//  - polygons keep their corners (the importer is not asked to triangulate); faces of
//    one or two corners (points, lines) are skipped and counted.
//  - every value is kept as an OBJ file of SaveToOBJ holds it (AsWrittenInOBJ: six
//    decimals), so the imported model, saved as OBJ and read back, is the same model.
//    A position that is not a finite number fails the import; a normal or texture
//    coordinate that is not finite becomes 0.
//  - then the finishing steps of an OBJ load (FinishOBJ), which also name the model
//    after its second group.
#include <cstdint>
#include <string>

#include "KGLModel.h"

struct aiScene;

namespace kgl {

struct TSceneSkipped {
    uint64_t points = 0;  // faces of one corner
    uint64_t lines = 0;   // faces of two corners
};

// Builds model from scene as above. Throws EReadError when the scene holds no polygon
// or a position that is not finite, ERangeError when a table would exceed 2^31 - 3
// entries or a face names a vertex its mesh lacks.
void SceneToModel(const aiScene& scene, TKGLModel& model, TSceneSkipped& skipped);

}  // namespace kgl
