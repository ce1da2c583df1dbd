#pragma once
// The model record and every operation on it that needs no display.
//
// Indexing (every operation relies on it):
//  - vertices, normals, texCoords are one-based: entry k is the k-th v / vn / vt
//    line of the file; entry 0 is a spare; after a load each holds count + 2 entries
//    (0 .. count + 1). Loops over "all entries" run 0 .. count inclusive.
//  - groups are zero-based, 0 .. gCount (gCount == -1: no group); the table may hold
//    spare entries at its end with fCount 0.
//  - the faces of a group are one-based, 1 .. fCount; faces[0] is a spare; a group's
//    table holds fCount + 2 entries.
//  - edges holds eCount + 2 entries; 0 .. eCount are the eCount distinct edges and
//    one all-zero entry, sorted by weight ascending; eCount + 1 is an all-zero spare.
//  - edgeSel / groupSel / faceSel are empty until a pick mode is first used, then
//    eCount + 2 / gCount + 2 / fCount + 2 entries. They may be shorter than the model
//    after a reload: an entry past the end reads as false and is never written.
//
// Collapse targets of vertices and texture coordinates: kTargetFree (-1) not merged,
// kTargetPinned (-2) never merged and never reset, 0 or more: merged into that index.
//
// Failures inside the core are EModelError exceptions (errors.h); the operation that
// owns the user-visible result catches them and shows the "Exception Name: ..." text
// through the message service (messages.h).
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "index_list.h"

