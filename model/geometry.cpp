// The geometry hand-over: the importer's builder and writer, the caller's checking
// reader. The reader trusts nothing: the header's counts must give exactly the bytes
// there are before anything is sized, every face word, name, value and index is
// checked before the model is built, and the model is built into a fresh record.
#include "geometry.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <tuple>
#include <type_traits>

#include "box.h"
#include "errors.h"
#include "face_table.h"
#include "files.h"
#include "parallel.h"

namespace kgl {

namespace {

constexpr char kMagic[8] = {'K', 'G', 'L', 'G', 'E', 'O', 'M', '1'};

struct THeader {
    uint32_t vertices, normals, texCoords, groups, faces, corners, texCorners, normalCorners;
};
static_assert(sizeof(THeader) == kGeometryHeaderBytes - sizeof kMagic);

THeader HeaderOf(const TGeometry& g) {
    auto count = [](size_t n) { return static_cast<uint32_t>(n); };
    return {count(g.positions.size() / 3), count(g.normals.size() / 3), count(g.texCoords.size() / 2),
            count(g.groups.size()),        count(g.faces.size()),       count(g.vIdx.size()),
            count(g.tIdx.size()),          count(g.nIdx.size())};
}

// The group records, as written.
std::string GroupRecords(const TGeometry& g) {
    std::string records(g.groups.size() * kGeometryGroupBytes, '\0');
    char* p = records.data();
    for (const TGeometry::TPart& part : g.groups) {
        std::memcpy(p, &part.faces, 4);
        const size_t n = std::min(part.name.size(), kGroupNameMax);
        p[4] = static_cast<char>(n);
        std::memcpy(p + 5, part.name.data(), n);
        p += kGeometryGroupBytes;
    }
    return records;
}

// The sections in the order of the form, as (bytes, size) pairs.
template <class F>
void ForEachSection(const TGeometry& g, const THeader& h, const std::string& groups, F&& section) {
    section(kMagic, sizeof kMagic);
    section(&h, sizeof h);
    section(g.positions.data(), g.positions.size() * 4);
    section(g.normals.data(), g.normals.size() * 4);
    section(g.texCoords.data(), g.texCoords.size() * 4);
    section(groups.data(), groups.size());
    section(g.faces.data(), g.faces.size() * 4);
    section(g.vIdx.data(), g.vIdx.size() * 4);
    section(g.tIdx.data(), g.tIdx.size() * 4);
    section(g.nIdx.data(), g.nIdx.size() * 4);
}

[[noreturn]] void Bad(const std::string& why) { throw EReadError("The importer handed over a broken model: " + why); }

// Where each section of the bytes starts; throws when the counts do not give the size.
struct TSections {
    const uint8_t *positions, *normals, *texCoords, *groups, *faces, *vIdx, *tIdx, *nIdx;
};

TSections Locate(std::string_view bytes, const THeader& h) {
    const uint64_t sizes[] = {uint64_t(h.vertices) * 12,  uint64_t(h.normals) * 12,
                              uint64_t(h.texCoords) * 8,  uint64_t(h.groups) * kGeometryGroupBytes,
                              uint64_t(h.faces) * 4,      uint64_t(h.corners) * 4,
                              uint64_t(h.texCorners) * 4, uint64_t(h.normalCorners) * 4};
    uint64_t total = kGeometryHeaderBytes;
    for (const uint64_t s : sizes) total += s;
    if (total != bytes.size())
        Bad(std::to_string(bytes.size()) + " bytes where its counts make " + std::to_string(total));
    const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data()) + kGeometryHeaderBytes;
    const uint8_t* at[8];
    for (size_t i = 0; i < 8; ++i) {
        at[i] = p;
        p += sizes[i];
    }
    return {at[0], at[1], at[2], at[3], at[4], at[5], at[6], at[7]};
}

inline uint32_t U32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline float F32(const uint8_t* p) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
}

