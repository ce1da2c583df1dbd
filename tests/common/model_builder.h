#pragma once
// Models built by hand, without the loader, for the display tests and the display
// benchmark: vertices and faces are appended, Finish() sets counts, table sizes
// (count + 2 entries) and boxes as a load would; the edge table is given entry by entry.
#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "KGLModel.h"

namespace kgl::test {

class TModelBuilder {
public:
    TModelBuilder() {
        InitModel(m);
        m.vertices.resize(1);  // spare entry 0
        m.normals.resize(1);
        m.texCoords.resize(1);
        m.gCount = -1;
    }
    int32_t Vertex(float x, float y, float z = 0) {
        m.vertices.push_back({x, y, z, kTargetFree, 0});
        return static_cast<int32_t>(m.vertices.size()) - 1;
    }
    int32_t TexCoord(float u, float v) {
        m.texCoords.push_back({u, v, kTargetFree});
        return static_cast<int32_t>(m.texCoords.size()) - 1;
    }
    int32_t Group() {
        TGroup g;
        g.name = std::to_string(m.groups.size());
        g.faces.resize(1);  // spare face 0
        m.groups.push_back(std::move(g));
        return ++m.gCount;
    }
    int32_t Normal(float x, float y, float z) {
        m.normals.push_back({x, y, z});
        return static_cast<int32_t>(m.normals.size()) - 1;
    }
    // A face in the last group (vertex, texture and normal indices per corner); returns
    // its index within the group.
    int32_t Face(std::initializer_list<int32_t> v, std::initializer_list<int32_t> t = {},
                 std::initializer_list<int32_t> n = {}) {
        TFace f;
        f.vIdx = TIndexList(v);
        f.tIdx = TIndexList(t);
        f.nIdx = TIndexList(n);
        f.count = static_cast<int32_t>(f.vIdx.size());
        f.visible = 1;
        TGroup& g = m.groups.back();
        g.faces.push_back(std::move(f));
        return ++g.fCount;
    }
    // An axis-aligned rectangle face [x0, x1] x [y0, y1] at depth z in the last group.
    int32_t Rect(float x0, float y0, float x1, float y1, float z = 0) {
        return Face({Vertex(x0, y0, z), Vertex(x1, y0, z), Vertex(x1, y1, z), Vertex(x0, y1, z)});
    }
    TKGLModel& Finish() {
        m.vCount = static_cast<int32_t>(m.vertices.size()) - 1;
        m.nCount = static_cast<int32_t>(m.normals.size()) - 1;
        m.tCount = static_cast<int32_t>(m.texCoords.size()) - 1;
        m.vertices.emplace_back();
        m.normals.emplace_back();
        m.texCoords.emplace_back();
        m.fCount = 0;
        for (TGroup& g : m.groups) {
            g.faces.emplace_back();
            m.fCount += g.fCount;
            g.boxMin = {kBoxResetMin, kBoxResetMin, kBoxResetMin};
            g.boxMax = {kBoxResetMax, kBoxResetMax, kBoxResetMax};
            for (int32_t j = 1; j <= g.fCount; ++j)
                for (int32_t v : g.faces[j].vIdx)
                    if (v >= 0 && v <= m.vCount) Widen(g.boxMin, g.boxMax, m.vertices[v]);  // damaged faces too
        }
        m.groups.emplace_back();  // the zero-filled spare group a load leaves
        for (int32_t v = 1; v <= m.vCount; ++v) Widen(m.boxMin, m.boxMax, m.vertices[v]);
        return m;
    }
    TKGLModel m;

private:
    static void Widen(TVec3& lo, TVec3& hi, const TVertex& p) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
};

// An edge by its first face's corners (end points are looked up through that face).
inline TEdge MakeEdge(int32_t group, int32_t face, int32_t c0, int32_t c1, int32_t face2 = kNoFace) {
    TEdge e;
    e.corner0 = c0;
    e.corner1 = c1;
    e.face = face;
    e.face2 = face2;
    e.group = group;
    e.active = 1;
    return e;
}
// Installs edges as the table: entries 0 .. eCount - 1 given, plus the two all-zero
// entries a built table ends with (the zero entry is inactive so it draws nothing).
inline void SetEdges(TKGLModel& m, std::vector<TEdge> edges) {
    m.eCount = static_cast<int32_t>(edges.size());
    edges.emplace_back();
    edges.emplace_back();
    m.edges.assign(edges.begin(), edges.end());
}

}  // namespace kgl::test
