#pragma once
// What kglmodel-export makes of the geometry as glTF 2.0, through Debian's tinygltf:
//  - every group that has faces is one mesh of one triangle primitive under one node of
//    the scene, both named after the group (as UTF-8; a group without a name gives
//    them none); the default material, "default", for every primitive;
//  - a mesh's vertices are the group's own, in the order its corners first name them
//    (GeometryToWrite gives one per distinct position, normal and texture coordinate):
//    POSITION with its min and max, NORMAL and TEXCOORD_0 when the group's faces have
//    them (v turned to glTF's top-down direction: 1 - v), and unsigned 32-bit indices;
//  - one buffer of every table in turn, each in a buffer view of its own (all values of
//    4 bytes, so every view and accessor is aligned): in the .glb file its binary chunk,
//    in a .gltf file embedded as a data URI, so that the file stands alone.
// The faces must be triangles (GeometryToWrite with triangles).
#include <ostream>

#include "geometry.h"

namespace kgl {

// Writes the .glb file (binary) or the .gltf file to out. Throws EInOutError when the
// library refuses the model or out its bytes.
void GeometryToGltf(const TGeometryView& geometry, bool binary, std::ostream& out);

}  // namespace kgl