// Every float of a section finite, on every core.
void CheckFinite(const uint8_t* values, uint64_t count, const char* what) {
    const size_t threads = WorkThreads(count, kItemsPerThread * 8);
    std::vector<uint8_t> bad(threads, 0);
    ParallelRanges(threads, count, [&](size_t t, uint64_t b, uint64_t e) {
        bool ok = true;
        for (uint64_t i = b; i < e; ++i) ok &= std::isfinite(F32(values + 4 * i));
        bad[t] = !ok;
    });
    if (std::find(bad.begin(), bad.end(), 1) != bad.end()) Bad(std::string("a ") + what + " is not a finite number");
}

// Every index of a section in 1 .. count, on every core.
void CheckIndices(const uint8_t* indices, uint64_t n, uint32_t count, const char* what) {
    const size_t threads = WorkThreads(n, kItemsPerThread * 8);
    std::vector<int64_t> bad(threads, -1);
    ParallelRanges(threads, n, [&](size_t t, uint64_t b, uint64_t e) {
        // index - 1 as unsigned: 0 and the negatives come out above every valid one
        uint32_t worst = 0;
        for (uint64_t i = b; i < e; ++i) worst = std::max(worst, U32(indices + 4 * i) - 1);
        if (b < e && worst >= count) bad[t] = static_cast<int64_t>(b);
    });
    for (size_t t = 0; t < threads; ++t) {
        if (bad[t] < 0) continue;
        for (uint64_t i = static_cast<uint64_t>(bad[t]);; ++i) {
            const auto v = static_cast<int32_t>(U32(indices + 4 * i));
            if (v < 1 || static_cast<uint32_t>(v) > count)
                throw ERangeError("The importer handed over a " + std::string(what) + " index " + std::to_string(v) +
                                  ", outside 1 .. " + std::to_string(count));
        }
    }
}

}  // namespace

std::string GeometryBytes(const TGeometry& g) {
    const THeader h = HeaderOf(g);
    const std::string groups = GroupRecords(g);
    std::string bytes;
    ForEachSection(g, h, groups, [&](const void* p, size_t n) { bytes.append(static_cast<const char*>(p), n); });
    return bytes;
}

void WriteGeometry(const TGeometry& g, int fd) {
    const THeader h = HeaderOf(g);
    const std::string groups = GroupRecords(g);
    ForEachSection(g, h, groups, [&](const void* p, size_t n) {
        if (const int err = WriteFully(fd, p, n))
            throw EInOutError(std::string("Cannot hand the model over: ") + std::strerror(err));
    });
}

