// STL, PLY and OFF, written by us: small fixed formats, streamed through one large
// buffer to the file (written beside it and renamed over it when complete) or to a
// string, like the OBJ writer. Numbers in text are the shortest that read back to the
// same float, so every format holds the model's float32 values exactly.
#include <charconv>
#include <cmath>
#include <cstring>

#include "KGLModel.h"
#include "errors.h"
#include "face_table.h"
#include "files.h"
#include "geometry.h"
#include "progress.h"

namespace kgl {

namespace {

constexpr uint64_t kFacesPerReport = 64 * 1024;

void Real(TOutput& out, float v) {
    char* p = out.Reserve(32);
    out.Advance(static_cast<size_t>(std::to_chars(p, p + 32, v).ptr - p));
}

void Int(TOutput& out, int64_t v) {
    char* p = out.Reserve(24);
    out.Advance(static_cast<size_t>(std::to_chars(p, p + 24, v).ptr - p));
}

void Reals(TOutput& out, std::initializer_list<float> values) {
    bool first = true;
    for (const float v : values) {
        if (!first) out.Char(' ');
        first = false;
        Real(out, v);
    }
}

// The corners of a face that has triangles: 3 and more, each naming a vertex of the
// table; 0 for any other face.
uint32_t TriangleCorners(const TFace& f, int32_t lastV) {
    const uint32_t n = ReadableCorners(f);
    if (n < 3) return 0;
    for (uint32_t c = 0; c < n; ++c)
        if (f.vIdx[c] < 1 || f.vIdx[c] > lastV) return 0;
    return n;
}

uint64_t TriangleCount(const TKGLModel& m) {
    const int32_t lastV = LastSlot(m.vertices, m.vCount);
    uint64_t count = 0;
    ForEachFace(m, 1, [&](const TGroup&, int32_t, const TFace& f, int32_t) {
        const uint32_t n = TriangleCorners(f, lastV);
        if (n) count += n - 2;
    });
    return count;
}

// Calls triangle(group, a, b, c) for every triangle of the fans of those faces, group by
// group, in order.
template <class F>
void ForEachTriangle(const TKGLModel& m, F&& triangle) {
    const int32_t lastV = LastSlot(m.vertices, m.vCount);
    uint64_t faces = 0;
    TProgressMeter meter(static_cast<uint64_t>(std::max(m.fCount, 0)), kFacesPerReport);
    ForEachFace(m, 1, [&](const TGroup&, int32_t g, const TFace& f, int32_t) {
        meter.At(++faces);
        const uint32_t n = TriangleCorners(f, lastV);
        for (uint32_t k = 1; k + 1 < n; ++k)
            triangle(g, m.vertices[static_cast<size_t>(f.vIdx[0])], m.vertices[static_cast<size_t>(f.vIdx[k])],
                     m.vertices[static_cast<size_t>(f.vIdx[k + 1])]);
    });
}

// The facet normal STL keeps: the unit normal of the triangle's plane, turned as its
// corners run (0 for a triangle without area).
std::array<float, 3> FacetNormal(const TVertex& a, const TVertex& b, const TVertex& c) {
    const double u[3] = {double(b.x) - a.x, double(b.y) - a.y, double(b.z) - a.z};
    const double v[3] = {double(c.x) - a.x, double(c.y) - a.y, double(c.z) - a.z};
    const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(length > 0) || !std::isfinite(length)) return {0, 0, 0};
    return {float(n[0] / length), float(n[1] / length), float(n[2] / length)};
}

// A solid's name as the text form reads it back: up to the first blank.
std::string SolidName(const std::string& name) {
    std::string out = name;
    for (char& c : out)
        if (c == ' ' || c == '\t' || static_cast<unsigned char>(c) < 0x20) c = '_';
    return out;
}

void WriteSTL(const TKGLModel& m, bool ascii, TOutput& out) {
    if (ascii) {
        int32_t open = -1;
        auto close = [&] {
            if (open < 0) return;
            out.Text("endsolid ");
            out.Text(SolidName(SlotOrZero(m.groups, open).name));
            out.Char('\n');
        };
        // one solid a group that has triangles
        ForEachTriangle(m, [&](int32_t g, const TVertex& a, const TVertex& b, const TVertex& c) {
            if (g != open) {
                close();
                open = g;
                out.Text("solid ");
                out.Text(SolidName(m.groups[static_cast<size_t>(g)].name));
                out.Char('\n');
            }
            const auto n = FacetNormal(a, b, c);
            out.Text("facet normal ");
            Reals(out, {n[0], n[1], n[2]});
            out.Text("\n outer loop\n");
            for (const TVertex* p : {&a, &b, &c}) {
                out.Text("  vertex ");
                Reals(out, {p->x, p->y, p->z});
                out.Char('\n');
            }
            out.Text(" endloop\nendfacet\n");
        });
        close();
        out.Flush();
        return;
    }
    const uint64_t triangles = TriangleCount(m);
    if (triangles > UINT32_MAX) throw ERangeError("The model has more triangles than binary STL can count");
    std::string header = "KGL model editor, binary STL";  // never "solid": the text form starts so
    header.resize(80, ' ');
    out.Text(header);
    out.U32(static_cast<uint32_t>(triangles));
    ForEachTriangle(m, [&](int32_t, const TVertex& a, const TVertex& b, const TVertex& c) {
        const auto n = FacetNormal(a, b, c);
        for (const float v : n) out.F32(v);
        for (const TVertex* p : {&a, &b, &c}) {
            out.F32(p->x);
            out.F32(p->y);
            out.F32(p->z);
        }
        out.Zeros(2);
    });
    out.Flush();
}

void WritePLY(const TKGLModel& m, bool ascii, TOutput& out) {
    TWriteLayout layout;
    layout.attributes = TWriteLayout::kEverywhere;  // one vertex element
    layout.attributeIndices = false;
    const TGeometry g = GeometryToWrite(m, layout);
    // every face alike: what the first has, they all have
    const bool normals = !g.faces.empty() && (g.faces[0] & kFaceHasNormals),
               tex = !g.faces.empty() && (g.faces[0] & kFaceHasTexCoords);
    const size_t vertices = g.positions.size() / 3;
    uint32_t most = 0;
    for (const uint32_t w : g.faces) most = std::max(most, w & kFaceCornerBits);
    out.Text(ascii ? "ply\nformat ascii 1.0\n" : "ply\nformat binary_little_endian 1.0\n");
    out.Text("comment written by the KGL model editor\nelement vertex ");
    Int(out, static_cast<int64_t>(vertices));
    out.Text("\nproperty float x\nproperty float y\nproperty float z\n");
    if (normals) out.Text("property float nx\nproperty float ny\nproperty float nz\n");
    if (tex) out.Text("property float s\nproperty float t\n");
    out.Text("element face ");
    Int(out, static_cast<int64_t>(g.faces.size()));
    out.Text(most > 255 ? "\nproperty list uint int vertex_indices\nend_header\n"
                        : "\nproperty list uchar int vertex_indices\nend_header\n");
    TProgressMeter meter(vertices + g.faces.size(), kFacesPerReport);
    uint64_t done = 0;
    for (size_t v = 0; v < vertices; ++v) {
        meter.At(++done);
        const float* p = &g.positions[3 * v];
        const float* n = &g.normals[3 * v];
        const float* t = &g.texCoords[2 * v];
        if (ascii) {
            Reals(out, {p[0], p[1], p[2]});
            if (normals) {
                out.Char(' ');
                Reals(out, {n[0], n[1], n[2]});
            }
            if (tex) {
                out.Char(' ');
                Reals(out, {t[0], t[1]});
            }
            out.Char('\n');
            continue;
        }
        for (int k = 0; k < 3; ++k) out.F32(p[k]);
        if (normals)
            for (int k = 0; k < 3; ++k) out.F32(n[k]);
        if (tex)
            for (int k = 0; k < 2; ++k) out.F32(t[k]);
    }
    size_t at = 0;
    for (const uint32_t w : g.faces) {
        meter.At(++done);
        const uint32_t n = w & kFaceCornerBits;
        if (ascii) {
            Int(out, n);
            for (uint32_t c = 0; c < n; ++c) {
                out.Char(' ');
                Int(out, g.vIdx[at + c] - 1);
            }
            out.Char('\n');
        } else {
            if (most > 255)
                out.U32(n);
            else
                out.U8(static_cast<uint8_t>(n));
            for (uint32_t c = 0; c < n; ++c) out.I32(g.vIdx[at + c] - 1);
        }
        at += n;
    }
    out.Flush();
}

void WriteOFF(const TKGLModel& m, TOutput& out) {
    TWriteLayout layout;
    layout.attributes = TWriteLayout::kNone;
    layout.attributeIndices = false;
    const TGeometry g = GeometryToWrite(m, layout);
    const size_t vertices = g.positions.size() / 3;
    out.Text("OFF\n");
    Int(out, static_cast<int64_t>(vertices));
    out.Char(' ');
    Int(out, static_cast<int64_t>(g.faces.size()));
    out.Text(" 0\n");
    TProgressMeter meter(vertices + g.faces.size(), kFacesPerReport);
    uint64_t done = 0;
    for (size_t v = 0; v < vertices; ++v) {
        meter.At(++done);
        Reals(out, {g.positions[3 * v], g.positions[3 * v + 1], g.positions[3 * v + 2]});
        out.Char('\n');
    }
    size_t at = 0;
    for (const uint32_t w : g.faces) {
        meter.At(++done);
        const uint32_t n = w & kFaceCornerBits;
        Int(out, n);
        for (uint32_t c = 0; c < n; ++c) {
            out.Char(' ');
            Int(out, g.vIdx[at + c] - 1);
        }
        out.Char('\n');
        at += n;
    }
    out.Flush();
}

template <class Write>
void ToFile(const std::string& fileName, Write&& write) {
    TSafeFile file(fileName);
    TOutput out(file.File(), fileName);
    write(out);
    file.Commit();
}

template <class Write>
std::string ToBytes(Write&& write) {
    std::string bytes;
    TOutput out(bytes);
    write(out);
    return bytes;
}

}  // namespace

void SaveToSTL(const TKGLModel& model, const std::string& fileName, bool ascii) {
    ToFile(fileName, [&](TOutput& out) { WriteSTL(model, ascii, out); });
}
std::string SaveToSTLBytes(const TKGLModel& model, bool ascii) {
    return ToBytes([&](TOutput& out) { WriteSTL(model, ascii, out); });
}
void SaveToPLY(const TKGLModel& model, const std::string& fileName, bool ascii) {
    ToFile(fileName, [&](TOutput& out) { WritePLY(model, ascii, out); });
}
std::string SaveToPLYBytes(const TKGLModel& model, bool ascii) {
    return ToBytes([&](TOutput& out) { WritePLY(model, ascii, out); });
}
void SaveToOFF(const TKGLModel& model, const std::string& fileName) {
    ToFile(fileName, [&](TOutput& out) { WriteOFF(model, out); });
}
std::string SaveToOFFBytes(const TKGLModel& model) {
    return ToBytes([&](TOutput& out) { WriteOFF(model, out); });
}

}  // namespace kgl
