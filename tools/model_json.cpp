#include "model_json.h"

#include <cmath>
#include <cstdio>

#include "face_table.h"

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
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
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
    void Value(const std::string& v) { Str(v); }
    void Value(const TVec3& v) { Vec(v); }
    void Value(const TIndexList& v) { List(v); }
    // Text pieces (string literals) as they are, values as above, one after another.
    template <class... T>
    void Put(const T&... parts) {
        (Piece(parts), ...);
    }
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
    void Piece(const char* raw) { Raw(raw); }
    template <class T>
    void Piece(const T& value) {
        Value(value);
    }
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
    return static_cast<size_t>(LastSlot(table, count) + 1);
}

}  // namespace

std::string ModelToJson(const TKGLModel& m) {
    TJsonWriter w;
    w.Put("{\"name\": ", m.name, ", \"vCount\": ", m.vCount, ", \"nCount\": ", m.nCount, ", \"tCount\": ", m.tCount,
          ", \"gCount\": ", m.gCount, ", \"fCount\": ", m.fCount, ", \"eCount\": ", m.eCount);
    w.Put(", \"boxMin\": ", m.boxMin, ", \"boxMax\": ", m.boxMax, ", \"center\": ", m.center,
          ", \"centroid\": ", m.centroid);
    w.Put(", \"diagonal\": ", m.diagonal, ", \"minArea\": ", m.minArea, ", \"maxArea\": ", m.maxArea,
          ", \"scale\": ", m.scale);

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
        w.Put(g ? ",\n{\"name\": " : "\n{\"name\": ", group.name, ", \"boxMin\": ", group.boxMin,
              ", \"boxMax\": ", group.boxMax, ", \"fCount\": ", group.fCount, ", \"faces\": [");
        for (size_t f = 0, nf = SlotsUpTo(group.faces, group.fCount); f < nf; ++f) {
            const TFace& face = group.faces[f];
            w.Put(f ? ",\n {\"count\": " : "\n {\"count\": ", face.count, ", \"vIdx\": ", face.vIdx,
                  ", \"tIdx\": ", face.tIdx, ", \"nIdx\": ", face.nIdx, ", \"area\": ", face.area,
                  ", \"visible\": ", int32_t{face.visible ? 1 : 0}, "}");
        }
        w.Raw("]}");
    }
    w.Raw("]}\n");
    return std::move(w.out);
}

}  // namespace kgl
