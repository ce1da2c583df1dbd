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
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "index_list.h"
#include "large_table.h"

namespace kgl {

using TBool = uint8_t;  // one-byte Boolean: 0 false, 1 true

constexpr int32_t kTargetFree = -1;
constexpr int32_t kTargetPinned = -2;
constexpr int32_t kNoFace = -1;
constexpr size_t kModelNameMax = 255;         // model name: short string of at most 255 characters
constexpr size_t kGroupNameMax = 50;          // group name: short string of at most 50 characters
constexpr int32_t kCountMax = INT32_MAX - 2;  // the largest count of a table (it holds count + 2)
constexpr float kBoxResetMin = 1e18f;         // reset value of boxMin (nearest float to 1e18)
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
    double area = 0;    // face measure; normalised to 0 .. 1 after an OBJ load
    int32_t count = 0;  // number of corners (3 triangle, 4 quad, else one polygon)
    TBool visible = 0;  // drawn and picked only while true; the reduction sets it
};
static_assert(sizeof(TFace) == 80, "TFace must stay 80 bytes: a model holds millions");

struct TGroup {
    std::string name;  // at most kGroupNameMax characters
    TVec3 boxMin, boxMax;
    int32_t fCount = 0;        // faces 1 .. fCount
    TLargeTable<TFace> faces;  // fCount + 2 entries after a load
};

// One edge. End points are vertex indices taken through the first face:
// groups[group].faces[face].vIdx[corner0] and ...vIdx[corner1] (EdgeVertexA/B).
// 32 bytes in memory; the KGM file stores it as a 40-byte record.
struct TEdge {
    int32_t corner0 = 0;  // corner position (0-based into vIdx of face)
    int32_t corner1 = 0;
    int32_t face = 0;   // first face, within group; < 1 means no face (both ends 0)
    int32_t face2 = 0;  // second face within group, or kNoFace; may lie beyond the group's faces
    int32_t group = 0;
    TBool active = 0;   // building: second face matched; reducing: not yet collapsed
    double weight = 0;  // sort key
};
static_assert(sizeof(TEdge) == 32, "TEdge must stay 32 bytes");

using TColor = std::array<float, 4>;  // RGBA, passed whole to glColor4fv

// Derived tables the reduction keeps beside the model (reduce.cpp), so that a slider
// move allocates nothing and never looks faces up. Opaque: only Reduce reads and writes
// them. The operations that replace the edge table, the faces or the texture
// coordinates (InitModel, AllocateModel, BuildEdges, OptimizeTexCoords, the loads) drop
// them, and Reduce builds them again when they are missing or do not fit the model's
// sizes. A copy of a model starts without them. Not part of the model file.
class TReductionCache {
public:
    struct TTables;  // reduce.cpp
    TReductionCache() noexcept;
    ~TReductionCache();
    TReductionCache(const TReductionCache&) noexcept;
    TReductionCache& operator=(const TReductionCache&) noexcept;
    TReductionCache(TReductionCache&&) noexcept;
    TReductionCache& operator=(TReductionCache&&) noexcept;
    // Times the tables were built for this model (a diagnostic: a slider move must not).
    uint32_t Builds() const noexcept { return builds_; }

private:
    friend struct TReductionAccess;  // reduce.cpp
    std::unique_ptr<TTables> tables_;
    uint32_t builds_ = 0;
};

