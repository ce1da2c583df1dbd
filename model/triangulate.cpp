// Triangulation: every face of more than three corners becomes triangles in its place.
//
// Why: the reduction hides the faces along each collapsed edge, a whole polygon at a
// time, so a reduced quad model shows holes where a triangle model shows a coarser
// surface. Cut into triangles first, it reduces as any triangle model does.
//
// Cuts: a quad along the shorter of the diagonals whose two triangles turn with the face
// (the rounder pair; the other diagonal of a concave quad lies outside it); a larger face
// by ear clipping in its plane, each ear tested against the corners near it that do not
// turn as the face does (when a corner of a simple polygon lies in an ear, one of those
// does), kept in the cells of a grid over the face so that a large face costs about
// linear time;
// a face with no such cut is fanned from its first corner.
//
// Phases: 1. the triangles of every face, so that each group's table is sized once and
// each face knows its first slot; 2. the faces cut into a fresh record on every core, a
// block of faces at a time, so that the calling thread reports progress and hears a
// cancel between blocks; 3. the finishing steps of a load.
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "KGLModel.h"
#include "box.h"
#include "errors.h"
#include "face_table.h"
#include "parallel.h"
#include "polygon.h"
#include "progress.h"
#include "reporting.h"

namespace kgl {

namespace {

// Ear clipping of n corners gives up (and the face is fanned) after 4 n min(n, this)
// steps (ears tried, cells and corners looked at): ample for the faces of real models (a
// comb of a thousand teeth takes some 300 steps a corner; of five thousand, 1500, and is
// fanned), while a hostile face of millions of corners costs at most 1024 steps a corner.
constexpr uint64_t kEarQuadratic = 256;

using TTriangle = std::array<uint32_t, 3>;  // corner numbers of one face, the lowest first

// The position of a vertex index; an all-zero vertex for one that names no entry.
inline TPoint PositionOf(const TKGLModel& m, int32_t index) {
    const TVertex& v = SlotOrZero(m.vertices, index);
    return {v.x, v.y, v.z};
}

// Ear clipping of one face at a time in the face's plane. One per thread: its tables
// grow to the largest face it has met, so a face costs no allocation.
class TEarClipper {
public:
    // The n - 2 triangles of corners 0 .. n - 1 of face (n >= 4), each turning with the
    // face's normal; false when there is no such cut or it took too long.
    bool Clip(const TKGLModel& m, const TFace& face, uint32_t n, TPoint normal) {
        Project(m, face, n, normal);
        tris_.clear();
        for (uint32_t j = 0; j < n; ++j) {
            prev_[j] = j == 0 ? n - 1 : j - 1;
            next_[j] = j + 1 == n ? 0 : j + 1;
            gone_[j] = listed_[j] = 0;
        }
        Grid(n);
        for (uint32_t j = 0; j < n; ++j) Judge(j);
        const uint64_t budget = 4 * uint64_t(n) * std::min<uint64_t>(n, kEarQuadratic) + 64;
        uint64_t work = 0;
        uint32_t left = n, at = 0, misses = 0;
        while (left > 3) {
            if (IsEar(at, work)) {
                const uint32_t a = prev_[at], c = next_[at];
                Emit(a, at, c);
                gone_[at] = 1;
                next_[a] = c;
                prev_[c] = a;
                Judge(a);
                Judge(c);
                --left;
                misses = 0;
                at = c;
            } else {
                at = next_[at];
                if (++misses >= left) return false;  // round the whole ring without an ear
            }
            if (work > budget) return false;
        }
        const uint32_t a = prev_[at], c = next_[at];
        if (Area2(a, at, c) <= 0) return false;  // what is left does not turn with the face
        Emit(a, at, c);
        return true;
    }
    const std::vector<TTriangle>& Triangles() const { return tris_; }

private:
    // Corners relative to the first, in a basis (u, v) of the plane with u x v along the
    // normal, so that a triangle's signed area here is its area along the normal.
    void Project(const TKGLModel& m, const TFace& face, uint32_t n, TPoint normal) {
        const double len = std::sqrt(Dot(normal, normal));
        const TPoint w{normal.x / len, normal.y / len, normal.z / len};
        // u across the normal's smallest component: far from parallel to it
        const double ax = std::fabs(w.x), ay = std::fabs(w.y), az = std::fabs(w.z);
        const TPoint axis = ax <= ay && ax <= az ? TPoint{1, 0, 0} : ay <= az ? TPoint{0, 1, 0} : TPoint{0, 0, 1};
        TPoint u = Cross(axis, w);
        const double ul = std::sqrt(Dot(u, u));
        u = {u.x / ul, u.y / ul, u.z / ul};
        const TPoint v = Cross(w, u);
        if (x_.size() < n) {
            x_.resize(n);
            y_.resize(n);
            prev_.resize(n);
            next_.resize(n);
            convex_.resize(n);
            listed_.resize(n);
            gone_.resize(n);
            link_.resize(n);
        }
        const TPoint p0 = PositionOf(m, face.vIdx[0]);
        for (uint32_t j = 0; j < n; ++j) {
            const TPoint p = PositionOf(m, face.vIdx[j]) - p0;
            x_[j] = Dot(p, u);
            y_[j] = Dot(p, v);
        }
    }
    double Area2(uint32_t a, uint32_t b, uint32_t c) const {
        return (x_[b] - x_[a]) * (y_[c] - y_[a]) - (y_[b] - y_[a]) * (x_[c] - x_[a]);
    }
    bool SamePlace(uint32_t p, uint32_t q) const { return x_[p] == x_[q] && y_[p] == y_[q]; }
    // An empty grid of about n / 4 square cells over the face's box (one cell for a face
    // of a few corners, or for a box that is no number).
    void Grid(uint32_t n) {
        double hx = x_[0], hy = y_[0];
        loX_ = x_[0], loY_ = y_[0];
        for (uint32_t j = 1; j < n; ++j) {
            loX_ = std::min(loX_, x_[j]), hx = std::max(hx, x_[j]);
            loY_ = std::min(loY_, y_[j]), hy = std::max(hy, y_[j]);
        }
        const double w = hx - loX_, h = hy - loY_, wanted = std::max(1.0, n / 4.0);
        const double size = std::sqrt(w * h / wanted);
        auto count = [&](double extent) {
            const double k = std::ceil(extent / size);
            return k >= 1 && k <= wanted ? static_cast<uint32_t>(k) : k > wanted ? static_cast<uint32_t>(wanted) : 1u;
        };
        columns_ = count(w);
        rows_ = count(h);
        if (uint64_t(columns_) * rows_ > 4 * uint64_t(wanted) + 4) columns_ = rows_ = 1;  // no such box from floats
        scaleX_ = w > 0 ? columns_ / w : 0;
        scaleY_ = h > 0 ? rows_ / h : 0;
        cells_.assign(size_t(columns_) * rows_, kNone);
    }
    // The column (or row) of count of a coordinate; one that is not a number in the first.
    static uint32_t Cell(double v, double lo, double scale, uint32_t count) {
        const double t = (v - lo) * scale;
        return t > 0 ? (t < count ? static_cast<uint32_t>(t) : count - 1) : 0;
    }
    // Whether corner j turns with the face where the ring now stands; one that does not
    // goes into its cell for the ear tests (clipping may turn it, and it stays there,
    // passed over).
    void Judge(uint32_t j) {
        convex_[j] = Area2(prev_[j], j, next_[j]) > 0;
        if (convex_[j] || listed_[j]) return;
        listed_[j] = 1;
        const size_t cell = size_t(Cell(y_[j], loY_, scaleY_, rows_)) * columns_ + Cell(x_[j], loX_, scaleX_, columns_);
        link_[j] = cells_[cell];
        cells_[cell] = j;
    }
    // Corner b is an ear: it turns with the face and no listed corner in the cells of its
    // triangle's box lies in the triangle (its sides included), but for corners placed on
    // the triangle's own.
    bool IsEar(uint32_t b, uint64_t& work) const {
        ++work;
        if (!convex_[b]) return false;
        const uint32_t a = prev_[b], c = next_[b];
        const uint32_t x0 = Cell(std::min({x_[a], x_[b], x_[c]}), loX_, scaleX_, columns_),
                       x1 = Cell(std::max({x_[a], x_[b], x_[c]}), loX_, scaleX_, columns_),
                       y0 = Cell(std::min({y_[a], y_[b], y_[c]}), loY_, scaleY_, rows_),
                       y1 = Cell(std::max({y_[a], y_[b], y_[c]}), loY_, scaleY_, rows_);
        for (uint32_t cy = y0; cy <= y1; ++cy)
            for (uint32_t cx = x0; cx <= x1; ++cx) {
                ++work;
                for (uint32_t p = cells_[size_t(cy) * columns_ + cx]; p != kNone; p = link_[p]) {
                    ++work;
                    if (gone_[p] || convex_[p] || p == a || p == b || p == c) continue;
                    if (SamePlace(p, a) || SamePlace(p, b) || SamePlace(p, c)) continue;
                    if (Area2(a, b, p) >= 0 && Area2(b, c, p) >= 0 && Area2(c, a, p) >= 0) return false;
                }
            }
        return true;
    }
    // A triangle in the face's order, rotated to start at its lowest corner.
    void Emit(uint32_t a, uint32_t b, uint32_t c) {
        if (b < a && b < c)
            tris_.push_back({b, c, a});
        else if (c < a && c < b)
            tris_.push_back({c, a, b});
        else
            tris_.push_back({a, b, c});
    }

