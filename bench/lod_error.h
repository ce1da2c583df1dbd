#pragma once
// The geometric error of a level of detail, for the reduction benchmark: what a reduced
// model shows as triangles, and how far that lies from the full model, both ways.
#include <array>
#include <cstdint>
#include <vector>

#include "KGLModel.h"

namespace kgl::bench {

// Triangles over the model's vertex table (0-based: vertex v + 1 of the model is v).
using TTriangles = std::vector<std::array<uint32_t, 3>>;
// Positions of vertices 1 .. vCount, three floats a vertex.
std::vector<float> VertexPositions(const TKGLModel& model);

// What the reduction shows: every visible face of three or more corners, its corners at
// the ends of their target chains, fanned from its first corner, and the triangles that
// keep three distinct corners. At full detail: the model's own surface.
TTriangles ShownTriangles(const TKGLModel& model);

// The mean and the largest distance from every vertex a triangle of a uses to the surface
// of b, and from every vertex b uses to the surface of a (one mean over both sets), as
// fractions of the diagonal of the box of the vertices a uses.
struct TSurfaceError {
    double mean = 0, largest = 0;
};
TSurfaceError SurfaceError(const std::vector<float>& positions, const TTriangles& a, const TTriangles& b);

}  // namespace kgl::bench
