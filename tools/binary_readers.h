#pragma once
// Readers of our own for the simple binary forms of three formats whose reading by the
// Open Asset Import Library takes as long as our whole OBJ load, or most of it: binary
// STL, binary little-endian PLY with float positions and int or uint face lists, and
// GLB of untransformed triangle meshes. They read the
// bytes in place (kglmodel-import maps the file) and give the geometry the library's
// reading maps to (scene_model.h), so that a file reads the same either way; a file
// in any other form is not theirs, and the library reads it.
//
// What each takes:
//  - STL: a file of exactly 84 + 50 x N bytes with N >= 1 (the library's own test for
//    the binary form): one group named "", every facet a triangle of three vertices of
//    its own, each with the facet's normal; the attribute word is ignored.
//  - PLY: "ply", "format binary_little_endian 1.0", comment and obj_info lines, an
//    element vertex of V >= 1 scalar properties and then an element face of F >= 1
//    holding only a list of int, uint, int32 or uint32 named vertex_indices or
//    vertex_index (count of any integer type), and end_header. The vertex properties:
//    x, y, z as float, optionally nx, ny, nz as float (all three) and u, v or s, t as
//    float (both), and colours (red, green, blue, alpha, r, g, b, a) of any type, which
//    are skipped; a property of any other name, and anything else in the header, leaves
//    the file to the library. One group named ""; faces of one or two corners are
//    skipped and counted as the mapping counts them.
//  - GLB: a glTF 2.0 binary file ("2.0") of a JSON chunk and at most one BIN chunk that
//    holds buffer 0, the only buffer read, with a scene ("scene") whose nodes (and their
//    children, none in two places, at most 1000 deep) hold a mesh, a camera, a name and
//    a transform at most (a matrix, or translation, rotation and scale); no skins,
//    animations or required extensions in the file. Every primitive of every mesh is a
//    list of triangles (mode 4), indexed by unsigned bytes, shorts or ints within its
//    vertices or not indexed, with float POSITION, optionally float NORMAL and float
//    TEXCOORD_0 of as many elements, each accessor of plain numbers (not normalised, not
//    sparse) within its buffer view and the view within the buffer; other attributes are
//    ignored. As the library reads it: a mesh of every primitive (named after the glTF
//    mesh, or "meshes[M]" for one without a name, with "-P" after it where there are
//    several), a node without a name as "nodes[N]", the node transforms in its own
//    arithmetic, texture coordinates as (u, 1 - v), and nothing the scene does not reach.
#include <cstdint>
#include <functional>
#include <string_view>

#include "geometry.h"
#include "scene_model.h"

namespace kgl {

enum class TBinaryRead { kNotMine, kRead };
using TReadProgress = std::function<void(uint64_t done, uint64_t total)>;

// kRead with geometry filled, or kNotMine. A file of the form that is broken (it ends
// early, a face names a vertex that is not there, a position is not finite) throws
// EReadError or ERangeError, as the mapping does.
TBinaryRead ReadBinarySTL(std::string_view bytes, TGeometry& geometry, const TReadProgress& progress);
TBinaryRead ReadBinaryPLY(std::string_view bytes, TGeometry& geometry, TSceneSkipped& skipped,
                          const TReadProgress& progress);
TBinaryRead ReadBinaryGLB(std::string_view bytes, TGeometry& geometry, const TReadProgress& progress);

}  // namespace kgl