namespace {

// The bytes checked: the header, where each section starts, and how the faces' corners
// add up on each range of faces of ParallelRanges over threads.
struct TSums {
    uint64_t corners = 0, tex = 0, normals = 0;
    bool bad = false;
};
struct TChecked {
    THeader h;
    TSections s;
    size_t threads;
    std::vector<TSums> sums;
};

TChecked Check(std::string_view bytes) {
    if (bytes.size() < kGeometryHeaderBytes || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
        Bad("it does not start with its header");
    THeader h;
    std::memcpy(&h, bytes.data() + sizeof kMagic, sizeof h);
    for (const uint32_t count : {h.vertices, h.normals, h.texCoords, h.groups, h.faces})
        if (count > static_cast<uint32_t>(kCountMax)) Bad("a count of " + std::to_string(count));
    if (h.groups < 1 || h.faces < 1) Bad("no face");
    const TSections s = Locate(bytes, h);

    // groups: their faces add up, their names are names
    uint64_t groupFaces = 0;
    for (uint32_t g = 0; g < h.groups; ++g) {
        const uint8_t* r = s.groups + uint64_t(g) * kGeometryGroupBytes;
        groupFaces += U32(r);
        if (r[4] > kGroupNameMax) Bad("a group name of " + std::to_string(r[4]) + " bytes");
        for (size_t i = 0; i < r[4]; ++i)
            if (r[5 + i] < 0x20 || r[5 + i] == 0x7F) Bad("a group name with a control byte");
    }
    if (groupFaces != h.faces)
        Bad("groups of " + std::to_string(groupFaces) + " faces in all, not " + std::to_string(h.faces));

    // faces: corner counts, and what they add up to, on every core
    const size_t threads = WorkThreads(h.faces, kItemsPerThread);
    std::vector<TSums> sums(threads);
    ParallelRanges(threads, h.faces, [&](size_t t, uint64_t b, uint64_t e) {
        TSums& sum = sums[t];
        for (uint64_t f = b; f < e; ++f) {
            const uint32_t word = U32(s.faces + 4 * f), n = word & kFaceCornerBits;
            sum.bad |= n < 3;
            sum.corners += n;
            sum.tex += word & kFaceHasTexCoords ? n : 0;
            sum.normals += word & kFaceHasNormals ? n : 0;
        }
    });
    TSums all;
    for (const TSums& sum : sums) {
        all.corners += sum.corners;
        all.tex += sum.tex;
        all.normals += sum.normals;
        all.bad |= sum.bad;
    }
    if (all.bad) Bad("a face of fewer than 3 corners");
    if (all.corners != h.corners || all.tex != h.texCorners || all.normals != h.normalCorners)
        Bad("faces whose corners do not add up to its counts");

    CheckFinite(s.positions, uint64_t(h.vertices) * 3, "position");
    CheckFinite(s.normals, uint64_t(h.normals) * 3, "normal");
    CheckFinite(s.texCoords, uint64_t(h.texCoords) * 2, "texture coordinate");
    CheckIndices(s.vIdx, h.corners, h.vertices, "vertex");
    CheckIndices(s.tIdx, h.texCorners, h.texCoords, "texture-coordinate");
    CheckIndices(s.nIdx, h.normalCorners, h.normals, "normal");

    return {h, s, threads, std::move(sums)};
}

// Where each range of faces starts in the corner sections.
std::vector<TSums> Starts(const TChecked& c) {
    std::vector<TSums> starts(c.threads + 1);
    for (size_t t = 0; t < c.threads; ++t) {
        starts[t + 1] = starts[t];
        starts[t + 1].corners += c.sums[t].corners;
        starts[t + 1].tex += c.sums[t].tex;
        starts[t + 1].normals += c.sums[t].normals;
    }
    return starts;
}

template <class T>
std::span<const T> Section(const uint8_t* at, uint64_t count) {
    return {reinterpret_cast<const T*>(at), static_cast<size_t>(count)};
}

}  // namespace

TGeometryView ReadGeometryView(std::string_view bytes) {
    if (reinterpret_cast<uintptr_t>(bytes.data()) % 4 != 0) Bad("its bytes are not aligned");
    const TChecked c = Check(bytes);
    const THeader& h = c.h;
    TGeometryView g;
    g.positions = Section<float>(c.s.positions, uint64_t(h.vertices) * 3);
    g.normals = Section<float>(c.s.normals, uint64_t(h.normals) * 3);
    g.texCoords = Section<float>(c.s.texCoords, uint64_t(h.texCoords) * 2);
    for (uint32_t i = 0; i < h.groups; ++i) {
        const uint8_t* r = c.s.groups + uint64_t(i) * kGeometryGroupBytes;
        g.groups.push_back({std::string(reinterpret_cast<const char*>(r + 5), r[4]), U32(r)});
    }
    g.faces = Section<uint32_t>(c.s.faces, h.faces);
    g.vIdx = Section<int32_t>(c.s.vIdx, h.corners);
    g.tIdx = Section<int32_t>(c.s.tIdx, h.texCorners);
    g.nIdx = Section<int32_t>(c.s.nIdx, h.normalCorners);
    return g;
}

void ReadGeometryUnfinished(std::string_view bytes, TKGLModel& m) {
    const TChecked c = Check(bytes);
    const THeader& h = c.h;
    const TSections& s = c.s;
    const size_t threads = c.threads;

    // the model, as an OBJ load fills it before its finishing steps
    InitModel(m);
    m.vCount = static_cast<int32_t>(h.vertices);
    m.nCount = static_cast<int32_t>(h.normals);
    m.tCount = static_cast<int32_t>(h.texCoords);
    m.fCount = static_cast<int32_t>(h.faces);
    m.gCount = static_cast<int32_t>(h.groups) - 1;
    m.groups.resize(h.groups);
    for (uint32_t g = 0; g < h.groups; ++g) {
        const uint8_t* r = s.groups + uint64_t(g) * kGeometryGroupBytes;
        m.groups[g].name.assign(reinterpret_cast<const char*>(r + 5), r[4]);
        m.groups[g].fCount = static_cast<int32_t>(U32(r));
    }
    AllocateModel(m);

    // vertices with the box on every core; the running sum in vertex order, as the OBJ
    // reader keeps it (float additions, one after the other)
    {
        const size_t n = WorkThreads(h.vertices, kItemsPerThread);
        std::vector<TVec3> lo(n, TVec3{kBoxResetMin, kBoxResetMin, kBoxResetMin}),
            hi(n, TVec3{kBoxResetMax, kBoxResetMax, kBoxResetMax});
        ParallelRanges(n, h.vertices, [&](size_t t, uint64_t b, uint64_t e) {
            for (uint64_t i = b; i < e; ++i) {
                const uint8_t* p = s.positions + 12 * i;
                TVertex& v = m.vertices[i + 1];
                v = {F32(p), F32(p + 4), F32(p + 8), kTargetFree, 0};
                WidenBox(lo[t], hi[t], v);
            }
        });
        for (size_t t = 0; t < n; ++t) {  // a tie keeps the earlier value, as one pass would
            WidenBox(m.boxMin, m.boxMax, lo[t]);
            WidenBox(m.boxMin, m.boxMax, hi[t]);
        }
        TVec3 sum{};
        for (uint32_t i = 1; i <= h.vertices; ++i) {
            sum.x += m.vertices[i].x;
            sum.y += m.vertices[i].y;
            sum.z += m.vertices[i].z;
        }
        m.centroid = sum;
    }
    for (uint32_t i = 0; i < h.normals; ++i) {
        const uint8_t* p = s.normals + 12 * uint64_t(i);
        m.normals[i + 1] = {F32(p), F32(p + 4), F32(p + 8)};
    }
    for (uint32_t i = 0; i < h.texCoords; ++i) {
        const uint8_t* p = s.texCoords + 8 * uint64_t(i);
        m.texCoords[i + 1] = {F32(p), F32(p + 4), kTargetFree};
    }

    // faces on every core: each range finds where its corners start, then fills its faces
    const TFaceRows rows(m, 1);
    const std::vector<TSums> starts = Starts(c);
    ParallelRanges(threads, h.faces, [&](size_t t, uint64_t b, uint64_t e) {
        uint64_t v = starts[t].corners, tex = starts[t].tex, nor = starts[t].normals;
        uint64_t k = b;
        rows.ForEach(m, b, e, [&](TGroup&, int32_t, TFace& face, int32_t) {
            const uint32_t word = U32(s.faces + 4 * k++), n = word & kFaceCornerBits;
            face.count = static_cast<int32_t>(n);
            face.visible = 1;
            face.vIdx.assign(reinterpret_cast<const int32_t*>(s.vIdx) + v, n);
            v += n;
            if (word & kFaceHasTexCoords) {
                face.tIdx.assign(reinterpret_cast<const int32_t*>(s.tIdx) + tex, n);
                tex += n;
            }
            if (word & kFaceHasNormals) {
                face.nIdx.assign(reinterpret_cast<const int32_t*>(s.nIdx) + nor, n);
                nor += n;
            }
        });
    });
}

void ReadGeometry(std::string_view bytes, TKGLModel& m) {
    ReadGeometryUnfinished(bytes, m);
    FinishOBJ(m);
    Reduce(m, 0.0);
}

// ---------------------------------------------------------------- writing

TGeometry GeometryToWrite(const TKGLModel& model, const TWriteLayout& layout) {
    TGeometry out;
    const int32_t lastV = LastSlot(model.vertices, model.vCount), lastT = LastSlot(model.texCoords, model.tCount),
                  lastN = LastSlot(model.normals, model.nCount);
    // the normals of a length (finite, not 0), once
    auto unit = [&](int32_t i) -> std::array<float, 3> {
        const TVec3& v = model.normals[static_cast<size_t>(i)];
        const double length = std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z);
        if (!(length > 0) || !std::isfinite(length)) return {0, 0, 0};
        return {float(v.x / length), float(v.y / length), float(v.z / length)};
    };
    std::vector<uint8_t> isUnit(static_cast<size_t>(lastN + 1), 0);
    for (int32_t i = 1; i <= lastN; ++i) isUnit[static_cast<size_t>(i)] = unit(i) != std::array<float, 3>{0, 0, 0};
    // the faces written: three corners or more, each naming a vertex
    auto written = [&](const TFace& face) {
        const uint32_t n = ReadableCorners(face);
        if (n < 3) return 0u;
        for (uint32_t c = 0; c < n; ++c)
            if (face.vIdx[c] < 1 || face.vIdx[c] > lastV) return 0u;
        return n;
    };
    // what every corner of each group has, and how many faces and corners go out
    const int32_t lastG = LastGroup(model);
    std::vector<std::pair<bool, bool>> has(static_cast<size_t>(lastG + 1), {true, true});
    std::vector<uint64_t> groupCorners(static_cast<size_t>(lastG + 1), 0);
    bool everywhereT = true, everywhereN = true;
    uint64_t faces = 0, corners = 0;
    for (int32_t g = 0; g <= lastG; ++g) {
        const TGroup& group = model.groups[static_cast<size_t>(g)];
        auto& [tex, normals] = has[static_cast<size_t>(g)];
        for (int32_t f = 1; f <= LastFace(group); ++f) {
            const TFace& face = group.faces[static_cast<size_t>(f)];
            const uint32_t n = written(face);
            if (n == 0) continue;
            faces += layout.triangles ? n - 2 : 1;
            groupCorners[static_cast<size_t>(g)] += layout.triangles ? 3 * (n - 2) : n;
            tex = tex && face.tIdx.size() >= n;
            normals = normals && face.nIdx.size() >= n;
            for (uint32_t c = 0; c < n && (tex || normals); ++c) {
                tex = tex && face.tIdx[c] >= 1 && face.tIdx[c] <= lastT;
                normals = normals && face.nIdx[c] >= 1 && face.nIdx[c] <= lastN && isUnit[size_t(face.nIdx[c])];
            }
        }
        everywhereT = everywhereT && tex;
        everywhereN = everywhereN && normals;
        corners += groupCorners[static_cast<size_t>(g)];
    }
    uint64_t texCorners = 0, normalCorners = 0;
    for (size_t g = 0; g < has.size(); ++g) {
        auto& [tex, normals] = has[g];
        if (layout.attributes == TWriteLayout::kNone) tex = normals = false;
        if (layout.attributes == TWriteLayout::kEverywhere) {
            tex = everywhereT;
            normals = everywhereN;
        }
        texCorners += tex && layout.attributeIndices ? groupCorners[g] : 0;
        normalCorners += normals && layout.attributeIndices ? groupCorners[g] : 0;
    }
    // the tables sized once, their pages faulted in on every core
    ResizeFaultedIn(out.faces, faces);
    ResizeFaultedIn(out.vIdx, corners);
    ResizeFaultedIn(out.tIdx, texCorners);
    ResizeFaultedIn(out.nIdx, normalCorners);
    uint64_t atFace = 0, atCorner = 0, atTex = 0, atNormal = 0;

