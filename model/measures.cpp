// Derived measures of a freshly read model: box centre, mean vertex, diagonal, the face
// measure and its normalisation, the group boxes. Ends with the edge table.
#include <algorithm>
#include <cmath>
#include <vector>

#include "KGLModel.h"
#include "box.h"
#include "face_table.h"
#include "parallel.h"

namespace kgl {

namespace {

constexpr float kMeasureOffset = 1000000.0f;  // quantises corner positions to 1/16 near the origin

// The vertex record at index; the spare entry 0 for an index that addresses no entry
// (a loaded OBJ never has one, a hand-built model might).
const TVertex& VertexAt(const TKGLModel& model, int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= model.vertices.size()) {
        static const TVertex none{};
        return none;
    }
    return model.vertices[static_cast<size_t>(index)];
}

// One side of the chain that FaceMeasure averages.
inline double SideLength(const TVec3& a, const TVec3& b) {
    double dx = static_cast<double>(a.x) - b.x;
    double dy = static_cast<double>(a.y) - b.y;
    double dz = static_cast<double>(a.z) - b.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

inline TVec3 MeasureCorner(const TVertex& v) {
    return {v.x + kMeasureOffset, v.y + kMeasureOffset, v.z + kMeasureOffset};
}

// Mean length of the open chain through n corners, corner(i) giving the i-th position.
template <class TCornerAt>
inline double ChainMeasure(size_t n, TCornerAt corner) {
    if (n < 2) return 0;
    double sum = 0;
    TVec3 prev = corner(0);
    for (size_t i = 1; i < n; ++i) {
        const TVec3 cur = corner(i);
        sum += SideLength(prev, cur);
        prev = cur;
    }
    return sum / static_cast<double>(n - 1);
}

}  // namespace

double FaceMeasure(const TVertices& corners) {
    return ChainMeasure(corners.size(), [&](size_t i) { return corners[i]; });
}

void ComputeFaceAreas(TKGLModel& model) {
    const TFaceRows rows(model, 1);
    const size_t n = WorkThreads(rows.Count(), kItemsPerThread);
    std::vector<double> lo(n, model.minArea), hi(n, model.maxArea);
    ParallelRanges(n, rows.Count(), [&](size_t t, uint64_t begin, uint64_t end) {
        double l = lo[t], h = hi[t];
        rows.ForEach(model, begin, end, [&](TGroup&, int32_t, TFace& face, int32_t) {
            const int32_t* idx = face.vIdx.data();
            face.area =
                ChainMeasure(face.vIdx.size(), [&](size_t i) { return MeasureCorner(VertexAt(model, idx[i])); });
            if (face.area < l) l = face.area;
            if (face.area > h) h = face.area;
        });
        lo[t] = l;
        hi[t] = h;
    });
    for (size_t t = 0; t < n; ++t) {
        if (lo[t] < model.minArea) model.minArea = lo[t];
        if (hi[t] > model.maxArea) model.maxArea = hi[t];
    }
}

void NormaliseFaceAreas(TKGLModel& model) {
    // All faces alike (or a single face): every normalised area is +0.0, never
    // 0 x infinity; slot 0 included, so no -0.0 reaches a file either.
    const bool flat = model.maxArea == model.minArea;
    const double k = flat ? 0.0 : 1.0 / (model.maxArea - model.minArea);
    const TFaceRows rows(model, 0);
    ParallelRanges(WorkThreads(rows.Count(), kItemsPerThread), rows.Count(), [&](size_t, uint64_t b, uint64_t e) {
        rows.ForEach(model, b, e, [&](TGroup&, int32_t, TFace& face, int32_t) {
            face.area = flat ? 0.0 : (face.area - model.minArea) * k;
        });
    });
}

void ComputeGroupBoxes(TKGLModel& model) {
    // each thread widens boxes of its own per group; a box combines by its extremes
    const TFaceRows rows(model, 0);
    const size_t groups = static_cast<size_t>(LastGroup(model) + 1);
    const size_t n = groups * 8 < rows.Count() ? WorkThreads(rows.Count(), kItemsPerThread) : 1;
    const TVec3 resetLo{kBoxResetMin, kBoxResetMin, kBoxResetMin}, resetHi{kBoxResetMax, kBoxResetMax, kBoxResetMax};
    std::vector<TVec3> lo(n * groups, resetLo), hi(n * groups, resetHi);
    ParallelRanges(n, rows.Count(), [&](size_t t, uint64_t begin, uint64_t end) {
        TVec3* l = lo.data() + t * groups;
        TVec3* h = hi.data() + t * groups;
        rows.ForEach(model, begin, end, [&](TGroup&, int32_t g, const TFace& face, int32_t) {
            for (int32_t index : face.vIdx) WidenBox(l[g], h[g], VertexAt(model, index));
        });
    });
    for (size_t g = 0; g < groups; ++g) {
        TGroup& group = model.groups[g];
        for (size_t t = 0; t < n; ++t) {
            const TVec3& l = lo[t * groups + g];
            const TVec3& h = hi[t * groups + g];
            group.boxMin = {std::min(group.boxMin.x, l.x), std::min(group.boxMin.y, l.y),
                            std::min(group.boxMin.z, l.z)};
            group.boxMax = {std::max(group.boxMax.x, h.x), std::max(group.boxMax.y, h.y),
                            std::max(group.boxMax.z, h.z)};
        }
    }
}

void FinishOBJ(TKGLModel& model) {
    const TVec3 lo = model.boxMin, hi = model.boxMax;
    model.center = {static_cast<float>((static_cast<double>(lo.x) + hi.x) / 2),
                    static_cast<float>((static_cast<double>(lo.y) + hi.y) / 2),
                    static_cast<float>((static_cast<double>(lo.z) + hi.z) / 2)};
    // no vertices: 0 / 0, a not-a-number centroid, as the record documents
    const float n = static_cast<float>(model.vCount);
    model.centroid = {model.centroid.x / n, model.centroid.y / n, model.centroid.z / n};
    double dx = static_cast<double>(lo.x) - hi.x, dy = static_cast<double>(lo.y) - hi.y,
           dz = static_cast<double>(lo.z) - hi.z;
    model.scale = std::sqrt(dx * dx + dy * dy + dz * dz);
    model.diagonal = model.scale;
    ComputeFaceAreas(model);
    if (model.gCount >= 1) model.name = ShortString(model.groups[1].name, kModelNameMax);
    NormaliseFaceAreas(model);
    ComputeGroupBoxes(model);
    BuildEdges(model);
}

}  // namespace kgl
