#include "model_json.h"

#include <cmath>
#include <cstdio>

namespace kgl {

namespace {

class TJsonWriter {
public:
    std::string out;

    void Raw(const char* s) { out += s; }
    void Float(float v) { Real(v, "%.9g"); }
    void Double(double v) { Real(v, "%.17g"); }
    void Int(int64_t v) { out += std::to_string(v); }
    void Str(const std::string& s) {
        out += '"';
        for (unsigned char c : s) {
            switch (c) {
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                default:
                    if (c < 0x20 || c >= 0x7f) {
                        // names are single-byte text of unknown encoding: keep every byte visible
                        char buf[8];
                        std::snprintf(buf, sizeof buf, "\\u%04x", c);
                        out += buf;
                    } else {
                        out += static_cast<char>(c);
                    }
            }
        }
        out += '"';
    }
    void Value(float v) { Float(v); }
    void Value(double v) { Double(v); }
    void Value(int32_t v) { Int(v); }
    // [a,b,...]: floats "%.9g", doubles "%.17g", integers as they are
    template <class... T>
    void Row(T... values) {
        out += '[';
        const char* sep = "";
        ((out += sep, Value(values), sep = ","), ...);
        out += ']';
    }
    void Vec(const TVec3& v) { Row(v.x, v.y, v.z); }
    void List(const TIndexList& l) {
        out += '[';
        for (uint32_t i = 0; i < l.size(); ++i) {
            if (i) out += ',';
            Int(l[i]);
        }
        out += ']';
    }

private:
    void Real(double v, const char* fmt) {
        if (std::isnan(v)) {
            out += "\"nan\"";
        } else if (std::isinf(v)) {
            out += v > 0 ? "\"inf\"" : "\"-inf\"";
        } else {
            char buf[40];
            std::snprintf(buf, sizeof buf, fmt, v);
            out += buf;
        }
    }
};

// Slots 0 .. count of a table, never past its end.
template <class Table>
size_t SlotsUpTo(const Table& table, int32_t count) {
    if (count < 0) return 0;
    return std::min(table.size(), static_cast<size_t>(count) + 1);
}

}  // namespace

std::string ModelToJson(const TKGLModel& m) {
    TJsonWriter w;
    w.Raw("{\"name\": ");
    w.Str(m.name);
    const std::pair<const char*, int32_t> counts[] = {{"vCount", m.vCount}, {"nCount", m.nCount},
                                                      {"tCount", m.tCount}, {"gCount", m.gCount},
                                                      {"fCount", m.fCount}, {"eCount", m.eCount}};
    for (const auto& [key, value] : counts) {
        w.Raw(", \"");
        w.Raw(key);
        w.Raw("\": ");
        w.Int(value);
    }
    w.Raw(", \"boxMin\": ");
    w.Vec(m.boxMin);
    w.Raw(", \"boxMax\": ");
    w.Vec(m.boxMax);
    w.Raw(", \"center\": ");
    w.Vec(m.center);
    w.Raw(", \"centroid\": ");
    w.Vec(m.centroid);
    w.Raw(", \"diagonal\": ");
    w.Double(m.diagonal);
    w.Raw(", \"minArea\": ");
    w.Double(m.minArea);
    w.Raw(", \"maxArea\": ");
    w.Double(m.maxArea);
    w.Raw(", \"scale\": ");
    w.Double(m.scale);

    w.Raw(",\n\"vertices\": [");
    for (size_t i = 0, n = SlotsUpTo(m.vertices, m.vCount); i < n; ++i) {
        const TVertex& v = m.vertices[i];
        if (i) w.Raw(",");
        w.Row(v.x, v.y, v.z, v.target, v.merges);
    }
    w.Raw("],\n\"normals\": [");
    for (size_t i = 0, n = SlotsUpTo(m.normals, m.nCount); i < n; ++i) {
        if (i) w.Raw(",");
        w.Vec(m.normals[i]);
    }
    w.Raw("],\n\"texCoords\": [");
    for (size_t i = 0, n = SlotsUpTo(m.texCoords, m.tCount); i < n; ++i) {
        const TTexCoord& t = m.texCoords[i];
        if (i) w.Raw(",");
        w.Row(t.u, t.v, t.target);
    }
    w.Raw("],\n\"edges\": [");
    for (size_t i = 0, n = SlotsUpTo(m.edges, m.eCount); i < n; ++i) {
        const TEdge& e = m.edges[i];
        if (i) w.Raw(",");
        w.Row(e.corner0, e.corner1, e.face, e.face2, e.group, e.weight, int32_t{e.active ? 1 : 0});
    }
    w.Raw("],\n\"groups\": [");
    for (size_t g = 0, ng = SlotsUpTo(m.groups, m.gCount); g < ng; ++g) {
        const TGroup& group = m.groups[g];
        w.Raw(g ? ",\n{\"name\": " : "\n{\"name\": ");
        w.Str(group.name);
        w.Raw(", \"boxMin\": ");
        w.Vec(group.boxMin);
        w.Raw(", \"boxMax\": ");
        w.Vec(group.boxMax);
        w.Raw(", \"fCount\": ");
        w.Int(group.fCount);
        w.Raw(", \"faces\": [");
        for (size_t f = 0, nf = SlotsUpTo(group.faces, group.fCount); f < nf; ++f) {
            const TFace& face = group.faces[f];
            w.Raw(f ? ",\n {\"count\": " : "\n {\"count\": ");
            w.Int(face.count);
            w.Raw(", \"vIdx\": ");
            w.List(face.vIdx);
            w.Raw(", \"tIdx\": ");
            w.List(face.tIdx);
            w.Raw(", \"nIdx\": ");
            w.List(face.nIdx);
            w.Raw(", \"area\": ");
            w.Double(face.area);
            w.Raw(", \"visible\": ");
            w.Int(face.visible ? 1 : 0);
            w.Raw("}");
        }
        w.Raw("]}");
    }
    w.Raw("]}\n");
    return std::move(w.out);
}

}  // namespace kgl
