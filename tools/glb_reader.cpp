// The simple GLB, read in place: the JSON chunk through nlohmann::json (Debian's
// nlohmann-json3-dev), the numbers straight from the mapped BIN chunk. The whole file is
// checked against the simple form before anything is built; whatever the form does not
// cover leaves the file to the library, which then reads it (or says why it cannot).
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "binary_load.h"
#include "binary_readers.h"
#include "errors.h"
#include "scene_model.h"

namespace kgl {

namespace {

using nlohmann::json;

constexpr uint32_t kGlbMagic = 0x46546C67;   // "glTF"
constexpr uint32_t kJsonChunk = 0x4E4F534A;  // "JSON"
constexpr uint32_t kBinChunk = 0x004E4942;   // "BIN\0"
// the library keeps a name of at most 1023 bytes; longer ones are left to it
constexpr size_t kNameMax = 1000;

using binary::kProgressStep;
using binary::Load;

// The form's way of saying no: the file goes to the library.
struct TNotSimple {};
[[noreturn]] void NotSimple() { throw TNotSimple{}; }

const json* Member(const json& object, const char* key) {
    if (!object.is_object()) NotSimple();
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

// An index or size: a JSON integer of 0 or more (a fraction, a sign or a string is no index).
uint64_t Unsigned(const json& value, uint64_t below = UINT64_MAX) {
    if (!value.is_number_unsigned()) NotSimple();
    const uint64_t v = value.get<uint64_t>();
    if (v >= below) NotSimple();
    return v;
}
uint64_t UnsignedOr(const json& object, const char* key, uint64_t absent, uint64_t below = UINT64_MAX) {
    const json* v = Member(object, key);
    return v ? Unsigned(*v, below) : absent;
}

const json& Array(const json& object, const char* key) {
    static const json empty = json::array();
    const json* v = Member(object, key);
    if (!v) return empty;
    if (!v->is_array()) NotSimple();
    return *v;
}

// A name as the library takes it: an absent one is empty.
std::string NameOf(const json& object) {
    const json* v = Member(object, "name");
    if (!v) return {};
    if (!v->is_string()) NotSimple();
    const std::string& name = v->get_ref<const std::string&>();
    if (name.size() > kNameMax || name.find('\0') != std::string::npos) NotSimple();
    return name;
}

// Only the members of keys, for an object whose other members could change the geometry.
void OnlyKeys(const json& object, std::initializer_list<const char*> keys) {
    for (auto it = object.begin(); it != object.end(); ++it)
        if (std::none_of(keys.begin(), keys.end(), [&](const char* k) { return it.key() == k; })) NotSimple();
}

// The numbers of an array member of n floats, or nullopt where there is none.
std::optional<std::vector<float>> Floats(const json& object, const char* key, size_t n) {
    const json* v = Member(object, key);
    if (!v) return std::nullopt;
    if (!v->is_array() || v->size() != n) NotSimple();
    std::vector<float> out;
    for (const json& x : *v) {
        if (!x.is_number()) NotSimple();
        out.push_back(x.get<float>());
    }
    return out;
}

// A node's transform as the library makes it: its matrix (stored by columns), else
// translation x rotation x scale, each where given.
aiMatrix4x4 NodeTransform(const json& node) {
    aiMatrix4x4 m;
    if (const auto v = Floats(node, "matrix", 16)) {
        const std::vector<float>& c = *v;
        m = aiMatrix4x4(c[0], c[4], c[8], c[12], c[1], c[5], c[9], c[13], c[2], c[6], c[10], c[14], c[3], c[7], c[11],
                        c[15]);
        return m;
    }
    if (const auto t = Floats(node, "translation", 3)) {
        aiMatrix4x4 step;
        aiMatrix4x4::Translation(aiVector3D((*t)[0], (*t)[1], (*t)[2]), step);
        m = m * step;
    }
    if (const auto r = Floats(node, "rotation", 4)) {
        const aiQuaternion q((*r)[3], (*r)[0], (*r)[1], (*r)[2]);
        m = m * aiMatrix4x4(q.GetMatrix());
    }
    if (const auto s = Floats(node, "scale", 3)) {
        aiMatrix4x4 step;
        aiMatrix4x4::Scaling(aiVector3D((*s)[0], (*s)[1], (*s)[2]), step);
        m = m * step;
    }
    return m;
}

// An accessor's elements in the BIN chunk: where the first starts and the step to the next.
struct TView {
    const char* first = nullptr;
    uint64_t stride = 0, count = 0;
    uint32_t componentType = 0;
    const char* at(uint64_t i) const { return first + i * stride; }
};

struct TFile {
    const json& root;
    std::string_view bin;  // the BIN chunk, as far as buffer 0 reaches

    // Accessor `index` of the type and one of the component types asked for, every
    // element within its buffer view and the view within the buffer.
    TView Accessor(const json& index, const char* type, std::initializer_list<uint32_t> componentTypes) const {
        const json& accessors = Array(root, "accessors");
        const json& a = accessors[Unsigned(index, accessors.size())];
        OnlyKeys(a, {"bufferView", "byteOffset", "componentType", "normalized", "count", "type", "max", "min", "name",
                     "extras"});
        const json* t = Member(a, "type");
        if (!t || !t->is_string() || *t != type) NotSimple();
        const json* normalized = Member(a, "normalized");
        if (normalized && (!normalized->is_boolean() || normalized->get<bool>())) NotSimple();
        TView view;
        view.componentType = static_cast<uint32_t>(UnsignedOr(a, "componentType", 0));
        if (std::find(componentTypes.begin(), componentTypes.end(), view.componentType) == componentTypes.end())
            NotSimple();
        const uint64_t componentSize = view.componentType == 5121 ? 1 : view.componentType == 5123 ? 2 : 4;
        const uint64_t elementSize = componentSize * (std::strcmp(type, "VEC3") == 0   ? 3
                                                      : std::strcmp(type, "VEC2") == 0 ? 2
                                                                                       : 1);
        view.count = UnsignedOr(a, "count", 0, uint64_t(1) << 32);
        if (view.count == 0) NotSimple();
        const json* bv = Member(a, "bufferView");
        if (!bv) NotSimple();  // an accessor of zeros
        const json& views = Array(root, "bufferViews");
        const json& v = views[Unsigned(*bv, views.size())];
        OnlyKeys(v, {"buffer", "byteOffset", "byteLength", "byteStride", "target", "name", "extras"});
        if (UnsignedOr(v, "buffer", 1) != 0) NotSimple();
        const uint64_t viewOffset = UnsignedOr(v, "byteOffset", 0, uint64_t(1) << 40);
        const uint64_t viewLength = UnsignedOr(v, "byteLength", 0, uint64_t(1) << 40);
        view.stride = UnsignedOr(v, "byteStride", elementSize, 256);
        if (view.stride < elementSize) NotSimple();
        if (std::strcmp(type, "SCALAR") == 0 && view.stride != elementSize) NotSimple();  // indices lie tight
        const uint64_t offset = UnsignedOr(a, "byteOffset", 0, uint64_t(1) << 40);
        if (viewOffset + viewLength > bin.size()) NotSimple();
        if (offset + view.stride * (view.count - 1) + elementSize > viewLength) NotSimple();
        view.first = bin.data() + viewOffset + offset;
        return view;
    }
};

// One primitive, as the library makes a mesh of it.
struct TPrimitive {
    std::string name;  // the mesh's name (its place where it has none), "-P" after it for one of several
    TView positions, normals, texCoords, indices;
    bool hasNormals = false, hasTexCoords = false, indexed = false;
    uint64_t faces = 0;
};

uint32_t IndexAt(const TView& v, uint64_t i) {
    const char* p = v.at(i);
    switch (v.componentType) {
        case 5121:
            return Load<uint8_t>(p);
        case 5123:
            return Load<uint16_t>(p);
        default:
            return Load<uint32_t>(p);
    }
}

TPrimitive PrimitiveOf(const TFile& file, const json& primitive, std::string name) {
    OnlyKeys(primitive, {"attributes", "indices", "mode", "material", "targets", "extras"});
    if (UnsignedOr(primitive, "mode", 4) != 4) NotSimple();  // triangles only
    TPrimitive p;
    p.name = std::move(name);
    const json* attributes = Member(primitive, "attributes");
    if (!attributes || !attributes->is_object()) NotSimple();
    const json* position = Member(*attributes, "POSITION");
    if (!position) NotSimple();
    p.positions = file.Accessor(*position, "VEC3", {5126});
    if (p.positions.count > static_cast<uint64_t>(kCountMax)) NotSimple();
    if (const json* normal = Member(*attributes, "NORMAL")) {
        p.normals = file.Accessor(*normal, "VEC3", {5126});
        p.hasNormals = true;
    }
    if (const json* texCoord = Member(*attributes, "TEXCOORD_0")) {
        p.texCoords = file.Accessor(*texCoord, "VEC2", {5126});
        p.hasTexCoords = true;
    }
    if ((p.hasNormals && p.normals.count != p.positions.count) ||
        (p.hasTexCoords && p.texCoords.count != p.positions.count))
        NotSimple();
    uint64_t corners = p.positions.count;
    if (const json* indices = Member(primitive, "indices")) {
        p.indices = file.Accessor(*indices, "SCALAR", {5121, 5123, 5125});
        p.indexed = true;
        corners = p.indices.count;
        uint32_t largest = 0;
        for (uint64_t i = 0; i < corners; ++i) largest = std::max(largest, IndexAt(p.indices, i));
        if (largest >= p.positions.count) NotSimple();
    }
    if (corners < 3 || corners % 3 != 0) NotSimple();
    p.faces = corners / 3;
    return p;
}

// The meshes the library makes of the file, one a primitive, in its order; first[m] is
// where mesh m's start.
void Primitives(const TFile& file, std::vector<TPrimitive>& out, std::vector<size_t>& first) {
    const json& meshes = Array(file.root, "meshes");
    for (size_t m = 0; m < meshes.size(); ++m) {
        OnlyKeys(meshes[m], {"primitives", "name", "extras"});
        const std::string own = NameOf(meshes[m]);
        const std::string name = own.empty() ? "meshes[" + std::to_string(m) + "]" : own;
        const json& primitives = Array(meshes[m], "primitives");
        if (primitives.empty()) NotSimple();
        first.push_back(out.size());
        for (size_t p = 0; p < primitives.size(); ++p)
            out.push_back(
                PrimitiveOf(file, primitives[p], primitives.size() > 1 ? name + "-" + std::to_string(p) : name));
    }
    first.push_back(out.size());
}

// A primitive reached through a node, under that node's name and transforms.
struct TUse {
    size_t primitive;
    std::string groupName;
    aiMatrix4x4 transform;
};

void Walk(const json& nodes, size_t cameras, uint64_t index, const aiMatrix4x4& parent,
          const std::vector<size_t>& first, std::vector<uint8_t>& seen, std::vector<TUse>& uses, int depth) {
    if (depth > 1000 || seen[index]) NotSimple();  // nested too deep, or a node in two places
    seen[index] = 1;
    const json& node = nodes[index];
    OnlyKeys(node, {"name", "mesh", "camera", "children", "matrix", "translation", "rotation", "scale", "extras"});
    if (const json* camera = Member(node, "camera")) Unsigned(*camera, cameras);
    const aiMatrix4x4 transform = parent * NodeTransform(node);
    const std::string own = NameOf(node);
    const std::string name = own.empty() ? "nodes[" + std::to_string(index) + "]" : own;
    if (const json* mesh = Member(node, "mesh")) {
        const uint64_t m = Unsigned(*mesh, first.size() - 1);
        for (size_t p = first[m]; p < first[m + 1]; ++p) uses.push_back({p, name, transform});
    }
    for (const json& child : Array(node, "children"))
        Walk(nodes, cameras, Unsigned(child, nodes.size()), transform, first, seen, uses, depth + 1);
}

void Build(const std::vector<TPrimitive>& primitives, const std::vector<TUse>& uses, TGeometry& geometry,
           const TReadProgress& progress) {
    uint64_t total = 0, done = 0;
    for (const TUse& use : uses) total += primitives[use.primitive].faces;
    TGeometryBuilder builder;
    for (const TUse& use : uses) {
        const TPrimitive& p = primitives[use.primitive];
        auto f3 = [](const char* at) { return aiVector3D(Load<float>(at), Load<float>(at + 4), Load<float>(at + 8)); };
        const TInstanceTransform move(use.transform);
        builder.BeginMesh(use.groupName, p.name, static_cast<uint32_t>(p.positions.count), p.hasNormals, p.hasTexCoords,
                          p.faces, 3 * p.faces);
        builder.Vertices([&](uint32_t i) { return move.Position(f3(p.positions.at(i))); },
                         [&](uint32_t i) { return move.Normal(f3(p.normals.at(i))); },
                         [&](uint32_t i) {
                             const char* at = p.texCoords.at(i);
                             return std::array<float, 2>{Load<float>(at), 1 - Load<float>(at + 4)};  // v flipped
                         });
        if (!p.indexed) {
            builder.ConsecutiveFaces(3, p.faces);
            done += p.faces;
            if (progress) progress(done, total);
            continue;
        }
        for (uint64_t f = 0; f < p.faces; ++f) {
            const uint32_t corners[3] = {IndexAt(p.indices, 3 * f), IndexAt(p.indices, 3 * f + 1),
                                         IndexAt(p.indices, 3 * f + 2)};
            builder.Face(corners, 3);
            if (progress && ++done % kProgressStep == 0) progress(done, total);
        }
    }
    geometry = builder.Finish();
}

}  // namespace

TBinaryRead ReadBinaryGLB(std::string_view bytes, TGeometry& geometry, const TReadProgress& progress) {
    if (bytes.size() < 20 || Load<uint32_t>(bytes.data()) != kGlbMagic || Load<uint32_t>(bytes.data() + 4) != 2 ||
        Load<uint32_t>(bytes.data() + 8) != bytes.size() || Load<uint32_t>(bytes.data() + 16) != kJsonChunk)
        return TBinaryRead::kNotMine;
    const uint64_t jsonLength = Load<uint32_t>(bytes.data() + 12);
    if (20 + jsonLength > bytes.size()) return TBinaryRead::kNotMine;
    std::string_view bin;
    const uint64_t binAt = 20 + jsonLength;
    if (binAt != bytes.size()) {
        if (bytes.size() - binAt < 8 || Load<uint32_t>(bytes.data() + binAt + 4) != kBinChunk)
            return TBinaryRead::kNotMine;
        const uint64_t binLength = Load<uint32_t>(bytes.data() + binAt);
        if (binAt + 8 + binLength != bytes.size()) return TBinaryRead::kNotMine;
        bin = bytes.substr(binAt + 8, binLength);
    }
    const json root = json::parse(bytes.data() + 20, bytes.data() + binAt, nullptr, false);
    if (root.is_discarded() || !root.is_object()) return TBinaryRead::kNotMine;
    try {
        for (const char* key : {"extensionsRequired", "skins", "animations"})
            if (Member(root, key)) NotSimple();
        const json* asset = Member(root, "asset");
        const json* version = asset ? Member(*asset, "version") : nullptr;
        if (!version || *version != "2.0") NotSimple();
        // buffer 0 is the BIN chunk, as far as it says; no other is read
        const json& buffers = Array(root, "buffers");
        if (buffers.empty() || Member(buffers[0], "uri")) NotSimple();
        bin = bin.substr(0, std::min<uint64_t>(bin.size(), UnsignedOr(buffers[0], "byteLength", 0)));
        const TFile file{root, bin};
        std::vector<TPrimitive> primitives;
        std::vector<size_t> first;
        Primitives(file, primitives, first);
        // the scene's nodes, depth first (the library reads nothing that the scene does not
        // reach: a mesh of no node of it is not there)
        const json& scenes = Array(root, "scenes");
        const json& nodes = Array(root, "nodes");
        const json* scene = Member(root, "scene");
        if (!scene) NotSimple();
        std::vector<uint8_t> seen(nodes.size(), 0);
        std::vector<TUse> uses;
        for (const json& n : Array(scenes[Unsigned(*scene, scenes.size())], "nodes"))
            Walk(nodes, Array(root, "cameras").size(), Unsigned(n, nodes.size()), aiMatrix4x4(), first, seen, uses, 0);
        for (TUse& use : uses) use.groupName = SceneGroupName(use.groupName);
        if (uses.empty()) NotSimple();
        Build(primitives, uses, geometry, progress);
    } catch (const TNotSimple&) {
        return TBinaryRead::kNotMine;
    } catch (const json::exception&) {
        return TBinaryRead::kNotMine;
    }
    return TBinaryRead::kRead;
}

}  // namespace kgl