    // a vertex a distinct (position, texture coordinate, normal), numbered by first use:
    // the first one each position meets is kept beside it, any other in a weld
    const size_t slots = static_cast<size_t>(lastV) + 1;
    std::vector<int32_t> firstOf(slots, -1);
    std::vector<std::array<int32_t, 2>> firstKey(slots);
    TWeld<3, int32_t> others;
    std::vector<uint32_t> otherNumbers;  // what each key of the weld is numbered
    std::vector<std::array<int32_t, 3>> keys;
    keys.reserve(slots);
    auto number = [&](const std::array<int32_t, 3>& key) -> int32_t {
        const auto v = static_cast<size_t>(key[0]);
        if (firstOf[v] < 0) {
            firstOf[v] = static_cast<int32_t>(keys.size());
            firstKey[v] = {key[1], key[2]};
            keys.push_back(key);
            return firstOf[v];
        }
        if (firstKey[v][0] == key[1] && firstKey[v][1] == key[2]) return firstOf[v];
        const uint32_t k = others.Add(key);
        if (k == otherNumbers.size()) {
            otherNumbers.push_back(static_cast<uint32_t>(keys.size()));
            keys.push_back(key);
        }
        return static_cast<int32_t>(otherNumbers[k]);
    };
    std::vector<int32_t> numbered;
    for (int32_t g = 0; g <= lastG; ++g) {
        const TGroup& group = model.groups[static_cast<size_t>(g)];
        const auto [tex, normals] = has[static_cast<size_t>(g)];
        std::string name = ShortString(group.name, kGroupNameMax);
        for (char& c : name)  // a name holds no control byte in the form (an OBJ name may)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
        out.groups.push_back({std::move(name), 0});
        const uint32_t flags = (tex ? kFaceHasTexCoords : 0) | (normals ? kFaceHasNormals : 0);
        const bool tIdx = tex && layout.attributeIndices, nIdx = normals && layout.attributeIndices;
        auto emit = [&](const int32_t* c, uint32_t count) {
            out.faces[atFace++] = count | flags;
            for (uint32_t k = 0; k < count; ++k) {
                out.vIdx[atCorner++] = c[k];
                if (tIdx) out.tIdx[atTex++] = c[k];
                if (nIdx) out.nIdx[atNormal++] = c[k];
            }
            ++out.groups.back().faces;
        };
        for (int32_t f = 1; f <= LastFace(group); ++f) {
            const TFace& face = group.faces[static_cast<size_t>(f)];
            const uint32_t n = written(face);
            if (n == 0) continue;
            numbered.clear();
            for (uint32_t c = 0; c < n; ++c)
                numbered.push_back(number({face.vIdx[c], tex ? face.tIdx[c] : 0, normals ? face.nIdx[c] : 0}) + 1);
            if (!layout.triangles) {
                emit(numbered.data(), n);
                continue;
            }
            for (uint32_t k = 1; k + 1 < n; ++k) {
                const int32_t fan[3] = {numbered[0], numbered[k], numbered[k + 1]};
                emit(fan, 3);
            }
        }
    }
    // the vertices' values
    ResizeFaultedIn(out.positions, keys.size() * 3);
    ResizeFaultedIn(out.texCoords, keys.size() * 2);
    ResizeFaultedIn(out.normals, keys.size() * 3);
    for (size_t i = 0; i < keys.size(); ++i) {
        const auto [v, t, n] = keys[i];
        const TVertex& p = model.vertices[static_cast<size_t>(v)];
        out.positions[3 * i] = p.x;
        out.positions[3 * i + 1] = p.y;
        out.positions[3 * i + 2] = p.z;
        const TTexCoord c = t >= 1 ? model.texCoords[static_cast<size_t>(t)] : TTexCoord{};
        out.texCoords[2 * i] = c.u;
        out.texCoords[2 * i + 1] = c.v;
        const std::array<float, 3> u = n >= 1 ? unit(n) : std::array<float, 3>{0, 0, 0};
        std::copy(u.begin(), u.end(), &out.normals[3 * i]);
    }
    return out;
}

