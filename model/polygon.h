#pragma once
// Points in double precision and the plane of a polygon (private to the model core): the
// edge order judges collapses by its faces' normals, the triangulation cuts faces in
// their planes.
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kgl {

struct TPoint {
    double x = 0, y = 0, z = 0;
};
inline TPoint operator-(TPoint a, TPoint b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline TPoint Cross(TPoint a, TPoint b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double Dot(TPoint a, TPoint b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

constexpr double kSliver = 1e-7;  // area below this share of the longest side squared: no plane

// Newell's normal of a polygon of n corners placed by at(j): twice the area, along the
// normal. False when it has no plane: fewer than three corners, or an area below
// kSliver of its longest side squared (corners that coincide but for the last bits give
// normals of any direction).
template <class At>
bool FaceNormal(uint32_t n, At at, TPoint& normal) {
    normal = {};
    if (n < 3) return false;
    const TPoint p0 = at(0);
    TPoint prev = at(1) - p0;
    double longest = Dot(prev, prev);
    for (uint32_t j = 2; j < n; ++j) {
        const TPoint cur = at(j) - p0;
        const TPoint c = Cross(prev, cur), side = cur - prev;
        normal = {normal.x + c.x, normal.y + c.y, normal.z + c.z};
        longest = std::max({longest, Dot(cur, cur), Dot(side, side)});
        prev = cur;
    }
    const double twice = std::sqrt(Dot(normal, normal));
    return twice > kSliver * longest && std::isfinite(twice);
}

}  // namespace kgl
