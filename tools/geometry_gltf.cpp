// The geometry as glTF 2.0: the tables of each group copied into one buffer, described
// by tinygltf's model of the format and written by its serialiser.
#include "geometry_gltf.h"

#include <tiny_gltf.h>

#include <cstring>
#include <vector>

#include "errors.h"
#include "utf8.h"

namespace kgl {

namespace {

// Tables into the model's one buffer: each in a buffer view of its own, described by an
// accessor.
class TGltfBuilder {
public:
    explicit TGltfBuilder(tinygltf::Model& m) : m_(m) { m_.buffers.resize(1); }

    template <class T>
    int View(const std::vector<T>& values, int target) {
        std::vector<unsigned char>& data = m_.buffers[0].data;
        tinygltf::BufferView view;
        view.buffer = 0;
        view.byteOffset = data.size();
        view.byteLength = values.size() * sizeof(T);
        view.target = target;
        data.resize(data.size() + view.byteLength);
        std::memcpy(data.data() + view.byteOffset, values.data(), view.byteLength);
        m_.bufferViews.push_back(view);
        return static_cast<int>(m_.bufferViews.size() - 1);
    }

    int Accessor(int view, int componentType, size_t count, int type, std::vector<double> min = {},
                 std::vector<double> max = {}) {
        tinygltf::Accessor a;
        a.bufferView = view;
        a.componentType = componentType;
        a.count = count;
        a.type = type;
        a.minValues = std::move(min);
        a.maxValues = std::move(max);
        m_.accessors.push_back(std::move(a));
        return static_cast<int>(m_.accessors.size() - 1);
    }

private:
    tinygltf::Model& m_;
};

// The mesh of the group's faces [firstFace, firstFace + faces), corners from corner.
tinygltf::Mesh MeshOf(const TGeometryView& g, const std::string& name, uint64_t firstFace, uint32_t faces,
                      uint64_t corner, std::vector<uint32_t>& local, TGltfBuilder& out) {
    const uint32_t word = g.faces[firstFace];
    const bool normals = word & kFaceHasNormals, tex = word & kFaceHasTexCoords;
    std::vector<uint32_t> used, indices;
    indices.reserve(uint64_t(faces) * 3);
    for (uint64_t c = corner, end = corner + uint64_t(faces) * 3; c < end; ++c) {
        const auto v = static_cast<uint32_t>(g.vIdx[c] - 1);
        if (local[v] == 0) {
            used.push_back(v);
            local[v] = static_cast<uint32_t>(used.size());
        }
        indices.push_back(local[v] - 1);
    }
    for (const uint32_t v : used) local[v] = 0;  // ready for the next group

    std::vector<float> positions, values;
    positions.reserve(used.size() * 3);
    std::vector<double> lo(3, 0), hi(3, 0);
    for (size_t i = 0; i < used.size(); ++i)
        for (int a = 0; a < 3; ++a) {
            const float x = g.positions[3 * size_t(used[i]) + a];
            positions.push_back(x);
            lo[a] = i == 0 || x < lo[a] ? x : lo[a];
            hi[a] = i == 0 || x > hi[a] ? x : hi[a];
        }
    tinygltf::Primitive primitive;
    primitive.mode = TINYGLTF_MODE_TRIANGLES;
    primitive.material = 0;
    primitive.attributes["POSITION"] =
        out.Accessor(out.View(positions, TINYGLTF_TARGET_ARRAY_BUFFER), TINYGLTF_COMPONENT_TYPE_FLOAT, used.size(),
                     TINYGLTF_TYPE_VEC3, lo, hi);
    if (normals) {
        values.clear();
        for (const uint32_t v : used)
            for (int a = 0; a < 3; ++a) values.push_back(g.normals[3 * size_t(v) + a]);
        primitive.attributes["NORMAL"] = out.Accessor(out.View(values, TINYGLTF_TARGET_ARRAY_BUFFER),
                                                      TINYGLTF_COMPONENT_TYPE_FLOAT, used.size(), TINYGLTF_TYPE_VEC3);
    }
    if (tex) {
        values.clear();
        for (const uint32_t v : used) {
            values.push_back(g.texCoords[2 * size_t(v)]);
            values.push_back(1.0f - g.texCoords[2 * size_t(v) + 1]);
        }
        primitive.attributes["TEXCOORD_0"] =
            out.Accessor(out.View(values, TINYGLTF_TARGET_ARRAY_BUFFER), TINYGLTF_COMPONENT_TYPE_FLOAT, used.size(),
                         TINYGLTF_TYPE_VEC2);
    }
    primitive.indices = out.Accessor(out.View(indices, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER),
                                     TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT, indices.size(), TINYGLTF_TYPE_SCALAR);
    tinygltf::Mesh mesh;
    mesh.name = NameAsUtf8(name);
    mesh.primitives.push_back(std::move(primitive));
    return mesh;
}

}  // namespace

void GeometryToGltf(const TGeometryView& g, bool binary, std::ostream& bytes) {
    tinygltf::Model m;
    m.asset.version = "2.0";
    m.asset.generator = "KGL model editor";
    tinygltf::Material material;
    material.name = "default";
    m.materials.push_back(material);
    TGltfBuilder out(m);
    // room for every table once (a vertex in two groups is in each: more, seldom)
    m.buffers[0].data.reserve(g.positions.size() / 3 * 32 + g.vIdx.size() * 4);
    std::vector<uint32_t> local(g.positions.size() / 3, 0);
    tinygltf::Scene scene;
    uint64_t face = 0, corner = 0;
    for (const TGeometry::TPart& part : g.groups) {
        if (part.faces > 0) {
            m.meshes.push_back(MeshOf(g, part.name, face, part.faces, corner, local, out));
            tinygltf::Node node;
            node.name = m.meshes.back().name;
            node.mesh = static_cast<int>(m.meshes.size() - 1);
            m.nodes.push_back(std::move(node));
            scene.nodes.push_back(static_cast<int>(m.nodes.size() - 1));
        }
        face += part.faces;
        corner += uint64_t(part.faces) * 3;
    }
    m.scenes.push_back(std::move(scene));
    m.defaultScene = 0;
    tinygltf::TinyGLTF writer;
    if (!writer.WriteGltfSceneToStream(&m, bytes, false, binary) || !bytes.flush())
        throw EInOutError("The glTF writer refused the model");
}

}  // namespace kgl