// ---------------------------------------------------------------- building

template <size_t N>
void TGeometryBuilder::TTable<N>::UseInOrder(uint32_t from, uint32_t to) {
    numberOf.resize(to, 0);
    std::iota(numberOf.begin() + from, numberOf.end(), from + 1);
    const size_t at = used.size();
    used.resize(at + (to - from));
    std::iota(used.begin() + static_cast<std::ptrdiff_t>(at), used.end(), from);
}

template <size_t N>
void TGeometryBuilder::TTable<N>::WriteOutInOrder() {
    if (inOrder == 0) return;
    const uint32_t count = inOrder;
    inOrder = 0;
    UseInOrder(0, count);
}

template <size_t N>
int32_t TGeometryBuilder::TTable<N>::Number(uint32_t welded, const char* what) {
    WriteOutInOrder();
    if (welded >= numberOf.size()) numberOf.resize(std::max<size_t>(weld.Count(), welded + 1), 0);
    uint32_t& number = numberOf[welded];
    if (number == 0) {
        if (used.size() >= static_cast<size_t>(kCountMax))
            throw ERangeError(std::string("The scene has too many ") + what);
        used.push_back(welded);
        number = static_cast<uint32_t>(used.size());
    }
    return static_cast<int32_t>(number);
}

template <size_t N>
void TGeometryBuilder::TTable<N>::NumberInOrder(TLargeTable<int32_t>& vertices, TLargeTable<int32_t>& corners,
                                                const char* what) {
    const uint32_t count = static_cast<uint32_t>(weld.Count());
    if (uint64_t(Used()) + (count - before) > static_cast<uint64_t>(kCountMax))
        throw ERangeError(std::string("The scene has too many ") + what);
    // every weld number so far its first-use number - 1: it stays so, with no table
    const bool allInOrder = inOrder == before && used.empty();
    if (allInOrder) {
        inOrder = count;
    } else {
        WriteOutInOrder();
        UseInOrder(before, count);
    }
    const size_t at = corners.size();
    if (at == 0)
        corners.swap(vertices);  // the mesh's own table, not a copy of it
    else
        corners.insert(corners.end(), vertices.begin(), vertices.end());
    for (auto c = corners.begin() + static_cast<std::ptrdiff_t>(at); c != corners.end(); ++c) {
        const auto w = static_cast<uint32_t>(*c);
        *c = static_cast<int32_t>(w >= before || allInOrder ? w + 1 : numberOf[w]);
    }
}

