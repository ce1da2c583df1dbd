#pragma once
// Hand-built models for the reduction, KGM, OBJ writer and texture tests, built
// without the OBJ reader. The edge table is made by the literal pairing and stable
// sort of the edge-table rules, which is slow but plain.
#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "KGLModel.h"

namespace kgl::test {

// A model of vCount vertices and one group holding the given faces (each a vIdx list;
// tIdx and nIdx filled when withTex / withNormals). Areas are given per face.
inline TKGLModel MakeModel(const std::vector<TVec3>& positions, const std::vector<std::vector<int32_t>>& faces,
                           const std::vector<double>& areas, bool withTex = false, bool withNormals = false) {
    TKGLModel m;
    InitModel(m);
    m.vCount = static_cast<int32_t>(positions.size());
    m.tCount = withTex ? m.vCount : 0;
    m.nCount = withNormals ? 1 : 0;
    m.gCount = 0;
    m.groups.resize(1);
    m.groups[0].fCount = static_cast<int32_t>(faces.size());
    m.fCount = static_cast<int32_t>(faces.size());
    AllocateModel(m);
    m.groups[0].name = "BODY";
    for (size_t i = 0; i < positions.size(); ++i) {
        TVertex& v = m.vertices[i + 1];
        v.x = positions[i].x;
        v.y = positions[i].y;
        v.z = positions[i].z;
        v.target = kTargetFree;
        if (withTex) m.texCoords[i + 1] = {positions[i].x * 0.5f, positions[i].y * 0.25f, kTargetFree};
    }
    if (withNormals) m.normals[1] = {0, 0, 1};
    for (size_t f = 0; f < faces.size(); ++f) {
        TFace& face = m.groups[0].faces[f + 1];
        for (int32_t v : faces[f]) {
            face.vIdx.push_back(v);
            if (withTex) face.tIdx.push_back(v);
            if (withNormals) face.nIdx.push_back(1);
        }
        face.count = static_cast<int32_t>(faces[f].size());
        face.area = areas[f];
        face.visible = 1;
    }
    m.minArea = 0;
    m.maxArea = 1;
    return m;
}

// Face f of group g when it is one of the group's faces 1 .. fCount, else nullptr.
inline const TFace* FaceOf(const TKGLModel& m, int32_t g, int32_t f) {
    if (g < 0 || g > m.gCount || f < 1 || f > m.groups[g].fCount) return nullptr;
    return &m.groups[g].faces[f];
}
// End point of an edge at one of its corners, read through its first face: 0 when the
// group, the face or the corner names nothing.
inline int32_t EndAt(const TKGLModel& m, const TEdge& e, int32_t corner) {
    const TFace* f = FaceOf(m, e.group, e.face);
    return f && corner >= 0 && corner < static_cast<int32_t>(f->vIdx.size()) ? f->vIdx[corner] : 0;
}
inline int32_t EndA(const TKGLModel& m, const TEdge& e) { return EndAt(m, e, e.corner0); }
inline int32_t EndB(const TKGLModel& m, const TEdge& e) { return EndAt(m, e, e.corner1); }

// The edge table by the literal rules, the one oracle of the tests: sides i, i + 1
// then the closing side of every face (a face without corners has none); a candidate
// pairs with the first earlier entry that has no second face yet; stable sort by
// weight with the all-zero entry among them.
inline void LiteralEdges(TKGLModel& m) {
    std::vector<TEdge> buf;
    for (int32_t g = 0; g <= m.gCount; ++g)
        for (int32_t f = 1; f <= m.groups[g].fCount; ++f) {
            const TFace& face = m.groups[g].faces[f];
            auto add = [&](int32_t c0, int32_t c1) {
                TEdge cand{c0, c1, f, kNoFace, g, 0, face.area};
                int32_t a = EndA(m, cand), b = EndB(m, cand);
                for (TEdge& e : buf) {
                    if (e.active) continue;
                    int32_t ea = EndA(m, e), eb = EndB(m, e);
                    if ((ea == a && eb == b) || (ea == b && eb == a)) {
                        e.active = 1;
                        e.weight = (e.weight + cand.weight) / 2;
                        e.face2 = f;
                        return;
                    }
                }
                buf.push_back(cand);
            };
            if (face.count < 1) continue;
            for (int32_t i = 0; i + 1 < face.count; ++i) add(i, i + 1);
            add(0, face.count - 1);
        }
    m.eCount = static_cast<int32_t>(buf.size());
    buf.push_back(TEdge{});
    std::stable_sort(buf.begin(), buf.end(), [](const TEdge& x, const TEdge& y) { return x.weight < y.weight; });
    buf.push_back(TEdge{});
    m.edges.assign(buf.begin(), buf.end());
}

// A w x h grid of vertices split into triangles, with random face areas (seeded),
// texture coordinates and one normal; edges by the literal rules.
inline TKGLModel MakeGrid(int w, int h, unsigned seed) {
    std::vector<TVec3> pos;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) pos.push_back({float(x), float(y), 0});
    std::vector<std::vector<int32_t>> faces;
    std::vector<double> areas;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0, 1);
    for (int y = 0; y + 1 < h; ++y)
        for (int x = 0; x + 1 < w; ++x) {
            int32_t a = y * w + x + 1, b = a + 1, c = a + w, d = c + 1;
            faces.push_back({a, b, d});
            faces.push_back({a, d, c});
            areas.push_back(u(rng));
            areas.push_back(u(rng));
        }
    TKGLModel m = MakeModel(pos, faces, areas, true, true);
    LiteralEdges(m);
    return m;
}

// f 1 2 3 (the smaller) and f 3 2 4, sharing the side 2-3.
inline TKGLModel MakeTwoTriangles() {
    TKGLModel m = MakeModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{1, 2, 3}, {3, 2, 4}}, {0.0, 1.0}, true);
    LiteralEdges(m);
    return m;
}

}  // namespace kgl::test
