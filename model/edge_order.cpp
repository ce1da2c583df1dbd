// The edge order by geometric error.
//
// Order: the order in which a simulation of Reduce takes the entries, always the
// cheapest of those it may take: by class (ordinary, turns a face over, retires a vertex
// into itself), then cost, then place in the table.
//
// Why a simulation: Reduce walks the table from its start and skips an entry once an
// end is retired. When the table lists the simulation's collapses in the order taken,
// each still has both ends free when Reduce reaches it, and every other entry has lost
// one by then; so any fraction replays a prefix of the simulation, and the simulation
// plans each step on the very faces Reduce will show.
//
// Reduce never moves a vertex: a collapse keeps one end where it is (a half-edge
// collapse), and only the table's own edges collapse, so an edge that a collapse makes
// (a to a neighbour of b) never does. The cost is the quadric error at the kept end,
// as a mean over the weights (a squared distance): the measure meshoptimizer's
// simplifier uses, so a vertex that stands for much surface is not held back for that.
//
// Phases, over flat scratch arrays:
//  1. faces numbered in a row (group by group, as Reduce numbers them), each vertex's
//     faces as a linked list (spliced into the kept end's list by a collapse, dead
//     faces unlinked when walked), a quadric per vertex from its faces' planes;
//  2. vertex by vertex, the faces along each of its edges: borders, edges between
//     groups and texture seams add planes across the edge to both ends; then per entry
//     its ends as Reduce finds them, and whether its face2 is its second face (a face of
//     its group with a side on the edge), which alone Reduce hides with it;
//  3. a monotone queue of (key, entry); the entry's latest item is kept beside it, so
//     an item that is not that is stale and dropped. Keys are lazy: a collapse changes
//     the costs of the kept end's entries, but they are keyed again only when they come
//     out, and go back when the key has grown (as it does when quadrics are summed;
//     measured, keying them at once as well ordered no better and took a quarter more
//     time);
//  4. a collapse: b retired into a, face and face2 hidden and counted, b's faces checked
//     for degeneracy and handed to a, quadrics summed;
//  5. the table rewritten in the order taken.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "KGLModel.h"
#include "errors.h"
#include "face_table.h"
#include "large_table.h"
#include "polygon.h"
#include "progress.h"
#include "reduction_tables.h"

