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

}  // namespace kgl::bench
