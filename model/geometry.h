#pragma once
// The geometry an importer hands its caller: what a model file of another format holds
// once read and welded (positions, normals, texture coordinates, groups and faces), in
// a compact form that the caller checks as strictly as a KGM file before it builds a
// model of it. kglmodel-import builds it (TGeometryBuilder) and writes it to a
// descriptor its caller opened (WriteGeometry); the caller reads it (ReadGeometry).
//
// The form: fields of 4 bytes in the host's byte order (both ends run on one machine),
// no padding, every section 4-byte aligned:
//   header     "KGLGEOM1" (8 bytes), then vertices, normals, texCoords, groups, faces,
//              corners, texCorners, normalCorners (uint32 each): 40 bytes
//   positions  x y z (float) per vertex, vertices 1 .. count in order
//   normals    x y z per normal
//   texCoords  u v per texture coordinate
//   groups     a 56-byte record per group: its face count (uint32), its name's length
//              (1 byte, at most 50) and 51 bytes of name, zero after the name
//   faces      a word per face, group after group: the corner count (bits 0 .. 29, at
//              least 3), kFaceHasTexCoords when the face has a texture index per corner,
//              kFaceHasNormals when it has a normal index per corner
//   vIdx       an int32 per corner of every face, 1 .. vertices
//   tIdx       an int32 per corner of the faces with kFaceHasTexCoords, 1 .. texCoords
//   nIdx       an int32 per corner of the faces with kFaceHasNormals, 1 .. normals
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "KGLModel.h"
#include "weld.h"