void TGeometryBuilder::BeginMesh(std::string groupName, std::string messageName, uint32_t vertices, bool normals,
                                 bool texCoords, uint64_t faces, uint64_t corners, uint32_t share,
                                 uint32_t positionShare) {
    if (out_.groups.size() >= static_cast<size_t>(kCountMax)) throw ERangeError("The scene has too many meshes");
    out_.groups.push_back({std::move(groupName), 0});
    messageName_ = std::move(messageName);
    vertices_ = vertices;
    hasNormals_ = normals;
    hasTexCoords_ = texCoords;
    position_.clear();
    normal_.clear();
    texCoord_.clear();
    fresh_ = vertices / std::max<uint32_t>(share, 1);
    freshPositions_ = positionShare ? vertices / positionShare : fresh_;
    positions_.before = static_cast<uint32_t>(positions_.weld.Count());
    normals_.before = static_cast<uint32_t>(normals_.weld.Count());
    texCoords_.before = static_cast<uint32_t>(texCoords_.weld.Count());
    corners = std::min<uint64_t>(corners, kCountMax);
    ReserveGrowing(out_.faces, out_.faces.size() + std::min<uint64_t>(faces, kCountMax));
    ReserveGrowing(out_.vIdx, out_.vIdx.size() + corners);
    if (texCoords) ReserveGrowing(out_.tIdx, out_.tIdx.size() + corners);
    if (normals) ReserveGrowing(out_.nIdx, out_.nIdx.size() + corners);
}