namespace kgl {

using TBool = uint8_t;  // one-byte Boolean: 0 false, 1 true

constexpr int32_t kTargetFree = -1;
constexpr int32_t kTargetPinned = -2;
constexpr int32_t kNoFace = -1;
constexpr size_t kModelNameMax = 255;  // model name: short string of at most 255 characters
constexpr size_t kGroupNameMax = 50;   // group name: short string of at most 50 characters
constexpr float kBoxResetMin = 1e18f;  // reset value of boxMin (nearest float to 1e18)
constexpr float kBoxResetMax = -1e18f;
constexpr double kAreaResetMin = 1e18;
constexpr double kAreaResetMax = -1e18;

struct TVec3 {
    float x = 0, y = 0, z = 0;
    friend bool operator==(const TVec3&, const TVec3&) = default;
};
using TVertices = std::vector<TVec3>;  // corner positions handed to FaceMeasure

struct TVertex {
    float x = 0, y = 0, z = 0;
    int32_t target = 0;  // collapse target, see above
    int32_t merges = 0;  // times this vertex was the retired end of a collapse
};

struct TTexCoord {
    float u = 0, v = 0;
    int32_t target = 0;
};

// One polygon. count == vIdx.size() after a load; tIdx / nIdx hold one entry per
// corner that carried that part (empty when none did), so they are aligned with the
// corners only when every corner used the same form.
struct TFace {
    TIndexList vIdx;
    TIndexList tIdx;
    TIndexList nIdx;
    double area = 0;      // face measure; normalised to 0 .. 1 after an OBJ load
    int32_t count = 0;    // number of corners (3 triangle, 4 quad, else one polygon)
    TBool visible = 0;    // drawn and picked only while true; the reduction sets it
};

struct TGroup {
    std::string name;  // at most kGroupNameMax characters
    TVec3 boxMin, boxMax;
    int32_t fCount = 0;         // faces 1 .. fCount
    std::vector<TFace> faces;   // fCount + 2 entries after a load
};

// One edge. End points are vertex indices taken through the first face:
// groups[group].faces[face].vIdx[corner0] and ...vIdx[corner1] (EdgeVertexA/B).
// 32 bytes in memory; the KGM file stores it as a 40-byte record.
struct TEdge {
    int32_t corner0 = 0;  // corner position (0-based into vIdx of face)
    int32_t corner1 = 0;
    int32_t face = 0;     // first face, within group; < 1 means no face (both ends 0)
    int32_t face2 = 0;    // second face within group, or kNoFace; may lie beyond the group's faces
    int32_t group = 0;
    TBool active = 0;     // building: second face matched; reducing: not yet collapsed
    double weight = 0;    // sort key
};
static_assert(sizeof(TEdge) == 32, "TEdge must stay 32 bytes");

using TColor = std::array<float, 4>;  // RGBA, passed whole to glColor4fv

struct TKGLModel {
    TVec3 boxMin, boxMax;
    TColor selColor{}, wireColor{}, unselColor{};
    TVec3 center, centroid;
    double diagonal = 0, minArea = 0, maxArea = 0, scale = 0;
    std::string name;  // at most kModelNameMax characters
    int32_t vCount = 0, nCount = 0, tCount = 0, gCount = 0, fCount = 0, eCount = 0;
    std::vector<TVertex> vertices;
    std::vector<TVec3> normals;
    std::vector<TTexCoord> texCoords;
    std::vector<TGroup> groups;
    std::vector<TEdge> edges;
    int32_t drawCount = 0;  // triangles drawn since the main model draw last began
    std::vector<TBool> edgeSel, groupSel, faceSel;
};

// Cuts text to at most maxLength characters (short-string assignment).
std::string ShortString(std::string_view text, size_t maxLength);

// ---- housekeeping (KGLModel.cpp) ----

// Back to the empty state: colours set, name empty, six counts 0, the five tables
// emptied, boxes and area range at their reset values, edgeSel emptied. center,
// centroid, diagonal, scale, drawCount, groupSel and faceSel are left as they are.
void InitModel(TKGLModel& model);
// Sizes vertices/normals/texCoords/groups to count + 2 zero-filled entries and every
// group 0 .. gCount's faces to its fCount + 2, with its box at the reset values.
void AllocateModel(TKGLModel& model);
// Releases everything: counts -1, every table and selection list empty.
void FreeModel(TKGLModel& model);
// Empties edgeSel.
void ClearEdgeSelection(TKGLModel& model);

// ---- loading (obj_reader.cpp) ----

// Reads fileName by its lower-cased extension (".obj" or ".kgm"); on success runs
// Reduce(model, 0.0). Any other extension, or a missing file, returns false and
// leaves the model untouched. A failed read shows its message and leaves the model
// as it was before the call.
bool LoadFromFile(TKGLModel& model, const std::string& fileName);
// OBJ from a file: false without a message when the file does not exist; false with
// the "Exception Name: ..." message when reading fails (model unchanged).
bool LoadOBJ(TKGLModel& model, const std::string& fileName);
// OBJ from bytes in memory; same results and messages as LoadOBJ.
bool LoadOBJFromMemory(TKGLModel& model, std::string_view text);

// ---- measures and edge table (measures.cpp, edges.cpp) ----

// Mean length of the open chain P0 P1 .. P(n-1); 0 for fewer than two corners.
double FaceMeasure(const TVertices& corners);
// area of every face 1 .. fCount of every group (raw measure); widens minArea/maxArea.
void ComputeFaceAreas(TKGLModel& model);
// Builds the weight-sorted edge table edges[0 .. eCount + 1] from the faces.
void BuildEdges(TKGLModel& model);
// Vertex index of the edge's first / second end point through its first face; 0 when
// face < 1 or when the lookup would leave a table.
int32_t EdgeVertexA(const TKGLModel& model, const TEdge& edge);
int32_t EdgeVertexB(const TKGLModel& model, const TEdge& edge);

// ---- reduction (reduce.cpp) ----

// Hides about fCount x fraction faces by collapsing edges, walking edges[0 .. eCount - 1]
// from the lightest. Every call starts again from the full model:
//  - reset: every vertex 0 .. vCount gets target -1 (unless -2, pinned) and merges 0;
//    every texture coordinate 0 .. tCount target -1 (unless -2); every face 1 .. fCount
//    of every group visible; every edge 0 .. eCount active;
//  - goal = fCount x fraction rounded to the nearest integer, halves to even. While fewer
//    than goal faces were removed: an entry whose ends a = EdgeVertexA, b = EdgeVertexB
//    are both free (-1) retires b into a (target[b] = a, merges[b] + 1), redirects the
//    first face's texture coordinate at corner1 to the one at corner0 (when free), hides
//    face and face2 (counting those that were visible) and becomes inactive;
//  - the corners of the visible faces are resolved to the end of their chains
//    (ResolveVertex / ResolveTexCoord), then a visible face whose consecutive corners
//    (or first and last) land on the same vertex is hidden too (not counted). So more
//    than goal faces may end hidden, and removed may reach goal + 1.
// Indices that name nothing are never followed: face and face2 count only when they are
// faces 1 .. fCount of the edge's group (any other face2 is taken as -1, neither counted
// nor hidden); an edge whose end lies outside vertices is skipped; texture indices
// outside texCoords are left alone. Fractions outside 0 .. 1 are accepted (<= 0: reset
// only). Nothing happens, not even the reset, when vCount < 1 or fCount < 1.
// Linear in the table sizes, allocates nothing. Face `visible` holds 0 or 1 between calls.
void Reduce(TKGLModel& model, double fraction);
// End of the target chain that starts at index: follows targets while they are 0 or
// more, stopping at an element that points at itself, on coming back to index, after
// 101 steps (the element then reached), or at a target outside the table. An index
// outside the table is returned as it is.
int32_t ResolveVertex(const TKGLModel& model, int32_t index);
int32_t ResolveTexCoord(const TKGLModel& model, int32_t index);

// ---- KGM format (kgm.cpp) ----
//
// Little-endian, no alignment: a 387-byte header (magic "KGL_Model_file" and version "0.1"
// as short strings of 20 and 5, boxes, centre, centroid, diagonal, minArea, maxArea, scale,
// name as a 256-byte short string, the six counts), then slots 0 .. count of vertices (20
// bytes: x y z target merges), normals (12), texCoords (12: u v target), edges (40: corner0
// corner1 face face2 group, 4 zero bytes, weight, active, 7 zero bytes), then per group a
// 79-byte header (name as 51 bytes, boxMin, boxMax, fCount) and faces 0 .. fCount, each
// area, visible (1 byte), count, vIdx, last index of nIdx and nIdx, last index of tIdx and
// tIdx. A count of -1 stores no slot, so a freed model is the header alone.

// Writes the model as KGM. The file is written beside fileName and renamed over it once
// complete, so a failure never destroys an existing file; it throws EInOutError (not
// caught here). Slots the tables lack are written zero-filled.
void SaveToKGM(const TKGLModel& model, const std::string& fileName);
// The KGM bytes of the model, exactly as SaveToKGM writes them.
std::string SaveToKGMBytes(const TKGLModel& model);
// Reads a KGM file: false without a message when it does not exist. False with the
// "Exception Name: ..." message, the model left exactly as it was, when the file is not
// a KGM model file (magic or version differ: EReadError "'...' is not a KGM model
// file"), ends early or holds a count that does not fit in the bytes left (EReadError),
// or holds an index outside its table (ERangeError): face vertex / normal / texture
// indices outside 0 .. count, targets outside -2 .. count, an edge with face >= 1 whose
// group, face or corners name nothing. face2 is taken as it stands (guarded where used).
// On success the model is replaced; groupSel, faceSel and drawCount are kept, edgeSel is
// empty, and visible / active are 0 or 1. No reduction is run (LoadFromFile does that).
bool LoadKGM(TKGLModel& model, const std::string& fileName);
bool LoadKGMFromMemory(TKGLModel& model, std::string_view bytes);

// ---- OBJ writer (obj_writer.cpp) ----

// Writes the full-detail model as OBJ text (CR LF, reals "%.6f" with "." whatever the
// locale): the header with the counts, the v / vn / vt sections (slots 1 .. count, each
// only when its count > 0), then every group with its faces 1 .. fCount. Corner i is its
// vertex index, then "/" + tIdx[i] when tIdx has an entry i, then "/" + nIdx[i] ("//" +
// nIdx[i] when no texture index was written) when nIdx has an entry i, so reading the file
// back gives the same index lists; a face without corners is left out (it has no OBJ
// form). Reduction state is ignored. Nothing is written when fCount < 1. The file is
// written beside fileName and renamed over it once complete; a failure shows the
// "Exception Name: ..." message, keeps an existing file and ends normally.
void SaveToOBJ(const TKGLModel& model, const std::string& fileName);
// The OBJ text SaveToOBJ writes ("" when fCount < 1); dateTime stands on the
// "# File Created: " line (SaveToOBJ puts the local date and time there).
std::string SaveToOBJText(const TKGLModel& model, const std::string& dateTime);

// ---- texture-coordinate rewriting (texcoords.cpp) ----

// Keeps each distinct (u, v) used by a face once, numbered in first-use order (groups 0 ..
// gCount, faces 1 .. fCount, hidden ones included, tIdx in order), and renumbers every
// tIdx entry. Equality is exact: 0 equals -0, a NaN equals nothing; the first record used
// is kept whole (target included). texCoords becomes tCount + 2 slots, 0 and tCount + 1
// zero. An entry outside slots 0 .. tCount of the old table is read as the coordinate
// (0, 0) with target -1, so it too ends on a valid entry. Unused coordinates are dropped;
// a second run changes nothing.
void OptimizeTexCoords(TKGLModel& model);

// ---- information text (info_text.cpp) ----

// The ten items "name: ..", "vCount: ..", .., "scale: .." joined by lineBreak (the
// window uses a carriage return, kglmodel a line feed). Reals print with two
// decimals and "." as the point; a number of more than 18 integer digits (the reset
// values of an empty model) prints in scientific notation.
std::string InfoText(const TKGLModel& model, char lineBreak);
// One real of the information text: "3.46", "-12.00", "1.00E+18".
std::string FormatInfoNumber(double value);

}  // namespace kgl