    static constexpr uint32_t kNone = UINT32_MAX;
    std::vector<double> x_, y_;
    std::vector<uint32_t> prev_, next_;
    std::vector<TBool> convex_, listed_, gone_;
    std::vector<uint32_t> cells_, link_;  // the first listed corner of each cell, the next of each corner
    double loX_ = 0, loY_ = 0, scaleX_ = 0, scaleY_ = 0;
    uint32_t columns_ = 1, rows_ = 1;
    std::vector<TTriangle> tris_;
};

// Whether triangle (a, b, c) of the face's corners turns with normal.
inline bool TurnsWith(const TPoint* p, uint32_t a, uint32_t b, uint32_t c, TPoint normal) {
    return Dot(Cross(p[b] - p[a], p[c] - p[a]), normal) > 0;
}

// The triangles of a face of n >= 4 corners; false when it is fanned for want of a cut.
bool Cut(const TKGLModel& m, const TFace& face, uint32_t n, TEarClipper& clipper, std::vector<TTriangle>& out) {
    out.clear();
    TPoint normal;
    const bool plane = FaceNormal(
        n, [&](uint32_t j) { return PositionOf(m, face.vIdx[j]); }, normal);
    if (plane && n == 4) {
        TPoint p[4];
        for (uint32_t j = 0; j < 4; ++j) p[j] = PositionOf(m, face.vIdx[j]);
        const bool by02 = TurnsWith(p, 0, 1, 2, normal) && TurnsWith(p, 0, 2, 3, normal);
        const bool by13 = TurnsWith(p, 0, 1, 3, normal) && TurnsWith(p, 1, 2, 3, normal);
        const TPoint d02 = p[2] - p[0], d13 = p[3] - p[1];
        if (by13 && (!by02 || Dot(d13, d13) < Dot(d02, d02))) {
            out = {{0, 1, 3}, {1, 2, 3}};
            return true;
        }
        if (by02) {
            out = {{0, 1, 2}, {0, 2, 3}};
            return true;
        }
    } else if (plane && clipper.Clip(m, face, n, normal)) {
        out = clipper.Triangles();
        return true;
    }
    for (uint32_t j = 1; j + 1 < n; ++j) out.push_back({0, j, j + 1});
    return false;
}

// An index list cut down to the corners of one triangle.
inline void Take(TIndexList& to, const TIndexList& from, const TTriangle& t) {
    const int32_t entries[3] = {from[t[0]], from[t[1]], from[t[2]]};
    to.assign(entries, 3);
}

void Triangulate(const TKGLModel& m, TKGLModel& out, TTriangulation& counts) {
    const TFaceRows rows(m, 1);
    const uint64_t faces = rows.Count();
    TProgressMeter meter(2 * faces, 1 << 16);

    // 1. the faces each face becomes, then each face's first slot in its group
    TLargeTable<uint32_t> first(faces);
    ParallelRanges(WorkThreads(faces, kItemsPerThread), faces, [&](size_t, uint64_t b, uint64_t e) {
        uint64_t row = b;
        rows.ForEach(m, b, e, [&](const TGroup&, int32_t, const TFace& face, int32_t) {
            const uint32_t n = ReadableCorners(face);
            first[row++] = n > 3 ? n - 2 : 1;
        });
    });
    const int32_t lastG = LastGroup(m);
    InitModel(out);
    out.name = m.name;
    out.gCount = lastG;
    out.groups.resize(static_cast<size_t>(lastG + 1));
    int64_t total = 0;
    uint64_t row = 0;
    for (int32_t g = 0; g <= lastG; ++g) {
        const TGroup& group = m.groups[static_cast<size_t>(g)];
        int64_t slot = 1;
        for (int32_t f = 1; f <= LastFace(group); ++f, ++row) {
            const uint32_t made = first[row];
            if (made > 1) {  // a face of more than three corners
                ++counts.split;
                counts.triangles += made;
            }
            first[row] = static_cast<uint32_t>(slot);
            slot += made;
            if (slot - 1 > kCountMax) throw ERangeError("Cut into triangles, a group would have too many faces");
        }
        out.groups[static_cast<size_t>(g)].name = group.name;
        out.groups[static_cast<size_t>(g)].fCount = static_cast<int32_t>(slot - 1);
        total += slot - 1;
        if (total > kCountMax) throw ERangeError("Cut into triangles, the model would have too many faces");
    }
    if (counts.split == 0) return;
    meter.At(faces);
    out.fCount = static_cast<int32_t>(total);
    AllocateModel(out);  // the groups' face tables; the other tables are copied below

    // 2. the faces, a block at a time
    const uint64_t block = std::max<uint64_t>(faces / 64, uint64_t(1) << 16);
    std::vector<TEarClipper> clippers(WorkThreads(block, kItemsPerThread / 4));
    std::vector<int64_t> fans(clippers.size(), 0), listsLeft(clippers.size(), 0);
    for (uint64_t start = 0; start < faces; start += block) {
        const uint64_t end = std::min(faces, start + block);
        const size_t threads = std::min(clippers.size(), WorkThreads(end - start, kItemsPerThread / 4));
        ParallelRanges(threads, end - start, [&](size_t t, uint64_t b, uint64_t e) {
            std::vector<TTriangle> tris;
            int64_t fanned = 0, left = 0;
            uint64_t at = start + b;
            rows.ForEach(m, start + b, start + e, [&](const TGroup&, int32_t g, const TFace& face, int32_t) {
                TFace* to = out.groups[static_cast<size_t>(g)].faces.data() + first[at++];
                const uint32_t n = ReadableCorners(face);
                if (n <= 3) {
                    *to = face;
                    return;
                }
                fanned += !Cut(m, face, n, clippers[t], tris);
                // a list without an entry for every corner cannot say which entry is whose
                const bool withT = face.tIdx.size() >= n, withN = face.nIdx.size() >= n;
                left += (!withT && !face.tIdx.empty()) || (!withN && !face.nIdx.empty());
                for (const TTriangle& tri : tris) {
                    Take(to->vIdx, face.vIdx, tri);
                    if (withT) Take(to->tIdx, face.tIdx, tri);
                    if (withN) Take(to->nIdx, face.nIdx, tri);
                    to->count = 3;
                    to->visible = 1;
                    ++to;
                }
            });
            fans[t] += fanned;
            listsLeft[t] += left;
        });
        meter.At(faces + end);
    }
    for (size_t t = 0; t < clippers.size(); ++t) {
        counts.fans += fans[t];
        counts.listsLeft += listsLeft[t];
    }

    // 3. the other tables as they are; the box and the running sum as a load makes them
    out.vCount = m.vCount;
    out.nCount = m.nCount;
    out.tCount = m.tCount;
    out.vertices = m.vertices;
    out.normals = m.normals;
    out.texCoords = m.texCoords;
    TVec3 sum{};
    for (int32_t i = 1; i <= LastSlot(out.vertices, out.vCount); ++i) {
        const TVertex& v = out.vertices[static_cast<size_t>(i)];
        sum.x += v.x;
        sum.y += v.y;
        sum.z += v.z;
        WidenBox(out.boxMin, out.boxMax, v);
    }
    out.centroid = sum;
    FinishOBJ(out);
    Reduce(out, 0.0);
}

}  // namespace

bool TriangulateFaces(TKGLModel& model, TTriangulation* counts, TKGLModel* replaced) {
    TKGLModel fresh;
    TTriangulation made;
    const bool ok = ReportFailure(
        [&] {
            Triangulate(model, fresh, made);
            if (made.split == 0 || model.faceSel.empty()) return;
            // each triangle selected as its face was
            fresh.faceSel.assign(static_cast<size_t>(fresh.fCount) + 2, 0);
            int64_t from = 0, to = 0;
            ForEachFace(model, 1, [&](const TGroup&, int32_t, const TFace& face, int32_t) {
                const uint32_t n = ReadableCorners(face);
                const bool selected = ++from < static_cast<int64_t>(model.faceSel.size()) && model.faceSel[from];
                for (uint32_t k = 0; k < (n > 3 ? n - 2 : 1); ++k) fresh.faceSel[static_cast<size_t>(++to)] = selected;
            });
        },
        std::string());
    if (!ok) return false;
    if (counts) *counts = made;
    if (made.split == 0) return true;  // nothing to cut: the model stays as it is
    fresh.groupSel = model.groupSel;   // the groups are the same
    fresh.drawCount = model.drawCount;
    fresh.selColor = model.selColor;
    fresh.wireColor = model.wireColor;
    fresh.unselColor = model.unselColor;
    std::swap(model, fresh);
    if (replaced) *replaced = std::move(fresh);
    return true;
}

}  // namespace kgl