void TGeometryBuilder::RunTableJobs(const std::function<void()> (&jobs)[3], uint64_t items, size_t tables) {
    const size_t threads = std::min(tables, WorkThreads(items, kItemsPerThread));
    if (threads <= 1) {
        for (const auto& job : jobs) job();
        return;
    }
    // each thread its share of the tables, in turn
    OnEachThread(threads, [&](size_t t) {
        for (size_t j = t; j < 3; j += threads) jobs[j]();
    });
}

void TGeometryBuilder::RequireFinitePosition(uint32_t welded) const {
    const auto& p = positions_.weld.Values()[welded];
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]))
        throw EReadError("A vertex of mesh '" + QuoteText(messageName_, 64) +
                         "' has a position that is not a finite number");
}

void TGeometryBuilder::Face(const uint32_t* corners, uint32_t n) {
    if (out_.faces.size() >= static_cast<size_t>(kCountMax)) throw ERangeError("The scene has too many faces");
    if (n > kFaceCornerBits) throw ERangeError("A face has too many corners");
    for (uint32_t c = 0; c < n; ++c) {
        const uint32_t k = corners[c];
        if (k >= position_.size())  // vertices_ once Vertices has numbered them
            throw ERangeError("A face of mesh '" + QuoteText(messageName_, 64) + "' names vertex " + std::to_string(k) +
                              " of " + std::to_string(vertices_));
        // a position is looked at when a corner first uses it
        const uint32_t w = position_[k];
        if (!positions_.IsUsed(w)) RequireFinitePosition(w);
    }
    for (uint32_t c = 0; c < n; ++c) out_.vIdx.push_back(positions_.Number(position_[corners[c]], "vertices"));
    if (hasTexCoords_)
        for (uint32_t c = 0; c < n; ++c)
            out_.tIdx.push_back(texCoords_.Number(texCoord_[corners[c]], "texture coordinates"));
    if (hasNormals_)
        for (uint32_t c = 0; c < n; ++c) out_.nIdx.push_back(normals_.Number(normal_[corners[c]], "normals"));
    out_.faces.push_back(n | (hasTexCoords_ ? kFaceHasTexCoords : 0) | (hasNormals_ ? kFaceHasNormals : 0));
    ++out_.groups.back().faces;
}

