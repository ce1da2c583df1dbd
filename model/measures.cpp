// Derived measures of a freshly read model: box centre, mean vertex, diagonal, the face
// measure and its normalisation, the group boxes. Ends with the edge table.
#include <cmath>

#include "KGLModel.h"
#include "box.h"
#include "face_table.h"

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
    ForEachFace(model, 1, [&](TGroup&, int32_t, TFace& face, int32_t) {
        const int32_t* idx = face.vIdx.data();
        face.area = ChainMeasure(face.vIdx.size(), [&](size_t i) { return MeasureCorner(VertexAt(model, idx[i])); });
        if (face.area < model.minArea) model.minArea = face.area;
        if (face.area > model.maxArea) model.maxArea = face.area;
    });
}

void NormaliseFaceAreas(TKGLModel& model) {
    // All faces alike (or a single face): every normalised area is +0.0, never
    // 0 x infinity; slot 0 included, so no -0.0 reaches a file either.
    const bool flat = model.maxArea == model.minArea;
    const double k = flat ? 0.0 : 1.0 / (model.maxArea - model.minArea);
    ForEachFace(model, 0, [&](TGroup&, int32_t, TFace& face, int32_t) {
        face.area = flat ? 0.0 : (face.area - model.minArea) * k;
    });
}

void ComputeGroupBoxes(TKGLModel& model) {
    ForEachFace(model, 0, [&](TGroup& group, int32_t, const TFace& face, int32_t) {
        for (int32_t index : face.vIdx) WidenBox(group.boxMin, group.boxMax, VertexAt(model, index));
    });
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