namespace kgl {

namespace {

// Classes, in the order they are taken.
enum TClass : uint8_t { kOrdinary = 0, kTurnsOver = 1, kIntoItself = 2 };

constexpr uint64_t kItemsPerProgress = 64 * 1024;  // entries between two reports, at least
constexpr int kMaxChain = 50;                      // longest target chain chosen for the sake of cost
constexpr double kBorderWeight = 10;               // planes across a border or group edge, per squared length
constexpr double kSeamWeight = 1;                  // planes across a texture seam, per squared length
constexpr double kLengthShare = 1e-6;              // share of the squared edge length in every cost: flat parts
                                                   // go short edges first (evenly), not in table order
constexpr double kFeatureShare = 10;               // that share again times this when b carries such an edge,
                                                   // so that a flat interior goes before its straight border
constexpr double kTurnCos = 0.0;                   // a face turns over when its normal's cosine to the old falls below
constexpr uint32_t kTurnCorners = 16;              // larger faces are not judged for turns: the check costs their
                                                   // size at every step around them
constexpr uint32_t kTurnFaces = 64;                // a vertex drawn on more faces turns one over, so to speak:
                                                   // judging them all at every step around it costs its degree
constexpr float kClassStep = 1e4f;                 // keys of class c lie in c * kClassStep + [0, kClassStep / 2]
constexpr float kRekeySlack = 0.05f;  // a key that comes out grown by no more than this share is taken as it is:
                                      // else the many entries of a vertex that keeps growing
                                      // would come out again at each step
constexpr int32_t kNil = -1;

// Sum of weighted squared distances to planes: p'Ap + 2b'p + c; w the sum of weights.
struct TQuadric {
    double xx = 0, xy = 0, xz = 0, yy = 0, yz = 0, zz = 0, x = 0, y = 0, z = 0, c = 0, w = 0;
    void AddPlane(TPoint n, double d, double weight) {
        xx += weight * n.x * n.x, xy += weight * n.x * n.y, xz += weight * n.x * n.z;
        yy += weight * n.y * n.y, yz += weight * n.y * n.z, zz += weight * n.z * n.z;
        x += weight * d * n.x, y += weight * d * n.y, z += weight * d * n.z;
        c += weight * d * d, w += weight;
    }
    void Add(const TQuadric& q) {
        xx += q.xx, xy += q.xy, xz += q.xz, yy += q.yy, yz += q.yz, zz += q.zz;
        x += q.x, y += q.y, z += q.z, c += q.c, w += q.w;
    }
    double At(TPoint p) const {
        return p.x * (xx * p.x + 2 * (xy * p.y + xz * p.z + x)) + p.y * (yy * p.y + 2 * (yz * p.z + y)) +
               p.z * (zz * p.z + 2 * z) + c;
    }
};

struct TNode {  // one corner of a face, in its vertex's list
    int32_t face;
    int32_t next;
    uint32_t corner;  // so that work at a corner is the same for a face of three or a million
};

// An entry's ends as Reduce reads them.
struct TEnds {
    int32_t a, b;
};

// A monotone priority queue of 64-bit items (a radix heap): an item goes to the bucket
// of the highest bit in which it differs from the last one taken out, so a push is an
// append and each item moves down at most 64 times. Items below the last one taken out
// are pushed as that one. With millions of items a binary heap pays a cache miss a level.
class TRadixQueue {
public:
    bool Empty() const { return size_ == 0; }
    void Push(uint64_t x) {
        if (x < last_) x = last_;
        buckets_[BucketOf(x)].push_back(x);
        ++size_;
    }
    uint64_t Pop() {
        if (buckets_[0].empty()) {
            size_t i = 1;
            while (buckets_[i].empty()) ++i;
            std::vector<uint64_t>& from = buckets_[i];
            last_ = *std::min_element(from.begin(), from.end());
            for (uint64_t x : from) buckets_[BucketOf(x)].push_back(x);
            from.clear();
        }
        const uint64_t x = buckets_[0].back();
        buckets_[0].pop_back();
        --size_;
        return x;
    }
    uint64_t Last() const { return last_; }
    // Before the first push: no item will be below least (they spread over the buckets
    // at once, instead of all meeting in the top one).
    void Start(uint64_t least) { last_ = least; }

private:
    size_t BucketOf(uint64_t x) const { return x == last_ ? 0 : 64 - static_cast<size_t>(__builtin_clzll(x ^ last_)); }
    std::vector<uint64_t> buckets_[65];
    uint64_t last_ = 0;
    size_t size_ = 0;
};

// A key as an unsigned number of the same order (the key is never not-a-number), and back.
inline uint32_t KeyBits(float key) {
    uint32_t bits;
    std::memcpy(&bits, &key, sizeof bits);
    return (bits >> 31) ? ~bits : bits | 0x80000000u;
}
inline float KeyOf(uint32_t keyBits) {
    const uint32_t bits = (keyBits >> 31) ? keyBits & 0x7fffffffu : ~keyBits;
    float key;
    std::memcpy(&key, &bits, sizeof key);
    return key;
}

struct TChoice {
    float key;
    bool keepA;   // the entry's own a stays (else its corners are swapped)
    double cost;  // without class
    uint8_t cls;
    bool mayKeepA, mayKeepB;
    double costA, costB;
};

// Face states.
constexpr uint8_t kHidden = 1;  // hidden by a collapse (what Reduce counts)
constexpr uint8_t kDead = 2;    // not drawn: hidden or degenerate
constexpr uint8_t kFlat = 8;    // no plane (no area, or a corner outside the table)
// Vertex flags.
constexpr uint8_t kFree = 1;
constexpr uint8_t kFeature = 2;  // on a border, group or seam edge (itself or what it stands for)
constexpr uint8_t kOnFace = 4;   // a corner of a face drawn in the full model

// What a step reads of a vertex, in two cache lines (128 bytes: a table of them on its
// own huge pages keeps each on two), the first all that walking faces needs: with
// millions of vertices nearly every access is a miss.
struct TVert {
    TPoint p;        // centred on the box, the diagonal as unit
    int32_t parent;  // union-find over retirements: the drawn vertex
    int32_t head;    // its faces: a list of nodes
    int32_t tail;
    uint8_t flags;
    uint8_t height;  // longest target chain ending here
    TQuadric q;      // what it stands for
};
static_assert(sizeof(TVert) == 128, "two cache lines a vertex");

// A face slot: its readable corners (count, never past vIdx) inline up to three, else
// in a list of their own; its state.
constexpr uint8_t kLong = 255;
struct TFaceRec {
    int32_t v[3];  // corners; for kLong: v[0] where they start in the list, v[1] how many,
                   // v[2] its normal's place in longNormals_
    uint8_t n;     // corners, or kLong
    uint8_t state;
};

// The corner after corner j, the closing side included (a face's sides as the edge
// table has them: (j, j + 1) and (n - 1, 0)).
inline uint32_t NextCorner(uint32_t j, uint32_t n) { return j + 1 < n ? j + 1 : 0; }

class TErrorOrder {
public:
    TErrorOrder(TKGLModel& m, TEdgeOrderTrace* trace) : m_(m), trace_(trace) {}
    void Run();

private:
    struct TCorners {
        const int32_t* v;
        uint32_t n;
    };
    TCorners Corners(int32_t slot) const {
        const TFaceRec& r = faces_[slot];
        if (r.n != kLong) return {r.v, r.n};
        return {longCorners_.data() + r.v[0], static_cast<uint32_t>(r.v[1])};
    }
    bool InTable(int32_t v) const { return v >= 0 && v <= lastV_; }
    bool Free(int32_t v) const { return InTable(v) && (verts_[v].flags & kFree); }
    bool Takeable(uint32_t e) const { return Free(ends_[e].a) && Free(ends_[e].b); }
    // phase 1
    void NumberFaces();
    void PlacePoints();
    void ListFaces();
    void FaceQuadrics();
    // FaceNormal of a face in the full model; false also when a corner is outside the table.
    bool PlacedNormal(int32_t slot, TPoint& normal) const;
    // The same for a face with a plane (not kFlat), kept for long faces from the first.
    TPoint NormalOf(int32_t slot) const;
    // phase 2
    void EdgePlanes();
    void ReadEntries();
    int32_t At(int32_t slot, uint32_t corner);  // a corner's drawn vertex
    // phases 3 and 4
    int32_t Find(int32_t v);
    double CostKeeping(int32_t keep, int32_t gone) const;
    bool TurnsOver(int32_t gone, int32_t keep);
    // The face slots an entry hides, as Reduce finds them (-1: none).
    std::pair<int32_t, int32_t> Hides(uint32_t e) const;
    TChoice Evaluate(uint32_t e);
    void CheckTurns(uint32_t e, TChoice& c);
    uint64_t ItemOf(uint32_t e, float key) const;
    bool Degenerate(int32_t slot);
    bool DegenerateAt(int32_t slot, uint32_t corner);
    void Kill(int32_t slot);
    void Take(uint32_t e, const TChoice& c);
    // phase 5
    void Write();