void TGeometryBuilder::ConsecutiveFaces(uint32_t n, uint64_t faces) {
    const bool inOrder = n >= 3 && n * faces == vertices_ && position_.size() == vertices_ &&
                         positions_.InWeldOrder() && (!hasNormals_ || normals_.InWeldOrder()) &&
                         (!hasTexCoords_ || texCoords_.InWeldOrder());
    if (!inOrder || out_.faces.size() + faces > static_cast<size_t>(kCountMax) || n > kFaceCornerBits) {
        std::vector<uint32_t> corners(n);
        for (uint64_t f = 0; f < faces; ++f) {
            for (uint32_t c = 0; c < n; ++c) corners[c] = static_cast<uint32_t>(n * f + c);
            Face(corners.data(), n);
        }
        return;
    }
    // every new position is used: the first one that is not finite is the first a face meets
    for (uint32_t w = positions_.before; w < positions_.weld.Count(); ++w) RequireFinitePosition(w);
    const std::function<void()> jobs[3] = {[&] { positions_.NumberInOrder(position_, out_.vIdx, "vertices"); },
                                           [&] {
                                               if (hasNormals_) normals_.NumberInOrder(normal_, out_.nIdx, "normals");
                                           },
                                           [&] {
                                               if (hasTexCoords_)
                                                   texCoords_.NumberInOrder(texCoord_, out_.tIdx,
                                                                            "texture coordinates");
                                           }};
    RunTableJobs(jobs, vertices_, 1 + hasNormals_ + hasTexCoords_);
    out_.faces.insert(out_.faces.end(), faces,
                      n | (hasTexCoords_ ? kFaceHasTexCoords : 0) | (hasNormals_ ? kFaceHasNormals : 0));
    out_.groups.back().faces += static_cast<uint32_t>(faces);
}

TGeometry TGeometryBuilder::Finish() {
    if (out_.faces.empty()) throw EReadError("The scene holds no polygon (only points, lines or no mesh at all)");
    // the values of the three tables in use order, as one run of items shared out over the
    // cores, in the pages the welds' places and numbers give back
    const TReuseLargeBlocks reuse;
    positions_.Release();
    normals_.Release();
    texCoords_.Release();
    const uint64_t p = positions_.Used(), n = normals_.Used(), t = texCoords_.Used();
    out_.positions.resize(3 * p);
    out_.normals.resize(3 * n);
    out_.texCoords.resize(2 * t);
    auto values = [](const auto& table, TLargeTable<float>& out, uint64_t b, uint64_t e) {
        const auto& welded = table.weld.Values();
        constexpr size_t N = std::tuple_size_v<std::decay_t<decltype(welded[0])>>;
        for (uint64_t i = b; i < e; ++i) {
            const auto& value = welded[table.UsedAt(i)];
            for (size_t c = 0; c < N; ++c) out[N * i + c] = AsWrittenInOBJ(value[c]);
        }
    };
    ParallelRanges(WorkThreads(p + n + t, kItemsPerThread), p + n + t, [&](size_t, uint64_t b, uint64_t e) {
        values(positions_, out_.positions, std::min(b, p), std::min(e, p));
        values(normals_, out_.normals, std::clamp(b, p, p + n) - p, std::clamp(e, p, p + n) - p);
        values(texCoords_, out_.texCoords, std::max(b, p + n) - p - n, std::max(e, p + n) - p - n);
    });
    return std::move(out_);
}

}  // namespace kgl
