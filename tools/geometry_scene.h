#pragma once
// What kglmodel-export makes of the geometry its caller hands it: a scene of the Open
// Asset Import Library for the library's exporters.
//
// The mapping (the reverse of scene_model.h's, so that the file imports to the model):
//  - every group that has faces is one mesh under one node, a child of the root node
//    "root"; mesh and node are named after the group, as UTF-8 (utf8.h);
//  - a mesh's vertices are the group's own, in the order its corners first name them,
//    with their normals and texture coordinates (u, v) when the group's faces have them
//    (GeometryToWrite gives one vertex per distinct position, normal and texture
//    coordinate, so the corners of a face index all three at once);
//  - faces keep their corners (triangles where the caller cut them);
//  - one material, "default", for every mesh: the model has no materials.
#include <memory>

#include "geometry.h"

struct aiScene;

namespace kgl {

std::unique_ptr<aiScene> GeometryToScene(const TGeometryView& geometry);

}  // namespace kgl
