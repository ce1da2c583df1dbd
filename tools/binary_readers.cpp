// Binary STL and the simple binary PLY, read in place. Every read is bounded by the
// bytes there are; a header that is not of the simple form leaves the file to the
// library before anything is built.
#include "binary_readers.h"
#include "binary_load.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#include "errors.h"

namespace kgl {

namespace {

using binary::kProgressStep;
using binary::Load;

}  // namespace

TBinaryRead ReadBinarySTL(std::string_view bytes, TGeometry& geometry, const TReadProgress& progress) {
    if (bytes.size() < 84) return TBinaryRead::kNotMine;
    const uint64_t facets = Load<uint32_t>(bytes.data() + 80);
    if (facets == 0 || 84 + 50 * facets != bytes.size()) return TBinaryRead::kNotMine;
    if (3 * facets > static_cast<uint64_t>(kCountMax)) throw ERangeError("The STL file has too many facets");
    TGeometryBuilder builder;
    // a normal stands for a facet's three vertices, a position for some six of the
    // facets' vertices (a closed surface of triangles has about twice as many facets as
    // points)
    builder.BeginMesh("", "", static_cast<uint32_t>(3 * facets), true, false, facets, 3 * facets, 3, 6);
    const char* const records = bytes.data() + 84;
    auto vec3 = [](const char* p) {
        return std::array<float, 3>{Load<float>(p), Load<float>(p + 4), Load<float>(p + 8)};
    };
    // vertex k: corner k % 3 of facet k / 3, with the facet's normal
    builder.Vertices([&](uint32_t k) { return vec3(records + 50 * (k / 3) + 12 + 12 * (k % 3)); },
                     [&](uint32_t f) { return vec3(records + 50 * f); },
                     [](uint32_t) { return std::array<float, 2>{}; }, 3);
    if (progress) progress(0, facets);
    builder.ConsecutiveFaces(3, facets);
    geometry = builder.Finish();
    return TBinaryRead::kRead;
}

namespace {

// The scalar types of PLY and their sizes; 0 for a name that is none.
size_t ScalarSize(std::string_view type) {
    static const std::pair<std::string_view, size_t> types[] = {
        {"char", 1},  {"uchar", 1},   {"int8", 1},   {"uint8", 1},  {"short", 2}, {"ushort", 2},
        {"int16", 2}, {"uint16", 2},  {"int", 4},    {"uint", 4},   {"int32", 4}, {"uint32", 4},
        {"float", 4}, {"float32", 4}, {"double", 8}, {"float64", 8}};
    for (const auto& [name, size] : types)
        if (type == name) return size;
    return 0;
}

bool IsFloat(std::string_view type) { return type == "float" || type == "float32"; }
bool IsSigned(std::string_view type) {
    return type == "char" || type == "int8" || type == "short" || type == "int16" || type == "int" || type == "int32";
}

// The blank-separated words of a header line.
std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while (at < line.size()) {
        const size_t begin = line.find_first_not_of(' ', at);
        if (begin == std::string_view::npos) break;
        const size_t end = std::min(line.find(' ', begin), line.size());
        words.push_back(line.substr(begin, end - begin));
        at = end;
    }
    return words;
}

bool ParseCount(std::string_view text, uint64_t& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

struct TPlyLayout {
    uint64_t vertices = 0, faces = 0;
    size_t stride = 0;                                                                 // bytes of a vertex record
    int position[3] = {-1, -1, -1}, normal[3] = {-1, -1, -1}, texCoord[2] = {-1, -1};  // byte offsets
    size_t countSize = 0;                                                              // bytes of a face list's count
    bool countSigned = false;
    size_t dataStart = 0;
};

// The header of the simple form; false when the file is of another form.
bool ParsePlyHeader(std::string_view bytes, TPlyLayout& layout) {
    const size_t end = bytes.find("end_header", 0);
    if (end == std::string_view::npos || end > 64 * 1024) return false;
    size_t lineEnd = bytes.find('\n', end);
    if (lineEnd == std::string_view::npos) return false;
    layout.dataStart = lineEnd + 1;
    std::string_view header = bytes.substr(0, end);
    std::vector<std::vector<std::string_view>> lines;
    while (!header.empty()) {
        const size_t nl = std::min(header.find('\n'), header.size());
        std::string_view line = header.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(Words(line));
        header.remove_prefix(std::min(nl + 1, header.size()));
    }
    if (bytes.substr(end, lineEnd - end) != "end_header" && bytes.substr(end, lineEnd - end) != "end_header\r")
        return false;
    enum { kStart, kFormat, kVertex, kFace, kDone } at = kStart;
    bool faceList = false;
    for (const auto& w : lines) {
        if (at == kStart) {
            if (w.size() != 1 || w[0] != "ply") return false;
            at = kFormat;
            continue;
        }
        if (!w.empty() && (w[0] == "comment" || w[0] == "obj_info")) continue;
        if (at == kFormat) {
            if (w.size() != 3 || w[0] != "format" || w[1] != "binary_little_endian" || w[2] != "1.0") return false;
            at = kVertex;
            continue;
        }
        if (w.size() == 3 && w[0] == "element") {
            uint64_t count = 0;
            if (!ParseCount(w[2], count) || count == 0) return false;
            if (at == kVertex && layout.stride == 0 && w[1] == "vertex" && layout.vertices == 0) {
                layout.vertices = count;
            } else if (at == kVertex && layout.vertices > 0 && w[1] == "face") {
                layout.faces = count;
                at = kFace;
            } else {
                return false;  // another element, or the two in another order
            }
            continue;
        }
        if (at == kVertex && layout.vertices > 0 && w.size() == 3 && w[0] == "property") {
            const size_t size = ScalarSize(w[1]);
            if (size == 0) return false;
            const std::string_view name = w[2];
            const int offset = static_cast<int>(layout.stride);
            auto take = [&](int& slot) {
                if (slot >= 0 || !IsFloat(w[1])) return false;
                slot = offset;
                return true;
            };
            bool ok = true;
            if (name == "x")
                ok = take(layout.position[0]);
            else if (name == "y")
                ok = take(layout.position[1]);
            else if (name == "z")
                ok = take(layout.position[2]);
            else if (name == "nx")
                ok = take(layout.normal[0]);
            else if (name == "ny")
                ok = take(layout.normal[1]);
            else if (name == "nz")
                ok = take(layout.normal[2]);
            else if (name == "u" || name == "s")
                ok = take(layout.texCoord[0]);
            else if (name == "v" || name == "t")
                ok = take(layout.texCoord[1]);
            else if (name != "red" && name != "green" && name != "blue" && name != "alpha" && name != "r" &&
                     name != "g" && name != "b" && name != "a")
                ok = false;
            if (!ok) return false;
            layout.stride += size;
            if (layout.stride > 4096) return false;
            continue;
        }
        if (at == kFace && !faceList && w.size() == 5 && w[0] == "property" && w[1] == "list" &&
            (w[4] == "vertex_indices" || w[4] == "vertex_index") &&
            (w[3] == "int" || w[3] == "uint" || w[3] == "int32" || w[3] == "uint32")) {
            layout.countSize = ScalarSize(w[2]);
            layout.countSigned = IsSigned(w[2]);
            if (layout.countSize == 0 || IsFloat(w[2]) || layout.countSize == 8) return false;
            faceList = true;
            continue;
        }
        return false;
    }
    if (at != kFace || !faceList) return false;
    for (const int p : layout.position)
        if (p < 0) return false;
    const bool normals = layout.normal[0] >= 0, texCoords = layout.texCoord[0] >= 0;
    for (const int n : layout.normal)
        if ((n >= 0) != normals) return false;
    if ((layout.texCoord[1] >= 0) != texCoords) return false;
    return true;
}

uint64_t ListCount(const char* p, const TPlyLayout& layout) {
    int64_t n = 0;
    switch (layout.countSize) {
        case 1:
            n = layout.countSigned ? Load<int8_t>(p) : Load<uint8_t>(p);
            break;
        case 2:
            n = layout.countSigned ? Load<int16_t>(p) : Load<uint16_t>(p);
            break;
        default:
            n = layout.countSigned ? Load<int32_t>(p) : Load<uint32_t>(p);
            break;
    }
    if (n < 0) throw EReadError("A face of the PLY file has a negative corner count");
    return static_cast<uint64_t>(n);
}

}  // namespace

TBinaryRead ReadBinaryPLY(std::string_view bytes, TGeometry& geometry, TSceneSkipped& skipped,
                          const TReadProgress& progress) {
    TPlyLayout layout;
    if (!ParsePlyHeader(bytes, layout)) return TBinaryRead::kNotMine;
    if (layout.vertices > static_cast<uint64_t>(kCountMax) || layout.faces > static_cast<uint64_t>(kCountMax))
        throw ERangeError("The PLY file has too many vertices or faces");
    const uint64_t vertexBytes = layout.vertices * layout.stride;
    if (bytes.size() - layout.dataStart < vertexBytes) throw EReadError("The PLY file ends inside its vertices");
    const bool normals = layout.normal[0] >= 0, texCoords = layout.texCoord[0] >= 0;
    TGeometryBuilder builder;
    // room for the faces the header counts, as far as the bytes after the vertices can hold them
    const uint64_t faceBytes = bytes.size() - layout.dataStart - vertexBytes;
    const uint64_t faces = std::min<uint64_t>(layout.faces, faceBytes / (layout.countSize + 12));
    builder.BeginMesh("", "", static_cast<uint32_t>(layout.vertices), normals, texCoords, faces, 3 * faces);
    const char* v = bytes.data() + layout.dataStart;
    auto f3 = [](const char* r, const int* at) {
        return std::array<float, 3>{Load<float>(r + at[0]), Load<float>(r + at[1]), Load<float>(r + at[2])};
    };
    builder.Vertices(
        [&](uint32_t i) { return f3(v + uint64_t(i) * layout.stride, layout.position); },
        [&](uint32_t i) { return f3(v + uint64_t(i) * layout.stride, layout.normal); },
        [&](uint32_t i) {
            const char* r = v + uint64_t(i) * layout.stride;
            return std::array<float, 2>{Load<float>(r + layout.texCoord[0]), Load<float>(r + layout.texCoord[1])};
        });
    v += vertexBytes;
    const char* p = v;
    const char* const end = bytes.data() + bytes.size();
    std::vector<uint32_t> corners;
    for (uint64_t f = 0; f < layout.faces; ++f) {
        if (static_cast<size_t>(end - p) < layout.countSize) throw EReadError("The PLY file ends inside its faces");
        const uint64_t n = ListCount(p, layout);
        p += layout.countSize;
        if (static_cast<uint64_t>(end - p) / 4 < n) throw EReadError("The PLY file ends inside its faces");
        if (n == 0) {
            // a face without corners: nothing, as the mapping takes it
        } else if (n < 3) {
            ++(n == 2 ? skipped.lines : skipped.points);
        } else {
            corners.resize(n);
            std::memcpy(corners.data(), p, 4 * n);
            builder.Face(corners.data(), static_cast<uint32_t>(n));
        }
        p += 4 * n;
        if (progress && f % kProgressStep == 0) progress(f, layout.faces);
    }
    geometry = builder.Finish();
    return TBinaryRead::kRead;
}

}  // namespace kgl
