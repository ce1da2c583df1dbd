#pragma once
// Benchmark models: OBJ files of a given number of triangles, written once and kept
// in a cache folder so that every benchmark run times the same bytes.
//
// The surface is a wavy height field over an irregular grid (column and row spacing
// vary), so face measures and edge weights spread over many values with some ties.
// Every vertex has a v, vt and vn line with the same index; faces are "f v/t/n v/t/n
// v/t/n" triangles, split into a few "g" bands of rows.
#include <cstdint>
#include <string>

namespace kgl::bench {

struct TBenchModel {
    std::string path;   // the OBJ file
    int64_t triangles;  // faces it holds (close to the number asked for)
    int64_t vertices;   // v lines (as many vt and vn lines)
    int32_t groups;     // g lines
    uint64_t bytes;     // file size
};

// The folder that holds the cached files: $KGL_BENCH_MODEL_DIR when set, else the
// build's bench-models folder.
std::string BenchModelDir();

// Returns the model of about `triangles` triangles, writing it into dir (created when
// missing) unless a complete file of this generator version is already there.
// Throws std::runtime_error when the file cannot be written.
TBenchModel EnsureBenchModel(int64_t triangles, const std::string& dir = BenchModelDir());

// The same surface with every cell of the grid one quad instead of two triangles (v, vt
// and vn lines as above, faces "f v/t/n" of four corners): about `quads` quads; triangles
// says how many triangles they make (two a quad). Cached beside the triangle files.
TBenchModel EnsureBenchQuadModel(int64_t quads, const std::string& dir = BenchModelDir());

// The same surface (positions and triangles only: no texture coordinates, no normals
// beyond STL's facet normals) in a binary format of another program: ".ply" (binary
// little-endian, float x y z, uchar/int face lists), ".stl" (binary) or ".glb" (one
// node, one mesh, float positions and uint32 indices). Cached beside the OBJ files;
// path is the file's, bytes its size. Throws std::runtime_error as above.
TBenchModel EnsureBenchModelAs(int64_t triangles, const std::string& extension,
                               const std::string& dir = BenchModelDir());

}  // namespace kgl::bench