namespace kgl {

constexpr uint32_t kFaceCornerBits = (uint32_t(1) << 30) - 1;
constexpr uint32_t kFaceHasTexCoords = uint32_t(1) << 30;
constexpr uint32_t kFaceHasNormals = uint32_t(1) << 31;
constexpr size_t kGeometryHeaderBytes = 40, kGeometryGroupBytes = 56;

struct TGeometry {
    TLargeTable<float> positions;  // 3 a vertex
    TLargeTable<float> normals;    // 3 a normal
    TLargeTable<float> texCoords;  // 2 a texture coordinate
    struct TPart {
        std::string name;  // at most kGroupNameMax bytes
        uint32_t faces = 0;
    };
    std::vector<TPart> groups;
    TLargeTable<uint32_t> faces;            // the face words
    TLargeTable<int32_t> vIdx, tIdx, nIdx;  // 1-based
};

// The bytes of geometry in the form above.
std::string GeometryBytes(const TGeometry& geometry);
// Writes them to the open descriptor fd; throws EInOutError when it refuses them.
void WriteGeometry(const TGeometry& geometry, int fd);

// Builds a model of the bytes into fresh, as an OBJ file of the same geometry loads:
// vertices with free targets, the box and the running vertex sum in vertex order, the
// faces visible, then the finishing steps of an OBJ load (FinishOBJ) and
// Reduce(fresh, 0.0). Throws EReadError when the bytes are not of the form above
// (magic, sizes that do not match the counts, a face of fewer than 3 corners, counts
// that do not add up, a name too long or with a control byte, a value that is not
// finite), ERangeError for an index outside its table; fresh is then unspecified.
void ReadGeometry(std::string_view bytes, TKGLModel& fresh);
// ReadGeometry without the finishing steps, for a caller that runs them once it has let
// go of the bytes, so that the finishing steps' tables can take the pages the bytes gave
// back.
void ReadGeometryUnfinished(std::string_view bytes, TKGLModel& fresh);
// The tables of the bytes in place, checked as ReadGeometry checks them (and throwing as
// it does), for a program that hands them on (the exporter). The bytes must stay while
// the view is used and start 4-byte aligned (a mapped file).
struct TGeometryView {
    std::span<const float> positions, normals, texCoords;
    std::vector<TGeometry::TPart> groups;
    std::span<const uint32_t> faces;
    std::span<const int32_t> vIdx, tIdx, nIdx;
};
TGeometryView ReadGeometryView(std::string_view bytes);

// How GeometryToWrite lays the model out for a format.
struct TWriteLayout {
    bool triangles = false;  // every face of more than three corners cut into a fan
    // where texture coordinates and normals go: per group (each group that has them on
    // every corner), in every group or none (one vertex table for the whole file), or
    // nowhere (positions alone)
    enum TAttributes : uint8_t { kPerGroup, kEverywhere, kNone } attributes = kPerGroup;
    // tIdx and nIdx filled, as the hand-over needs them; without, they stay empty (they
    // would repeat vIdx) and the face words alone say what the vertices have
    bool attributeIndices = true;
};
// The geometry of model as a writer of another format hands it to its library (or writes
// it itself): one vertex for every distinct (vertex, texture coordinate, normal) a corner
// names, so that one index a corner serves all three and nothing the model keeps apart
// is welded; vIdx, tIdx and nIdx of a corner are then the same number. A group has
// texture coordinates when every corner of its faces has one within the table, normals
// when every corner has one of finite, non-zero length (written as unit vectors), as the
// layout allows; faces of fewer than three corners, or with a corner that names no
// vertex, are left out; with triangles, every other face is cut into a fan from its
// first corner (n - 2 triangles, the face's orientation kept). Groups keep their order
// and names (a control byte in one as "_"), an empty one too (0 faces). Vertices are numbered in the order the corners
// first name them; the tables hold a value for every vertex (zeros where its group has
// no such attribute).
TGeometry GeometryToWrite(const TKGLModel& model, const TWriteLayout& layout);

// The importer's side: meshes in, geometry out, by this mapping:
//  - every mesh is one group, in the order added, named as given;
//  - positions are welded by exact value over all meshes, and so are normals and
//    texture coordinates, each table on its own; -0 is taken as +0; every table is numbered in
//    the order of first use by the faces' corners (groups, faces, corners in order), so
//    values no face uses are left out;
//  - normals are renormalised (n / |n| when that is a finite, non-zero length); a
//    normal or texture coordinate that is not finite becomes 0;
//  - every value is kept as an OBJ file of SaveToOBJ holds it (AsWrittenInOBJ).
// Use: BeginMesh, then Vertices with functions giving the values of each vertex
// 0 .. count - 1 of the mesh, then Face for its polygons; Finish once at the end.
class TGeometryBuilder {
public:
    // messageName names the mesh in messages (the library's name for it). The tables are
    // made ready for about vertices / share new values (share: how many of the mesh's
    // vertices one value stands for, as in STL's three vertices a facet; the positions'
    // own where positionShare is given) and faces polygons of corners in all.
    void BeginMesh(std::string groupName, std::string messageName, uint32_t vertices, bool normals, bool texCoords,
                   uint64_t faces, uint64_t corners, uint32_t share = 1, uint32_t positionShare = 0);
    // The values of the current mesh's vertices: std::array<float, 3> position(uint32_t),
    // normal(uint32_t) (renormalised here) and std::array<float, 2> texCoord(uint32_t);
    // normal and texCoord are called only when the mesh has them. The three tables are
    // welded on threads of their own when the mesh is large. With facetCorners k, the
    // vertices come as facets of k corners each, and normal(f) is facet f's for its k
    // vertices, called for the facets only (an STL file's); a corner is then first
    // compared with those of the two facets before it, which a surface's facets share.
    // Throws std::invalid_argument when k does not divide the vertices.
    template <class Position, class Normal, class TexCoord>
    void Vertices(Position&& position, Normal&& normal, TexCoord&& texCoord, uint32_t facetCorners = 0) {
        if (facetCorners != 0 && vertices_ % facetCorners != 0)
            throw std::invalid_argument("The vertices are not whole facets");
        // each table made ready on the thread that fills it, so that the system's zeroing
        // of fresh pages is shared out too
        const std::function<void()> jobs[3] = {
            [&] {
                positions_.Ready(position_, vertices_, freshPositions_);
                positions_.weld.AddMany(
                    vertices_, [&](size_t i) { return PlusZero(position(static_cast<uint32_t>(i))); },
                    Numbers(position_), facetCorners ? 2 * facetCorners : 1);
            },
            [&] {
                if (!hasNormals_) return;
                normals_.Ready(normal_, vertices_, fresh_);
                // a normal repeated from one vertex to the next is renormalised once
                std::array<float, 3> raw{}, unit = Unit(raw);
                const uint32_t run = facetCorners ? facetCorners : 1;
                normals_.weld.AddMany(
                    vertices_ / run,
                    [&](size_t i) {
                        const std::array<float, 3> n = normal(static_cast<uint32_t>(i));
                        if (std::memcmp(&n, &raw, sizeof n) != 0) {
                            raw = n;
                            unit = Unit(n);
                        }
                        return PlusZero(unit);
                    },
                    Numbers(normal_), 1, run);
            },
            [&] {
                if (!hasTexCoords_) return;
                texCoords_.Ready(texCoord_, vertices_, fresh_);
                texCoords_.weld.AddMany(
                    vertices_, [&](size_t i) { return PlusZero(Finite(texCoord(static_cast<uint32_t>(i)))); },
                    Numbers(texCoord_));
            }};
        RunTableJobs(jobs, vertices_, 1 + hasNormals_ + hasTexCoords_);
    }
    // A polygon of n >= 3 corners, each a vertex of the current mesh. Throws ERangeError
    // for a corner past the mesh's vertices or a table past 2^31 - 3 entries, EReadError
    // for a corner whose position is not finite.
    void Face(const uint32_t* corners, uint32_t n);
    // `faces` faces of n corners each over the current mesh's vertices in order (0 .. n - 1,
    // then n .. 2n - 1, and so on), as Face would add them one by one and throwing as it
    // would: an STL file's facets. Where they use every vertex and every value welded
    // before the mesh is in use, the mesh's new values are numbered in weld order, and
    // the corners take their numbers in one pass over each table. The mesh takes no
    // face after these.
    void ConsecutiveFaces(uint32_t n, uint64_t faces);
    // The geometry; EReadError when no face was added. The builder then takes nothing more.
    TGeometry Finish();

private:
    // A table welded, and its entries numbered by first use.
    template <size_t N>
    struct TTable {
        TWeld<N> weld{1024};
        TLargeTable<uint32_t> numberOf;  // weld number -> first-use number + 1 (0: unused)
        TLargeTable<uint32_t> used;      // first-use order -> weld number
        // or, while numberOf and used are empty, weld numbers 0 .. inOrder - 1 are the
        // first-use numbers 1 .. inOrder: a mesh that came first and was numbered in weld
        // order (a large STL's) writes no table for it
        uint32_t inOrder = 0;
        uint32_t before = 0;  // weld.Count() when the current mesh began
        uint32_t Used() const { return inOrder + static_cast<uint32_t>(used.size()); }
        uint32_t UsedAt(uint64_t k) const { return inOrder ? static_cast<uint32_t>(k) : used[k]; }
        bool IsUsed(uint32_t welded) const {
            return inOrder ? welded < inOrder : welded < numberOf.size() && numberOf[welded] != 0;
        }
        // numbers in weld order written out into numberOf and used, for what comes next
        void WriteOutInOrder();
        // weld numbers from .. to - 1 used next, in that order (numberOf sized to `to`)
        void UseInOrder(uint32_t from, uint32_t to);
        // numbers sized for the mesh's vertices, the weld for about `fresh` new values
        void Ready(TLargeTable<int32_t>& numbers, uint32_t vertices, uint64_t fresh) {
            numbers.assign(vertices, 0);
            // only what the table can hold: a hint is no promise
            weld.Reserve(static_cast<size_t>(std::min<uint64_t>(weld.Count() + fresh, kCountMax)));
        }
        int32_t Number(uint32_t welded, const char* what);
        // gives back what only the numbering needs (the table then takes no more values)
        void Release() {
            weld.DropPlaces();
            TLargeTable<uint32_t>().swap(numberOf);
        }
        // whether the current mesh's new values take their weld numbers + 1 as first-use numbers
        bool InWeldOrder() const { return Used() == before; }
        // corners' numbers for the weld numbers of vertices (the current mesh's, used in
        // order), appended to corners; where corners is empty, vertices becomes it (and
        // is left empty), numbered in place
        void NumberInOrder(TLargeTable<int32_t>& vertices, TLargeTable<int32_t>& corners, const char* what);
    };
    // Runs the jobs of the tables (those of the tables not there do nothing), on threads
    // of their own when the items are many.
    static void RunTableJobs(const std::function<void()> (&jobs)[3], uint64_t items, size_t tables);
    // n / |n| when that is finite and not 0, each component not finite as 0 (inline: a
    // scan's facets bring a million normals)
    static std::array<float, 3> Unit(std::array<float, 3> n) {
        const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (length > 0 && std::isfinite(length))
            for (float& c : n) c /= length;
        return Finite(n);
    }
    // EReadError naming the current mesh when the welded position is not finite
    void RequireFinitePosition(uint32_t welded) const;
    // -0 as +0 (x + 0 is x for every other x): the library's transforms make +0 of most
    // zeros and keep a few, and a file read either way must give the same bits
    template <size_t N>
    static std::array<float, N> PlusZero(std::array<float, N> v) {
        for (float& c : v) c += 0.0f;
        return v;
    }
    template <size_t N>
    static std::array<float, N> Finite(std::array<float, N> v) {
        for (float& c : v)
            if (!std::isfinite(c)) c = 0;
        return v;
    }

    TGeometry out_;
    TTable<3> positions_, normals_;
    TTable<2> texCoords_;
    // weld numbers of the current mesh's vertices (empty until Vertices), kept as the
    // corner tables' type so that ConsecutiveFaces can make them those tables in place
    TLargeTable<int32_t> position_, normal_, texCoord_;
    static uint32_t* Numbers(TLargeTable<int32_t>& numbers) { return reinterpret_cast<uint32_t*>(numbers.data()); }
    // about how many new values the current mesh brings to the positions, and to each other table
    uint64_t freshPositions_ = 0, fresh_ = 0;
    std::string messageName_;
    uint32_t vertices_ = 0;
    bool hasNormals_ = false, hasTexCoords_ = false;
};

}  // namespace kgl