struct TKGLModel {
    TVec3 boxMin, boxMax;
    TColor selColor{}, wireColor{}, unselColor{};
    TVec3 center, centroid;
    double diagonal = 0, minArea = 0, maxArea = 0, scale = 0;
    std::string name;  // at most kModelNameMax characters
    int32_t vCount = 0, nCount = 0, tCount = 0, gCount = 0, fCount = 0, eCount = 0;
    TLargeTable<TVertex> vertices;  // the model-sized tables: std::vector on huge pages (large_table.h)
    TLargeTable<TVec3> normals;
    TLargeTable<TTexCoord> texCoords;
    std::vector<TGroup> groups;
    TLargeTable<TEdge> edges;
    int32_t drawCount = 0;  // triangles drawn since the main model draw last began
    std::vector<TBool> edgeSel, groupSel, faceSel;
    TReductionCache reduction;  // derived, see TReductionCache
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
//
// The OBJ dialect, one statement a line (a line ends at LF, CR LF or a lone CR; a UTF-8
// byte-order mark at the start is skipped, UTF-16 text is refused), keywords in any
// letter case, classified by the first character:
//   "v" + blank or tab: vertex | "vn" normal | "vt" texture coordinate | other "v.."
//   ignored | "g" group, the rest of the line its name (blanks and control characters
//   trimmed, upper-cased a-z, cut to 50) | "f" face | anything else (empty, "#", o, s,
//   usemtl, mtllib, l, a leading blank or tab) ignored.
// Fields are separated by any run of blanks and tabs.
// v / vn: the first three fields after the keyword are x y z; further fields (w, or
//   the r g b colours scanners write) are ignored; a missing one is the empty text ''.
// vt: the fields after the keyword's blank or tab: u, then v (0 when absent); further
//   fields ignored; no field at all is the empty text ''.
// f: corners after the keyword's blank or tab (a line without either: the whole line),
//   trimmed, each "v", "v/t", "v//n" or "v/t/n"; tIdx / nIdx get an entry only from
//   corners that carry one. A negative index counts back from the latest entry of its
//   table read so far (-1 is the latest); the result must lie in 1 .. the table's count,
//   else the load fails with ERangeError "The vertex index of corner 'TOKEN' is outside
//   1 .. C" (or "texture-coordinate" / "normal"). Faces store the resolved indices.
// Numbers: [+-]?(digits[.[digits]]|.digits)([eE][+-]?digits)? ("5." is 5) and finite as
//   a float, else EConvertError "'TEXT' is not a valid floating point value"; integers
//   [+-]?digits within 32 bits, else "'TEXT' is not a valid integer value" (TEXT
//   upper-cased; an empty TEXT where a number is missing).
// Groups: faces before the first g line (all faces of a file without g lines) form
//   group 0 "DEFAULT", which exists only when there are such faces; every g line starts
//   the next group. gCount = number of groups - 1. name = the name of group 1 when
//   gCount >= 1, else empty.
// Memory: a load takes at most kObjMemoryPerFileByte bytes per byte of the file plus
//   kObjMemoryAllowance, derived tables and scratch included. After the counting pass,
//   before any model-sized table exists, a bound from the counts (about 300 bytes a
//   group, 100 a face, 64 a byte of an f line for its sides, 36 a vertex) that exceeds
//   this fails with EOutOfMemory. Real files stay far below it (a file of nothing but
//   "f 1 2 3" lines bounds at about 77 bytes per byte and peaks near 20); a file of
//   little but bare "g" lines exceeds it.
// A successful load replaces the model (InitModel state first, so nothing of the old
// geometry survives); groupSel and faceSel survive a reload, edgeSel is emptied. Then
// the finishing steps (FinishOBJ) run. A failed load leaves the model exactly as it
// was and shows "Exception Name: <class> Exception message: <text>" (ShowMessage) and
// on a second line where: "in \"PATH\", line N" (LoadOBJFromMemory: "in memory, line
// N"; without the line number for a failure of the whole file or the finishing steps).

// Reads fileName by its lower-cased extension (".obj" LoadOBJ, ".kgm" LoadKGM); on
// success runs Reduce(model, 0.0) (for KGM while reading: LoadKGMAtFullDetail). Any other
// extension, or a missing file, returns false and leaves the model untouched.
bool LoadFromFile(TKGLModel& model, const std::string& fileName);
// The extension LoadFromFile goes by: from the last "." after the last "/" or "\\",
// dot included, A-Z lower-cased ("" when the name has none).
std::string LowerExtension(const std::string& fileName);
// OBJ from a file, streamed twice in large blocks (counting pass, reading pass): false
// without a message when the file does not exist; false with the message when it
// cannot be opened or read (EInOutError) or its text is refused (model unchanged).
// Progress (progress.h) in bytes read, twice the file's size in all; a cancel gives
// false without a message, the model unchanged.
bool LoadOBJ(TKGLModel& model, const std::string& fileName);
// Longest OBJ line accepted, in bytes, its line break aside; a longer line (a face of
// millions of corners, a number of megabytes) fails the load with EReadError before it
// is parsed, so a hostile file cannot make the reader hold or build gigabytes. Texts
// quoted in messages are cut to kObjQuoteMax characters and "...".
constexpr size_t kObjMaxLineLength = size_t(4) << 20;
constexpr size_t kObjQuoteMax = 64;
// The memory bound of an OBJ load, see the dialect above.
constexpr uint64_t kObjMemoryPerFileByte = 128;
constexpr uint64_t kObjMemoryAllowance = uint64_t(32) << 20;
// OBJ from bytes in memory; same results and messages as LoadOBJ.
bool LoadOBJFromMemory(TKGLModel& model, std::string_view text);
// Both passes of an OBJ load read the text in ranges of whole lines, one a core, at once:
// the counting pass counts each range, the counts added up in file order say where each
// range's vertices, normals, texture coordinates, groups and faces start, and the reading
// pass fills the final tables from every range (relative indices count back over the
// ranges before; a group runs on across ranges). The model, the refusals and their line
// numbers are those of a reading in one piece. Texts under kObjParallelMinBytes are read
// in one range. The finishing steps and the first reduction run on every core too.
// SetLoadThreads(n) forces n threads for all of them (tests compare 1, 2 and 3) whatever
// the size; 0 goes back to one a core.
constexpr uint64_t kObjParallelMinBytes = uint64_t(4) << 20;
void SetLoadThreads(int32_t threads);

// Line handlers of the reading pass (any letter case); they throw EConvertError.
TVertex ParseVertex(std::string_view line);  // target kTargetFree, merges 0
TVec3 ParseNormal(std::string_view line);
TTexCoord ParseTexCoord(std::string_view line);  // target kTargetFree
// The number grammars above; EConvertError with the messages above.
float ParseFloat(std::string_view text);
int32_t ParseInteger(std::string_view text);

// ---- measures and edge table (measures.cpp, edges.cpp) ----

// The finishing steps of an OBJ load, in this order: center (box midpoint, floats),
// centroid (the running vertex sum in centroid divided by vCount; not-a-number with no
// vertices), scale = diagonal = box diagonal (double), ComputeFaceAreas, name (group
// 1's), NormaliseFaceAreas, ComputeGroupBoxes, BuildEdges.
void FinishOBJ(TKGLModel& model);
// Mean length of the open chain P0 P1 .. P(n-1) (closing side not included), in
// double precision; 0 for fewer than two corners.
double FaceMeasure(const TVertices& corners);
// Raw area of every face 1 .. fCount of groups 0 .. gCount (hidden faces too), over
// corner positions offset by 1e6 and rounded to float (1/16 resolution near the
// origin); widens minArea / maxArea. A corner index outside the vertex table reads
// the spare vertex 0.
void ComputeFaceAreas(TKGLModel& model);
// area := (area - minArea) / (maxArea - minArea) for faces 0 .. fCount of every group
// (the spare slot 0 included); when maxArea == minArea every area becomes +0.0.
// minArea / maxArea keep the raw values.
void NormaliseFaceAreas(TKGLModel& model);
// Widens each group's box (from its reset values) by every corner of faces 0 .. fCount.
void ComputeGroupBoxes(TKGLModel& model);
// Builds edges[0 .. eCount + 1] and eCount from the faces, exactly as this literal
// algorithm would (but in n log n at worst):
//  - candidates in order groups 0 .. gCount, faces 1 .. fCount (hidden ones too), sides
//    (0,1) .. (n-2,n-1) then the closing (0,n-1); a face of one corner gives only (0,0),
//    a face of two corners gives its side twice (the entry then has face2 == face), a
//    face without corners gives none. Each carries face = f, face2 = kNoFace, group = g,
//    weight = the face's area, active = 0.
//  - a candidate matches the first entry with the same unordered pair of end vertices
//    (EdgeVertexA/B) whose active is 0: that entry gets active = 1, face2 = f and
//    weight = (weight + area) / 2; else it is appended. So each entry pairs at most two
//    faces, and a third face along the same side starts a new entry.
//  - the eCount entries and one all-zero entry after them are sorted by weight,
//    stably (ties keep creation order; the all-zero entry follows every weight-0 edge);
//    edges[eCount + 1] is all zero. The table grows as needed: no bound by vCount.
// Throws ERangeError when the faces have more than 2^31 - 4 sides.
void BuildEdges(TKGLModel& model);
// Vertex index of the edge's first / second end point through its first face
// (groups[group].faces[face].vIdx[corner0 / corner1]); 0 when face < 1 or when the
// lookup would leave a table.
int32_t EdgeVertexA(const TKGLModel& model, const TEdge& edge);
int32_t EdgeVertexB(const TKGLModel& model, const TEdge& edge);

// ---- edge order by geometric error (edge_order.cpp) ----

// What OrderEdgesByError can report of its simulation (for checking it against Reduce).
struct TEdgeOrderTrace {
    static constexpr int32_t kStillDrawn = INT32_MAX;
    int32_t taken = 0;             // the simulation's collapses are edges[0 .. taken - 1]
    std::vector<int64_t> removed;  // Reduce's `removed` after each of them (taken entries)
    // gone[g][f] for faces 0 .. fCount of every group 0 .. gCount (as far as the tables
    // reach): the table index of the collapse that hid face f or left it degenerate; -1
    // when it is degenerate in the full model; kStillDrawn when no collapse did. Face 0
    // is no face: kStillDrawn.
    std::vector<std::vector<int32_t>> gone;
};

// Puts the entries edges[0 .. eCount] (the table BuildEdges makes, or any table of the
// same form) in a second order, that of geometric error, for Reduce to walk. The entries
// stay the same, each once, with their faces, group and active flag; only corner0 and
// corner1 of an entry may be swapped, so that the end Reduce keeps (corner0's vertex)
// is the better one. The order is that in which a simulation of Reduce takes them:
//  - at each step, among the entries whose two ends are in the vertex table and free
//    (never pinned, not yet retired), the cheapest: by class, then cost, then place in
//    the table before (keys are kept lazily: one whose cost grew by up to 5% since it
//    was keyed, or that waits in a batch of 16, may go before a slightly cheaper one).
//    Classes: ordinary; a collapse that would turn a drawn face over (its normal
//    against the one before; faces of more than 16 corners are not judged, a vertex
//    drawn on more than 64 faces counts as turning one); one whose two ends are the
//    same vertex, which lies on faces;
//  - cost of retiring b into a: the quadric error (Garland and Heckbert: the planes of
//    the faces, weighted by area, summed over everything retired into either end) at
//    a's position, as a mean squared distance with the box diagonal as unit; border
//    edges, edges between groups and texture seams add planes across the edge so they
//    are kept longer; plus a small share of the edge's squared length, larger when b
//    carries such an edge, so that flat parts go evenly and interiors before borders.
//    The end kept is the cheaper one, unless that would make a target chain longer
//    than 50 steps (Reduce resolves 101);
//  - each step is applied as Reduce applies it: b retired into a, face and (when it is
//    the edge's second face, as Reduce judges it) face2 hidden and counted as Reduce
//    counts them, faces left degenerate hidden too. It stops
//    when no entry is left to take, or after eCount steps (Reduce never examines
//    edges[eCount]).
// Written: the entries taken, in the order taken, then the others in their order
// before. weight := the largest cost so far, as a square root (a distance, as a
// fraction of the diagonal), so the table stays sorted by weight; the entries never
// taken get the last one. The all-zero entry (face 0: both ends vertex 0, which lies on
// no face) retires vertex 0 into itself and changes nothing drawn: it comes first,
// with weight 0 (it follows the others when vertex 0 is pinned or lies on a face).
// Every entry never taken has a retired, pinned or outside end when Reduce reaches it,
// so Reduce(model, fraction) collapses exactly the first steps of the simulation, until
// its removed count reaches the goal, and shows the faces the simulation had left then.
// edges[eCount + 1] and the reduction state (targets, visible) are left as they are
// (Reduce applies a fraction anew); edgeSel, when it has an entry for each edge, is
// reordered with the table. Indices that name nothing are guarded as Reduce guards
// them. Time about linear in the size of the tables (a radix queue); scratch about 140
// bytes a vertex, 50 a triangle and 30 an edge entry (some 190 MB for a million
// triangles). trace, when given, is filled in. Progress (progress.h) in entries, the
// phases before the simulation's walk as many as its steps; a cancel (ECancelled,
// thrown to the caller) leaves the model as it was.
void OrderEdgesByError(TKGLModel& model, TEdgeOrderTrace* trace = nullptr);

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
// Indices that name nothing are never followed: face counts only when it is a face
// 1 .. fCount of the edge's group, and face2 only when it is such a face with a side from
// a to b, the edge's second face (any other face2 is taken as -1, neither counted nor
// hidden: an edge between two groups names its second face by its number in the other
// group, which here may name a face far from the edge; that second face, left
// degenerate, is hidden by the degenerate test); an edge whose end lies outside vertices
// is skipped; texture indices outside texCoords are left alone. Fractions outside 0 .. 1 are accepted (<= 0: reset
// only). Nothing happens, not even the reset, when vCount < 1 or fCount < 1.
// Linear in the table sizes. A goal of no face (fraction 0, as after every load) needs
// and builds no table; any other call allocates nothing, except when the reduction's
// tables (TReductionCache) have to be built first: in the first such call after a load
// (about 30 bytes an edge entry), or after an operation replaced the tables. Face
// `visible` holds 0 or 1 between calls.
void Reduce(TKGLModel& model, double fraction);
// End of the target chain that starts at index: follows targets while they are 0 or
// more, stopping at an element that points at itself, on coming back to index, after
// 101 steps (the element then reached), or at a target outside the table. An index
// outside the table is returned as it is.
int32_t ResolveVertex(const TKGLModel& model, int32_t index);
int32_t ResolveTexCoord(const TKGLModel& model, int32_t index);

// ---- the model as shown (bake.cpp) ----

// Makes a plain model of what the reduction shows and puts it in baked (which may be
// model itself) on success:
//  - groups 0 .. gCount keep their order and names; each keeps, in order, those of its
//    faces 1 .. fCount that are visible and still show once their corners are resolved
//    (below); a group left without faces stays, with fCount 0;
//  - every corner's vertex becomes ResolveVertex(v) and every tIdx entry
//    ResolveTexCoord(t), the ends of their chains (after Reduce: what the drawing
//    draws); nIdx entries stay as they are (a merged corner keeps its normal);
//  - a face is dropped when it has no corners, or when two consecutive resolved corners
//    (or the first and the last) are one vertex: nothing of it would be drawn;
//  - vertices, normals and texture coordinates that no kept face uses are dropped; the
//    rest are numbered 1 .. count in the order of their first use (groups, faces,
//    corners in order), each table on its own. An index that names no entry 0 .. count
//    of its table reads as an all-zero entry;
//  - targets are free (-1), or pinned (-2) where the entry was pinned; merges 0; the
//    selection lists are empty;
//  - then the finishing steps of an OBJ load (FinishOBJ): the box and the running sum of
//    the vertices kept, centre, centroid, diagonal, face measures, group boxes, the edge
//    table, and the name as a load gives it (group 1's when gCount >= 1, else the
//    model's own); last Reduce(baked, 0.0).
// So the bake of a model reduced by 0 whose tables hold only used entries, in their
// order of first use, is that model again; and after Reduce its fCount is the number of
// visible faces that have corners (Reduce hides the others that would be dropped).
// Progress goes through the progress service (progress.h) in faces, twice over. False,
// baked untouched, when cancelled (no message) or out of memory (the "Exception Name:
// EOutOfMemory ..." message).
bool BakeReduction(const TKGLModel& model, TKGLModel& baked);

// ---- triangulation (triangulate.cpp) ----

// What TriangulateFaces did.
struct TTriangulation {
    int64_t split = 0;      // faces of more than three corners, each replaced by its triangles
    int64_t triangles = 0;  // the triangles they became (corners - 2 each)
    int64_t fans = 0;       // of the split faces, those fanned for want of a cut (below)
    int64_t listsLeft = 0;  // of the split faces, those whose tIdx or nIdx the triangles left off
};

// Cuts every face of more than three corners into triangles, so that the reduction, which
// hides the faces along each collapsed edge, hides a triangle where it would have hidden
// a whole polygon (and opened a hole):
//  - a face's corners are its first ReadableCorners (count, never past vIdx). A face of at
//    most three corners (none, one, two or a triangle) is kept as it is, count and lists
//    included;
//  - a face of n > 3 corners becomes n - 2 triangles in its place (its group, the group's
//    face order, one after another). Each triangle lists its corners in the face's order
//    from the lowest, so it turns as the face does, and takes each corner's vertex index,
//    and its tIdx / nIdx entry when that list has an entry for every corner (entry j is
//    corner j's, as the drawing reads it). A shorter list (a face whose corners mix the
//    forms v, v/t, v//n) cannot say which entry is whose corner: the triangles leave it
//    off, empty (counted in listsLeft). Normals, texture coordinates and vertices stay the
//    entries they were;
//  - a quad (corners 0 1 2 3) is cut along a diagonal whose two triangles both turn with
//    the face (along its Newell normal): the shorter one when both do, 0-2 on a tie;
//    (0 1 2) (0 2 3) along 0-2, (0 1 3) (1 2 3) along 1-3. So a concave quad is cut
//    inside itself;
//  - a larger face is cut by ear clipping in its own plane (the Newell normal's): every
//    triangle turns with the face, and a simple polygon, concave or not, keeps its area
//    (a self-crossing one that still has ears, such as a star of crossing sides, is cut
//    all the same, into triangles that overlap);
//  - a face without such a cut (no plane: collinear or coincident corners, an area below
//    1e-7 of its longest side squared; self-crossing so that no ear is left; or, over 256
//    corners, more than 1024 steps of clipping a corner, which a comb of thousands of
//    teeth takes) is fanned from its first corner, (0 1 2) (0 2 3) ..., and counted in
//    fans;
//  - positions are read guarded: an index that names no vertex reads as an all-zero one
//    (and is copied as it is; the finishing steps guard it as after a load);
//  - then the model is finished as a load finishes it: the box and the running sum of
//    vertices 1 .. vCount, FinishOBJ (measures, the edge table by areas, the name), last
//    Reduce(model, 0.0). So it is the model a load of the same triangles gives: at full
//    detail, a reduction, an edge order and vertex and texture targets (but pinned ones)
//    are gone;
//  - selections: groupSel is kept (the groups are the same), faceSel (unless empty) gets
//    fCount + 2 entries with every triangle selected as its face was, edgeSel is emptied
//    (the table is new); drawCount and the colours are kept.
// A model without a face of more than three corners is left exactly as it is. Progress
// goes through the progress service (progress.h) in faces, twice over. False, the model
// exactly as it was, when cancelled (no message) or when it fails, shown as "Exception
// Name: ..." (ERangeError when the model or a group would hold more than kCountMax faces,
// or the triangles more sides than the edge table can hold; EOutOfMemory). counts, when
// given, is filled in on success; replaced, when given, receives the model as it was when
// a face was cut (its record, moved: nothing is copied), so that an undo can put it back.
// Linear time on every core (but ear clipping's, up to quadratic in the corners of one
// face); the model's tables are held twice meanwhile.
bool TriangulateFaces(TKGLModel& model, TTriangulation* counts = nullptr, TKGLModel* replaced = nullptr);

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
// caught here), or ECancelled when the progress handler asks to stop. Slots the tables
// lack are written zero-filled. Progress (progress.h) in records written.
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
// From a file, progress (progress.h) in bytes read; a cancel gives false without a
// message, the model unchanged.
bool LoadKGM(TKGLModel& model, const std::string& fileName);
bool LoadKGMFromMemory(TKGLModel& model, std::string_view bytes);
// LoadKGM followed by Reduce(model, 0.0), with the reset done while the records are
// read instead of in a pass of its own (LoadFromFile's way); the same model results,
// the same failures. A model without vertices or faces keeps its stored flags, as the
// reduction leaves them.
bool LoadKGMAtFullDetail(TKGLModel& model, const std::string& fileName);
bool LoadKGMFromMemoryAtFullDetail(TKGLModel& model, std::string_view bytes);
// LoadKGMAtFullDetail's reading into fresh, a model of the caller's own, throwing the
// failure (EModelError, located in fileName) instead of showing it; a missing file is a
// failure too. For callers that report in their own words (the importer's KGM).
void ReadKGMFileAtFullDetail(TKGLModel& fresh, const std::string& fileName);

// ---- OBJ writer (obj_writer.cpp) ----

// Writes the full-detail model as OBJ text (CR LF, reals "%.6f" with "." whatever the
// locale): the header with the counts, the v / vn / vt sections (slots 1 .. count, each
// only when its count > 0), then every group with its faces 1 .. fCount. Corner i is its
// vertex index, then "/" + tIdx[i] when tIdx has an entry i, then "/" + nIdx[i] ("//" +
// nIdx[i] when no texture index was written) when nIdx has an entry i, so reading the file
// back gives the same index lists; a face without corners is left out (it has no OBJ
// form). Reduction state is ignored. Nothing is written when fCount < 1. The file is
// written beside fileName and renamed over it once complete; a failure shows the
// "Exception Name: ..." message, keeps an existing file and ends normally; so does a
// cancel, without a message. Progress (progress.h) in entries and faces written.
void SaveToOBJ(const TKGLModel& model, const std::string& fileName);
// The OBJ text SaveToOBJ writes ("" when fCount < 1); dateTime stands on the
// "# File Created: " line (SaveToOBJ puts the local date and time there).
std::string SaveToOBJText(const TKGLModel& model, const std::string& dateTime);
// The value an OBJ file of SaveToOBJ holds for value once read back: value to six
// decimals, as the nearest float. value must be finite (else EConvertError).
//
// The text form, to_chars then ParseFloat, takes some 80 ns a value; arithmetic gives
// the same float exactly:
//  - value x 10^6 is exact in a double (24 bits times 15625's 14, and a power of two),
//    so rounding it to an integer, ties to even, rounds as the six-decimal text does
//    (the sign kept: -0.4 gives -0, as "-0.000000" reads);
//  - that integer / 10^6 is one correctly rounded division, and its double rounds to
//    the float the text is read as: a second rounding goes wrong only on a double that
//    lies exactly halfway between two floats while the decimal does not, and no such
//    double comes from a decimal of six places. Below 2^24 the decimal (a fraction over
//    10^6) lies at least 10^-6 / 2^25 of its size from every halfway point it is not
//    (they are fractions over powers of two), far beyond a double's 2^-53; from 2^24 on
//    every float is an integer, and the decimal is the float itself.
// A value that is not finite goes the text way, which refuses it. Inline: an importer
// takes millions of values through it.
float AsWrittenInOBJText(float value);  // the text way: written, then read back
inline float AsWrittenInOBJ(float value) {
    if (!std::isfinite(value)) return AsWrittenInOBJText(value);
    // rounded to an integer, ties to even, by adding 2^52, which leaves the sum no bit for
    // a fraction (from 2^52 on the value is an integer already)
    const double scaled = static_cast<double>(value) * 1e6;
    double units = std::fabs(scaled);
    if (units < 0x1p52) units = (units + 0x1p52) - 0x1p52;
    return static_cast<float>(std::copysign(units, scaled) / 1e6);
}

// ---- other formats out (formats_out.cpp) ----
//
// Each writes beside fileName and renames over it once complete, so a failure never
// destroys an existing file; it throws EInOutError (ERangeError for a model beyond the
// format), or ECancelled when the progress handler asks to stop. Progress in faces (and
// vertices). Numbers in text are the shortest that read back as the same float; binary
// numbers are little-endian float32 and int32. Faces of fewer than three corners, and
// faces with a corner that names no vertex, are left out.
//
// STL: every face of three or more corners as the fan of triangles from its first
// corner (the face's orientation kept), each with its facet normal from its positions
// (the unit normal as its corners run; 0 without area). Binary: an 80-byte header that
// does not start with "solid", the count, 50 bytes a triangle (attribute 0), all groups
// in one. Text (ascii): one "solid NAME" a group that has triangles, NAME the group's
// name with blanks and control bytes as "_" (the text form ends a name at a blank); the
// binary form keeps no name. Normals and texture coordinates of the model are not kept.
void SaveToSTL(const TKGLModel& model, const std::string& fileName, bool ascii = false);
std::string SaveToSTLBytes(const TKGLModel& model, bool ascii = false);
// PLY, binary little-endian (or ascii): one vertex element of the vertices the faces use
// (float x y z, then nx ny nz and s t when every corner of every face has them: see
// GeometryToWrite, geometry.h), one face element with its polygons kept (a list of uchar
// count, uint when a face has more than 255 corners, and int indices); no groups.
void SaveToPLY(const TKGLModel& model, const std::string& fileName, bool ascii = false);
std::string SaveToPLYBytes(const TKGLModel& model, bool ascii = false);
// OFF: the vertices the faces use and the polygons, 0-based; no normals, texture
// coordinates or groups.
void SaveToOFF(const TKGLModel& model, const std::string& fileName);
std::string SaveToOFFBytes(const TKGLModel& model);

// ---- texture-coordinate rewriting (texcoords.cpp) ----

// Keeps each distinct (u, v) used by a face once, numbered in first-use order (groups 0 ..
// gCount, faces 1 .. fCount, hidden ones included, tIdx in order), and renumbers every
// tIdx entry. Equality is exact: 0 equals -0, a NaN equals nothing; the first record used
// is kept whole (target included). texCoords becomes tCount + 2 slots, 0 and tCount + 1
// zero. An entry outside slots 0 .. tCount of the old table is read as the coordinate
// (0, 0) with target -1, so it too ends on a valid entry. Unused coordinates are dropped;
// a second run changes nothing.
void OptimizeTexCoords(TKGLModel& model);

// What OptimizeTexCoords replaces, so that it can be taken back: tCount, the texture-
// coordinate table (targets included) and the tIdx entries of faces 1 .. fCount of every
// group, in walk order. Bytes held: 12 a table slot, 4 a texture index.
struct TTexCoordState {
    int32_t tCount = 0;
    TLargeTable<TTexCoord> texCoords;
    TLargeTable<int32_t> tIdx;
};
TTexCoordState SaveTexCoordState(const TKGLModel& model);
// Puts a state saved from this model back (the rewrite keeps the length of every tIdx
// list, so the entries go back list by list) and drops the reduction's tables. False,
// nothing changed, when the faces no longer hold as many texture indices as the state.
bool RestoreTexCoordState(TKGLModel& model, const TTexCoordState& state);
// Whether the model's texture coordinates are the state's, bit for bit.
bool SameTexCoordState(const TKGLModel& model, const TTexCoordState& state);

// ---- information text (info_text.cpp) ----

// The ten items "name: ..", "vCount: ..", .., "scale: .." joined by lineBreak (the
// window uses a carriage return, kglmodel a line feed). Reals print with two
// decimals and decimalPoint (UTF-8) as the point, whatever the C library's locale
// says: the window passes the user's, kglmodel keeps "." for the scripts that read
// it. A number of more than 18 integer digits (the reset values of an empty model)
// prints in scientific notation.
std::string InfoText(const TKGLModel& model, char lineBreak, std::string_view decimalPoint = ".");
// One real of the information text: "3.46", "-12.00", "1.00E+18" ("3,46" with ",").
std::string FormatInfoNumber(double value, std::string_view decimalPoint = ".");

}  // namespace kgl
