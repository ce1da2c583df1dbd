#include "lod_error.h"

#include <algorithm>
#include <cmath>

namespace kgl::bench {

namespace {

struct TP {
    double x = 0, y = 0, z = 0;
};
TP operator-(TP a, TP b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
TP operator+(TP a, TP b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
TP operator*(TP a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double Dot(TP a, TP b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

TP At(const std::vector<float>& positions, uint32_t v) {
    return {positions[3 * size_t(v)], positions[3 * size_t(v) + 1], positions[3 * size_t(v) + 2]};
}

double SegmentDistance(TP p, TP a, TP b) {
    const TP ab = b - a;
    const double len = Dot(ab, ab);
    const double t = len > 0 ? std::clamp(Dot(p - a, ab) / len, 0.0, 1.0) : 0.0;
    const TP d = p - (a + ab * t);
    return std::sqrt(Dot(d, d));
}

// The distance from p to triangle abc (the closest point by the triangle's Voronoi regions;
// its edges for a triangle without area).
double TriangleDistance(TP p, TP a, TP b, TP c) {
    const TP ab = b - a, ac = c - a, ap = p - a;
    const double d1 = Dot(ab, ap), d2 = Dot(ac, ap);
    const TP bp = p - b;
    const double d3 = Dot(ab, bp), d4 = Dot(ac, bp);
    const TP cp = p - c;
    const double d5 = Dot(ab, cp), d6 = Dot(ac, cp);
    const double va = d3 * d6 - d5 * d4, vb = d5 * d2 - d1 * d6, vc = d1 * d4 - d3 * d2;
    const double sum = va + vb + vc;
    if (d1 <= 0 && d2 <= 0) return std::sqrt(Dot(ap, ap));
    if (d3 >= 0 && d4 <= d3) return std::sqrt(Dot(bp, bp));
    if (d6 >= 0 && d5 <= d6) return std::sqrt(Dot(cp, cp));
    if (!(sum > 0) || va <= 0 || vb <= 0 || vc <= 0)  // on an edge's side, or no area
        return std::min({SegmentDistance(p, a, b), SegmentDistance(p, b, c), SegmentDistance(p, c, a)});
    const TP q = a + ab * (vb / sum) + ac * (vc / sum);
    const TP d = p - q;
    return std::sqrt(Dot(d, d));
}

// The triangles of a mesh in the cubic cells of a grid over their box, each in every cell
// its box touches; the nearest one to a point is looked for ring by ring around its cell.
class TTriangleGrid {
public:
    TTriangleGrid(const std::vector<float>& positions, const TTriangles& triangles)
        : positions_(positions), triangles_(triangles) {
        lo_ = {HUGE_VAL, HUGE_VAL, HUGE_VAL};
        TP hi{-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
        for (const auto& t : triangles)
            for (uint32_t v : t) {
                const TP p = At(positions, v);
                lo_ = {std::min(lo_.x, p.x), std::min(lo_.y, p.y), std::min(lo_.z, p.z)};
                hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
            }
        const double extent = std::max({hi.x - lo_.x, hi.y - lo_.y, hi.z - lo_.z, 1e-30});
        // a few triangles a cell on a surface
        const int across = std::clamp(static_cast<int>(2 * std::cbrt(static_cast<double>(triangles.size()))), 4, 160);
        cell_ = extent / across * 1.0001;
        dims_ = {Cells(hi.x - lo_.x), Cells(hi.y - lo_.y), Cells(hi.z - lo_.z)};
        start_.assign(size_t(dims_[0]) * dims_[1] * dims_[2] + 1, 0);
        for (int pass = 0; pass < 2; ++pass) {
            for (uint32_t i = 0; i < triangles.size(); ++i) {
                int a[3], b[3];
                Box(triangles[i], a, b);
                for (int x = a[0]; x <= b[0]; ++x)
                    for (int y = a[1]; y <= b[1]; ++y)
                        for (int z = a[2]; z <= b[2]; ++z) {
                            const size_t k = Key(x, y, z);
                            if (pass == 0)
                                ++start_[k + 1];
                            else
                                items_[fill_[k]++] = i;
                        }
            }
            if (pass == 0) {
                for (size_t k = 1; k < start_.size(); ++k) start_[k] += start_[k - 1];
                items_.resize(start_.back());
                fill_.assign(start_.begin(), start_.end() - 1);
            }
        }
    }
    double Distance(TP p) const {
        const int c[3] = {CellOf(p.x - lo_.x, 0), CellOf(p.y - lo_.y, 1), CellOf(p.z - lo_.z, 2)};
        const int most = std::max({dims_[0], dims_[1], dims_[2]});
        double best = HUGE_VAL;
        for (int r = 0; r <= most; ++r) {
            for (int x = std::max(0, c[0] - r); x <= std::min(dims_[0] - 1, c[0] + r); ++x)
                for (int y = std::max(0, c[1] - r); y <= std::min(dims_[1] - 1, c[1] + r); ++y)
                    for (int z = std::max(0, c[2] - r); z <= std::min(dims_[2] - 1, c[2] + r); ++z) {
                        if (std::max({std::abs(x - c[0]), std::abs(y - c[1]), std::abs(z - c[2])}) != r) continue;
                        const size_t k = Key(x, y, z);
                        for (uint32_t j = start_[k]; j < start_[k + 1]; ++j) {
                            const auto& t = triangles_[items_[j]];
                            best = std::min(best, TriangleDistance(p, At(positions_, t[0]), At(positions_, t[1]),
                                                                   At(positions_, t[2])));
                        }
                    }
            if (best <= r * cell_) break;  // every cell of the next rings lies farther
        }
        return best;
    }

private:
    int Cells(double extent) const { return std::max(1, static_cast<int>(std::ceil(extent / cell_))); }
    int CellOf(double offset, int axis) const {
        return std::clamp(static_cast<int>(std::floor(offset / cell_)), 0, dims_[axis] - 1);
    }
    size_t Key(int x, int y, int z) const { return (size_t(x) * dims_[1] + y) * dims_[2] + z; }
    void Box(const std::array<uint32_t, 3>& t, int* a, int* b) const {
        const TP p[3] = {At(positions_, t[0]), At(positions_, t[1]), At(positions_, t[2])};
        a[0] = CellOf(std::min({p[0].x, p[1].x, p[2].x}) - lo_.x, 0);
        a[1] = CellOf(std::min({p[0].y, p[1].y, p[2].y}) - lo_.y, 1);
        a[2] = CellOf(std::min({p[0].z, p[1].z, p[2].z}) - lo_.z, 2);
        b[0] = CellOf(std::max({p[0].x, p[1].x, p[2].x}) - lo_.x, 0);
        b[1] = CellOf(std::max({p[0].y, p[1].y, p[2].y}) - lo_.y, 1);
        b[2] = CellOf(std::max({p[0].z, p[1].z, p[2].z}) - lo_.z, 2);
    }

    const std::vector<float>& positions_;
    const TTriangles& triangles_;
    TP lo_;
    double cell_ = 1;
    std::array<int, 3> dims_{};
    std::vector<uint32_t> start_, fill_, items_;
};

std::vector<uint32_t> UsedVertices(const TTriangles& triangles, size_t vertices) {
    std::vector<uint8_t> used(vertices, 0);
    for (const auto& t : triangles)
        for (uint32_t v : t) used[v] = 1;
    std::vector<uint32_t> out;
    for (uint32_t v = 0; v < vertices; ++v)
        if (used[v]) out.push_back(v);
    return out;
}

}  // namespace

std::vector<float> VertexPositions(const TKGLModel& model) {
    std::vector<float> p;
    p.reserve(3 * static_cast<size_t>(model.vCount));
    for (int32_t v = 1; v <= model.vCount; ++v)
        p.insert(p.end(), {model.vertices[v].x, model.vertices[v].y, model.vertices[v].z});
    return p;
}

TTriangles ShownTriangles(const TKGLModel& model) {
    TTriangles out;
    for (int32_t g = 0; g <= model.gCount; ++g)
        for (int32_t f = 1; f <= model.groups[g].fCount; ++f) {
            const TFace& face = model.groups[g].faces[f];
            if (!face.visible || face.count < 3) continue;
            auto end = [&](uint32_t j) { return static_cast<uint32_t>(ResolveVertex(model, face.vIdx[j]) - 1); };
            const uint32_t first = end(0);
            for (uint32_t j = 1; j + 1 < static_cast<uint32_t>(face.count); ++j) {
                const uint32_t b = end(j), c = end(j + 1);
                if (first != b && b != c && c != first) out.push_back({first, b, c});
            }
        }
    return out;
}

TSurfaceError SurfaceError(const std::vector<float>& positions, const TTriangles& a, const TTriangles& b) {
    const size_t vertices = positions.size() / 3;
    const std::vector<uint32_t> usedA = UsedVertices(a, vertices), usedB = UsedVertices(b, vertices);
    TP lo{HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi{-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (uint32_t v : usedA) {
        const TP p = At(positions, v);
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    const double diagonal = std::sqrt(Dot(hi - lo, hi - lo));
    TSurfaceError e;
    if (a.empty() || b.empty() || !(diagonal > 0)) return e;
    const TTriangleGrid gridA(positions, a), gridB(positions, b);
    double sum = 0;
    for (uint32_t v : usedA) {
        const double d = gridB.Distance(At(positions, v));
        sum += d;
        e.largest = std::max(e.largest, d);
    }
    for (uint32_t v : usedB) {
        const double d = gridA.Distance(At(positions, v));
        sum += d;
        e.largest = std::max(e.largest, d);
    }
    e.mean = sum / static_cast<double>(usedA.size() + usedB.size()) / diagonal;
    e.largest /= diagonal;
    return e;
}

}  // namespace kgl::bench