    TKGLModel& m_;
    TEdgeOrderTrace* trace_;
    int32_t lastV_ = -1, lastG_ = -1, lastE_ = -1, loopEnd_ = 0;

    std::vector<uint32_t> first_;  // group g's face 0 sits at first_[g]; gCount + 2 entries
    TLargeTable<TFaceRec> faces_;  // per slot
    TLargeTable<int32_t> longCorners_;
    std::vector<TPoint> longNormals_;
    std::vector<int32_t> gone_;  // per slot, with a trace only
    TLargeTable<TVert> verts_;
    TLargeTable<TNode> nodes_;
    TLargeTable<TEnds> ends_;
    TLargeTable<uint8_t> secondOnEdge_;  // face2 is the entry's second face
    TRadixQueue queue_;
    TLargeTable<uint64_t> item_;  // per entry, its latest item in the queue
    int32_t step_ = 0;
    int64_t removed_ = 0;
    std::vector<uint32_t> order_;
    std::vector<uint8_t> keepA_;
    std::vector<double> cost_;
    std::vector<int32_t> drawn_;  // TurnsOver's scratch
};

void TErrorOrder::NumberFaces() {
    first_.resize(static_cast<size_t>(lastG_) + 2);
    uint64_t slots = 0, longOnes = 0;
    for (int32_t g = 0; g <= lastG_; ++g) {
        first_[g] = static_cast<uint32_t>(slots);
        slots += static_cast<uint64_t>(LastFace(m_.groups[static_cast<size_t>(g)]) + 1);
        if (slots >= static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
            throw ERangeError("The model has too many faces to order its edges");
    }
    first_[lastG_ + 1] = static_cast<uint32_t>(slots);
    ForEachFace(m_, 1, [&](const TGroup&, int32_t, const TFace& f, int32_t) {
        if (ReadableCorners(f) > 3) longOnes += ReadableCorners(f);
    });
    if (longOnes >= static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
        throw ERangeError("The model has too many corners to order its edges");
    faces_.assign(slots, TFaceRec{{0, 0, 0}, 0, 0});
    longCorners_.reserve(longOnes);
    ForEachFace(m_, 1, [&](const TGroup&, int32_t g, const TFace& f, int32_t fi) {
        TFaceRec& r = faces_[first_[g] + static_cast<uint32_t>(fi)];
        const uint32_t n = ReadableCorners(f);
        if (n <= 3) {
            r.n = static_cast<uint8_t>(n);
            std::copy(f.vIdx.data(), f.vIdx.data() + n, r.v);
        } else {
            r.n = kLong;
            r.v[0] = static_cast<int32_t>(longCorners_.size());
            r.v[1] = static_cast<int32_t>(n);
            longCorners_.insert(longCorners_.end(), f.vIdx.data(), f.vIdx.data() + n);
        }
    });
    if (trace_) gone_.assign(slots, TEdgeOrderTrace::kStillDrawn);
}

void TErrorOrder::PlacePoints() {
    // Centred on the box and scaled by the diagonal, so costs do not depend on where and
    // how large the model is. Coordinates that are not finite stay out of the box.
    TPoint lo{HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi{-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (int32_t v = 0; v <= lastV_; ++v) {
        const TVertex& p = m_.vertices[static_cast<size_t>(v)];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) continue;
        lo = {std::min(lo.x, double(p.x)), std::min(lo.y, double(p.y)), std::min(lo.z, double(p.z))};
        hi = {std::max(hi.x, double(p.x)), std::max(hi.y, double(p.y)), std::max(hi.z, double(p.z))};
    }
    TPoint centre{};
    double scale = 1;
    if (lo.x <= hi.x) {
        centre = {(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2};
        const double diagonal = std::sqrt(Dot(hi - lo, hi - lo));
        if (diagonal > 0 && std::isfinite(diagonal)) scale = 1 / diagonal;
    }
    verts_.resize(static_cast<size_t>(lastV_) + 1);
    for (int32_t v = 0; v <= lastV_; ++v) {
        const TVertex& p = m_.vertices[static_cast<size_t>(v)];
        verts_[v] = {{(p.x - centre.x) * scale, (p.y - centre.y) * scale, (p.z - centre.z) * scale},
                     v,
                     kNil,
                     kNil,
                     static_cast<uint8_t>(p.target == kTargetPinned ? 0 : kFree),
                     0,
                     {}};
    }
}

void TErrorOrder::ListFaces() {
    // Faces degenerate in the full model are not drawn (Reduce(0) hides them): dead from
    // the start, in no list. A vertex's list starts as its run of nodes, in face order.
    const size_t nV = static_cast<size_t>(lastV_) + 1;
    TLargeTable<uint32_t> degree(nV, 0);
    for (size_t s = 0; s < faces_.size(); ++s) {
        if (Degenerate(static_cast<int32_t>(s))) {
            faces_[s].state = kDead;
            if (trace_) gone_[s] = -1;
            continue;
        }
        const TCorners c = Corners(static_cast<int32_t>(s));
        for (uint32_t j = 0; j < c.n; ++j)
            if (InTable(c.v[j])) ++degree[static_cast<size_t>(c.v[j])];
    }
    uint64_t total = 0;
    for (size_t v = 0; v < nV; ++v) {
        if (degree[v]) {
            verts_[v].head = static_cast<int32_t>(total), verts_[v].tail = static_cast<int32_t>(total) - 1;
            verts_[v].flags |= kOnFace;
        }
        total += degree[v];
        if (total >= static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
            throw ERangeError("The model has too many corners to order its edges");
    }
    nodes_.resize(total);
    for (size_t s = 0; s < faces_.size(); ++s) {
        if (faces_[s].state & kDead) continue;
        const TCorners c = Corners(static_cast<int32_t>(s));
        for (uint32_t j = 0; j < c.n; ++j) {
            if (!InTable(c.v[j])) continue;
            TVert& x = verts_[c.v[j]];
            const int32_t at = ++x.tail;
            nodes_[at] = {static_cast<int32_t>(s), kNil, j};
            if (at > x.head) nodes_[at - 1].next = at;
        }
    }
}

bool TErrorOrder::PlacedNormal(int32_t slot, TPoint& normal) const {
    const TCorners c = Corners(slot);
    for (uint32_t j = 0; j < c.n; ++j)
        if (!InTable(c.v[j])) return false;
    return FaceNormal(
        c.n, [&](uint32_t j) { return verts_[c.v[j]].p; }, normal);
}

TPoint TErrorOrder::NormalOf(int32_t slot) const {
    if (faces_[slot].n == kLong) return longNormals_[static_cast<size_t>(faces_[slot].v[2])];
    TPoint n;
    PlacedNormal(slot, n);
    return n;
}

void TErrorOrder::FaceQuadrics() {
    for (size_t s = 0; s < faces_.size(); ++s) {
        if (faces_[s].state & kDead) continue;
        TPoint n;
        if (!PlacedNormal(static_cast<int32_t>(s), n)) {
            faces_[s].state |= kFlat;
            continue;
        }
        if (faces_[s].n == kLong) {
            faces_[s].v[2] = static_cast<int32_t>(longNormals_.size());
            longNormals_.push_back(n);
        }
        const double len = std::sqrt(Dot(n, n));
        const TPoint u{n.x / len, n.y / len, n.z / len};
        const TCorners c = Corners(static_cast<int32_t>(s));
        const double d = -Dot(u, verts_[c.v[0]].p);
        for (uint32_t j = 0; j < c.n; ++j) verts_[c.v[j]].q.AddPlane(u, d, len / 2);
    }
}

// The faces along each edge, gathered at its smaller end (all of them hold it), vertex
// by vertex so the faces are read in about their stored order. One face with a plane
// (a border: faces without one, such as those that join coincident vertices, leave a
// crack), more than two, faces of two groups, or faces that give an end two texture
// coordinates (a seam) make a feature edge: a plane through the edge, upright on each
// of its faces, goes to both ends, so that moving off the edge's line costs.
void TErrorOrder::EdgePlanes() {
    struct TSide {
        int32_t w, slot, texV, texW;
    };
    std::vector<TSide> sides;
    auto groupOf = [this](int32_t slot) {
        return static_cast<int32_t>(std::upper_bound(first_.begin(), first_.end(), uint32_t(slot)) - first_.begin()) -
               1;
    };
    for (int32_t v = 0; v <= lastV_; ++v) {
        sides.clear();
        for (int32_t node = verts_[v].head; node != kNil; node = nodes_[node].next) {
            // the sides before and after v's corner: each side at v once, a two-corner
            // face's twice, as the edge table has them
            const int32_t s = nodes_[node].face;
            if (faces_[s].state & kFlat) continue;
            const int32_t g = groupOf(s);
            const TIndexList& tex = m_.groups[static_cast<size_t>(g)].faces[static_cast<size_t>(s) - first_[g]].tIdx;
            auto texAt = [&tex](uint32_t j) { return j < tex.size() ? tex[j] : kNil; };
            const TCorners c = Corners(s);
            const uint32_t j = nodes_[node].corner, after = NextCorner(j, c.n), before = (j + c.n - 1) % c.n;
            if (c.v[after] > v) sides.push_back({c.v[after], s, texAt(j), texAt(after)});
            if (c.v[before] > v) sides.push_back({c.v[before], s, texAt(j), texAt(before)});
        }
        std::sort(sides.begin(), sides.end(), [](const TSide& p, const TSide& q) { return p.w < q.w; });
        for (size_t i = 0; i < sides.size();) {
            size_t end = i + 1;
            bool groups = false, seam = false;
            for (; end < sides.size() && sides[end].w == sides[i].w; ++end) {
                groups = groups || groupOf(sides[end].slot) != groupOf(sides[i].slot);
                seam = seam || sides[end].texV != sides[i].texV || sides[end].texW != sides[i].texW;
            }
            const bool border = end - i != 2 || groups;
            const int32_t w = sides[i].w;
            if (border || seam) {
                verts_[v].flags |= kFeature;
                verts_[w].flags |= kFeature;
                const TPoint pv = verts_[v].p, edge = verts_[w].p - pv;
                const double weight = (border ? kBorderWeight : kSeamWeight) * Dot(edge, edge);
                for (size_t k = i; k < end; ++k) {
                    TPoint across = Cross(edge, NormalOf(sides[k].slot));
                    const double len = std::sqrt(Dot(across, across));
                    if (!(len > 0) || !std::isfinite(len)) continue;
                    across = {across.x / len, across.y / len, across.z / len};
                    const double d = -Dot(across, pv);
                    verts_[v].q.AddPlane(across, d, weight);
                    verts_[w].q.AddPlane(across, d, weight);
                }
            }
            i = end;
        }
    }
}

void TErrorOrder::ReadEntries() {
    const size_t nE = static_cast<size_t>(lastE_) + 1;
    ends_.resize(nE);
    secondOnEdge_.assign(nE, 0);
    constexpr size_t kAhead = 16;  // the faces entries name lie all over
    const TEdge* edges = m_.edges.data();
    for (size_t e = 0; e < nE; ++e) {
        if (e + kAhead < nE) {
            const TEdge& p = edges[e + kAhead];
            if (const TFace* f = FaceAt(m_, p.group, p.face)) __builtin_prefetch(f);
            if (FaceAt(m_, p.group, p.face2)) __builtin_prefetch(&faces_[first_[p.group] + uint32_t(p.face2)]);
        }
        const TEdge& x = edges[e];
        TEnds& t = ends_[e];
        t = {EdgeVertexA(m_, x), EdgeVertexB(m_, x)};
        // as Reduce judges it: a second face of another group is named by its number in
        // this one, and the face of that number here is off the edge
        const TFace* second = x.face2 == kNoFace ? nullptr : FaceAt(m_, x.group, x.face2);
        secondOnEdge_[e] = second && HasSide(*second, t.a, t.b);
    }
}

int32_t TErrorOrder::Find(int32_t v) {
    while (verts_[v].parent != v) {
        const int32_t up = verts_[verts_[v].parent].parent;
        verts_[v].parent = up;
        v = up;
    }
    return v;
}

// Mean squared distance of what both ends stand for from keep's position, plus the
// share of the squared edge length.
double TErrorOrder::CostKeeping(int32_t keep, int32_t gone) const {
    const TPoint p = verts_[keep].p;
    const TQuadric &q = verts_[keep].q, &r = verts_[gone].q;
    const double w = q.w + r.w;
    double error = w > 0 ? (q.At(p) + r.At(p)) / w : 0;
    if (!(error > 0)) error = 0;  // rounding below zero, or not a number
    const TPoint edge = verts_[gone].p - p;
    const double share = kLengthShare * ((verts_[gone].flags & kFeature) ? kFeatureShare : 1);
    const double cost = error + share * Dot(edge, edge);
    return std::isfinite(cost) ? cost : kClassStep / 2;
}

// Whether drawing gone's faces at keep's position turns one over. Faces that also hold
// keep die or fold and are not judged. Dead faces met are unlinked from gone's list.
bool TErrorOrder::TurnsOver(int32_t gone, int32_t keep) {
    const TPoint to = verts_[keep].p;
    std::vector<int32_t>& drawn = drawn_;  // the drawn vertex of each corner
    TVert& g = verts_[gone];
    int32_t prev = kNil;
    uint32_t judged = 0;
    for (int32_t node = g.head; node != kNil;) {
        const int32_t next = nodes_[node].next;
        const int32_t s = nodes_[node].face;
        if (faces_[s].state & kDead) {
            (prev == kNil ? g.head : nodes_[prev].next) = next;
            if (g.tail == node) g.tail = prev;
            node = next;
            continue;
        }
        prev = node;
        node = next;
        if (++judged > kTurnFaces) return true;
        if (faces_[s].state & kFlat) continue;  // some corner outside the table, or never a plane
        const TCorners c = Corners(s);
        if (c.n > kTurnCorners) continue;
        drawn.resize(c.n);
        bool touches = false;
        for (uint32_t j = 0; j < c.n && !touches; ++j) {
            drawn[j] = Find(c.v[j]);
            touches = drawn[j] == keep;
        }
        if (touches) continue;
        TPoint nb, na;
        if (!FaceNormal(
                c.n, [&](uint32_t j) { return verts_[drawn[j]].p; }, nb))
            continue;  // no direction to turn from
        if (!FaceNormal(
                c.n, [&](uint32_t j) { return drawn[j] == gone ? to : verts_[drawn[j]].p; }, na))
            continue;  // shrinks to a sliver: not a turn
        if (Dot(nb, na) < kTurnCos * std::sqrt(Dot(nb, nb) * Dot(na, na))) return true;
    }
    return false;
}

std::pair<int32_t, int32_t> TErrorOrder::Hides(uint32_t e) const {
    const TEdge& x = m_.edges[e];
    auto slotOf = [this, &x](int32_t face) {
        return FaceAt(m_, x.group, face) ? static_cast<int32_t>(first_[x.group] + static_cast<uint32_t>(face)) : kNil;
    };
    return {slotOf(x.face), secondOnEdge_[e] ? slotOf(x.face2) : kNil};
}

// The key without face turns: class and the cheaper allowed end.
TChoice TErrorOrder::Evaluate(uint32_t e) {
    const TEnds& t = ends_[e];
    if (t.a == t.b) {
        // Retires a vertex into itself: nothing drawn moves, but no edge of it collapses
        // any more. First when the vertex lies on no face and nothing is hidden.
        const auto [h1, h2] = Hides(e);
        const bool idle = !(verts_[t.a].flags & kOnFace) && h1 < 0 && h2 < 0;
        const uint8_t cls = idle ? kOrdinary : kIntoItself;
        return {idle ? -1.0f : float(cls) * kClassStep, true, 0, cls, true, false, 0, 0};
    }
    const uint8_t cls = kOrdinary;
    // A chain longer than kMaxChain only when both ways make one: then the taller keeps.
    const int ha = verts_[t.a].height, hb = verts_[t.b].height;
    bool mayKeepA = hb + 1 <= kMaxChain, mayKeepB = ha + 1 <= kMaxChain;
    if (!mayKeepA && !mayKeepB) {
        mayKeepA = ha >= hb;
        mayKeepB = !mayKeepA;
    }
    const double costA = mayKeepA ? CostKeeping(t.a, t.b) : HUGE_VAL;
    const double costB = mayKeepB ? CostKeeping(t.b, t.a) : HUGE_VAL;
    const bool keepA = costA <= costB;
    const double cost = keepA ? costA : costB;
    const float key = static_cast<float>(cls) * kClassStep + static_cast<float>(std::min<double>(cost, kClassStep / 2));
    return {key, keepA, cost, cls, mayKeepA, mayKeepB, costA, costB};
}

// The key in full: when the cheaper end's faces would turn over, the other end if its
// do not, else the class of turns.
void TErrorOrder::CheckTurns(uint32_t e, TChoice& c) {
    const TEnds& t = ends_[e];
    if (t.a == t.b || !TurnsOver(c.keepA ? t.b : t.a, c.keepA ? t.a : t.b)) return;
    if ((c.keepA ? c.mayKeepB : c.mayKeepA) && !TurnsOver(c.keepA ? t.a : t.b, c.keepA ? t.b : t.a)) {
        c.keepA = !c.keepA;
        c.cost = c.keepA ? c.costA : c.costB;
    } else {
        c.cls = std::max<uint8_t>(c.cls, kTurnsOver);
    }
    c.key = static_cast<float>(c.cls) * kClassStep + static_cast<float>(std::min<double>(c.cost, kClassStep / 2));
}

// The queue's item for an entry and key: the key's order, then the entry's. Never below
// the last item taken out (the queue is monotone): such a key is taken next.
uint64_t TErrorOrder::ItemOf(uint32_t e, float key) const {
    uint64_t x = (static_cast<uint64_t>(KeyBits(key)) << 32) | e;
    const uint64_t last = queue_.Last();
    if (x < last) x = ((last >> 32) << 32) | e;
    if (x < last) x += uint64_t(1) << 32;
    return x;
}

int32_t TErrorOrder::At(int32_t slot, uint32_t corner) {
    const int32_t v = Corners(slot).v[corner];
    return InTable(v) ? Find(v) : v;
}

// Whether a face that was drawn is degenerate now that the corner's vertex moved: its
// sides at that corner are all that changed.
bool TErrorOrder::DegenerateAt(int32_t slot, uint32_t corner) {
    const uint32_t n = Corners(slot).n;
    const int32_t here = At(slot, corner);
    return At(slot, NextCorner(corner, n)) == here || At(slot, (corner + n - 1) % n) == here;
}

// As Reduce judges a face, on the drawn vertices: two consecutive corners (or the first
// and the last) on one.
bool TErrorOrder::Degenerate(int32_t slot) {
    const TCorners c = Corners(slot);
    if (c.n == 0) return false;
    auto drawn = [this](int32_t v) { return InTable(v) ? Find(v) : v; };
    const int32_t firstV = drawn(c.v[0]);
    int32_t prev = firstV;
    for (uint32_t j = 1; j < c.n; ++j) {
        const int32_t cur = drawn(c.v[j]);
        if (cur == prev) return true;
        prev = cur;
    }
    return firstV == prev;
}

void TErrorOrder::Kill(int32_t slot) {
    uint8_t& s = faces_[slot].state;
    if (s & kDead) return;
    s |= kDead;
    if (trace_) gone_[slot] = step_;
}

void TErrorOrder::Take(uint32_t e, const TChoice& c) {
    const TEnds& t = ends_[e];
    const int32_t keep = c.keepA ? t.a : t.b, gone = c.keepA ? t.b : t.a;
    order_.push_back(e);
    keepA_.push_back(c.keepA ? 1 : 0);
    cost_.push_back(c.cost);
    TVert &k = verts_[keep], &g = verts_[gone];
    g.flags &= static_cast<uint8_t>(~kFree);
    // counted as Reduce counts: both faces judged before either is hidden
    const auto [h1, h2] = Hides(e);
    if (h1 >= 0 && !(faces_[h1].state & kHidden)) ++removed_;
    if (h2 >= 0 && !(faces_[h2].state & kHidden)) ++removed_;
    for (int32_t h : {h1, h2})
        if (h >= 0) {
            faces_[h].state |= kHidden;
            Kill(h);
        }
    if (keep != gone) {
        g.parent = keep;
        k.height = static_cast<uint8_t>(std::max<int>(k.height, std::min(g.height + 1, 255)));
        k.flags |= g.flags & kFeature;
        k.q.Add(g.q);
        // gone's faces: degenerate ones die, the others are keep's now
        int32_t prev = kNil;
        for (int32_t node = g.head; node != kNil;) {
            const int32_t next = nodes_[node].next, s = nodes_[node].face;
            if (!(faces_[s].state & kDead) && DegenerateAt(s, nodes_[node].corner)) Kill(s);
            if (faces_[s].state & kDead)
                (prev == kNil ? g.head : nodes_[prev].next) = next;
            else
                prev = node;
            node = next;
        }
        g.tail = prev;
        if (g.head != kNil) {
            (k.head == kNil ? k.head : nodes_[k.tail].next) = g.head;
            k.tail = g.tail;
            g.head = g.tail = kNil;
        }
    }
    if (trace_) trace_->removed.push_back(removed_);
    ++step_;
}

void TErrorOrder::Write() {
    const size_t nE = static_cast<size_t>(lastE_) + 1;
    std::vector<uint32_t> from(order_);  // new place -> old place
    from.reserve(nE);
    {
        std::vector<uint8_t> taken(nE, 0);
        for (uint32_t e : order_) taken[e] = 1;
        for (size_t e = 0; e < nE; ++e)
            if (!taken[e]) from.push_back(static_cast<uint32_t>(e));
    }
    // A new table in the new order (read where they lie, fetched ahead; written in a
    // row), the entries past eCount as they were; the simulation's tables are gone by now.
    TLargeTable<TEdge> out(m_.edges.size());
    const TEdge* edges = m_.edges.data();
    constexpr size_t kAhead = 16;
    double weight = 0;
    for (size_t k = 0; k < nE; ++k) {
        if (k + kAhead < nE) __builtin_prefetch(&edges[from[k + kAhead]]);
        TEdge x = edges[from[k]];
        if (k < order_.size()) {
            if (!keepA_[k]) std::swap(x.corner0, x.corner1);
            weight = std::max(weight, std::sqrt(cost_[k]));
        }
        x.weight = weight;
        out[k] = x;
    }
    std::copy(m_.edges.begin() + static_cast<ptrdiff_t>(nE), m_.edges.end(), out.begin() + static_cast<ptrdiff_t>(nE));
    m_.edges.swap(out);
    if (m_.edgeSel.size() >= nE) {
        const std::vector<TBool> sel(m_.edgeSel.begin(), m_.edgeSel.begin() + static_cast<ptrdiff_t>(nE));
        for (size_t k = 0; k < nE; ++k) m_.edgeSel[k] = sel[from[k]];
    }
    if (!trace_) return;
    trace_->taken = static_cast<int32_t>(order_.size());
    trace_->gone.assign(static_cast<size_t>(lastG_) + 1, {});
    for (int32_t g = 0; g <= lastG_; ++g)
        trace_->gone[g].assign(gone_.begin() + first_[g], gone_.begin() + first_[g + 1]);
}

void TErrorOrder::Run() {
    lastV_ = LastSlot(m_.vertices, m_.vCount);
    lastG_ = LastGroup(m_);
    lastE_ = LastSlot(m_.edges, m_.eCount);
    loopEnd_ = std::min(m_.eCount, lastE_ + 1);  // Reduce examines edges[0 .. loopEnd_ - 1]
    if (trace_) *trace_ = TEdgeOrderTrace{};
    if (lastE_ < 0) return;
    // progress in entries: the phases before the walk as many as the walk's steps
    const uint64_t units = 2 * static_cast<uint64_t>(std::max(loopEnd_, 1));
    TProgressMeter meter(units, kItemsPerProgress);
    NumberFaces();
    const size_t nV = static_cast<size_t>(lastV_) + 1;
    PlacePoints();
    ListFaces();
    FaceQuadrics();
    EdgePlanes();
    ReadEntries();
    meter.At(units / 2);
    // each step retires a vertex of its own
    const size_t steps = std::min<size_t>(static_cast<size_t>(loopEnd_ > 0 ? loopEnd_ : 0), nV);
    order_.reserve(steps);
    keepA_.reserve(steps);
    cost_.reserve(steps);

    item_.assign(ends_.size(), 0);
    uint64_t least = UINT64_MAX;
    constexpr uint32_t kAhead = 16;  // the quadrics of an entry's ends lie all over
    for (uint32_t e = 0; e < ends_.size(); ++e) {
        if (e + kAhead < ends_.size()) {
            const TEnds& p = ends_[e + kAhead];
            for (int32_t v : {p.a, p.b})
                if (InTable(v)) {
                    __builtin_prefetch(&verts_[v]);
                    __builtin_prefetch(reinterpret_cast<const char*>(&verts_[v]) + 64);
                }
        }
        if (!Takeable(e)) continue;
        item_[e] = ItemOf(e, Evaluate(e).key);
        least = std::min(least, item_[e]);
    }
    queue_.Start(least == UINT64_MAX ? 0 : least);
    for (uint32_t e = 0; e < ends_.size(); ++e)
        if (Takeable(e)) queue_.Push(item_[e]);
    // Items come out a few at a time, their entries fetched ahead (each is a miss). An
    // item pushed meanwhile below the rest of the batch waits for it: the order moves by
    // a few steps among near-equal keys, never the simulation's faithfulness.
    constexpr size_t kBatch = 16;
    uint64_t batch[kBatch];
    size_t inBatch = 0, next = 0;
    while (step_ < loopEnd_) {
        if (next == inBatch) {
            for (inBatch = next = 0; inBatch < kBatch && !queue_.Empty(); ++inBatch) {
                batch[inBatch] = queue_.Pop();
                const uint32_t e = static_cast<uint32_t>(batch[inBatch]);
                __builtin_prefetch(&item_[e]);
                __builtin_prefetch(&ends_[e]);
            }
            if (inBatch == 0) break;
        }
        if (next + 1 < inBatch) {
            const TEnds& ahead = ends_[static_cast<uint32_t>(batch[next + 1])];
            if (InTable(ahead.a)) __builtin_prefetch(&verts_[ahead.a]);
            if (InTable(ahead.b)) __builtin_prefetch(&verts_[ahead.b]);
        }
        const uint64_t x = batch[next++];
        const uint32_t e = static_cast<uint32_t>(x);
        if (x != item_[e] || !Takeable(e)) continue;  // replaced, or an end is gone
        // grown since it was keyed: back to its place (the quadrics first, they are cheap)
        const float was = KeyOf(static_cast<uint32_t>(x >> 32));
        auto grown = [was](float key) { return key > was + std::fabs(was) * kRekeySlack; };
        TChoice c = Evaluate(e);
        if (!grown(c.key)) CheckTurns(e, c);
        if (grown(c.key)) {
            item_[e] = ItemOf(e, c.key);
            queue_.Push(item_[e]);
            continue;
        }
        Take(e, c);
        meter.At(units / 2 + static_cast<uint64_t>(step_));  // a cancel here leaves the model as it was
    }
    // the scratch of the simulation goes before the new table comes
    decltype(verts_)().swap(verts_);
    decltype(nodes_)().swap(nodes_);
    decltype(faces_)().swap(faces_);
    decltype(longCorners_)().swap(longCorners_);
    decltype(ends_)().swap(ends_);
    decltype(item_)().swap(item_);
    queue_ = TRadixQueue();
    Write();
}

}  // namespace

void OrderEdgesByError(TKGLModel& model, TEdgeOrderTrace* trace) {
    TErrorOrder(model, trace).Run();
    DropReductionTables(model);
}

}  // namespace kgl
