// The KGM model file: writer and reader, exact mirrors of each other.
//
// Every field is written and read byte by byte in little-endian order (never a struct
// dump), through large buffers. The reader trusts nothing: every count is checked
// against the bytes that remain before a table is sized, and every index with a fixed
// range is checked against its table, so a hostile file fails with a message instead
// of allocating gigabytes or pointing outside a table. It reads into a fresh record
// and takes it over only when the whole file was good.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <thread>

#include "KGLModel.h"
#include "errors.h"
#include "face_table.h"
#include "files.h"
#include "messages.h"
#include "parallel.h"
#include "progress.h"
#include "reduction_tables.h"
#include "reporting.h"

namespace kgl {

namespace {

constexpr char kMagic[] = "KGL_Model_file";
constexpr size_t kMagicCapacity = 20;
constexpr char kVersion[] = "0.1";
constexpr size_t kVersionCapacity = 5;
constexpr size_t kVertexBytes = 20, kNormalBytes = 12, kTexCoordBytes = 12, kEdgeBytes = 40;
constexpr size_t kGroupHeaderBytes = 79, kEmptyFaceBytes = 21;
constexpr uint64_t kBytesPerThread = uint64_t(8) << 20;  // a second reading thread pays from here on

// ---------------------------------------------------------------- writing

void ShortStr(TOutput& out, const std::string& text, size_t capacity) {
    size_t n = text.size() < capacity ? text.size() : capacity;
    out.U8(static_cast<uint8_t>(n));
    out.Bytes(text.data(), n);
    out.Zeros(capacity - n);
}

// Little-endian fields one after another: float 4 bytes, int32 4, double 8.
inline void Field(TOutput& out, float v) { out.F32(v); }
inline void Field(TOutput& out, int32_t v) { out.I32(v); }
inline void Field(TOutput& out, double v) { out.F64(v); }
template <class... T>
void Fields(TOutput& out, T... values) {
    (Field(out, values), ...);
}

void Vec3(TOutput& out, const TVec3& v) { Fields(out, v.x, v.y, v.z); }

void IndexList(TOutput& out, const TIndexList& list) {
    out.I32(static_cast<int32_t>(list.size()) - 1);  // last index, -1 when empty
    for (int32_t i : list) out.I32(i);
}

void WriteFace(TOutput& out, const TFace& f) {
    out.F64(f.area);
    out.U8(f.visible ? 1 : 0);
    // count is the length of vIdx after every load; a count past vIdx is padded with 0
    int32_t count = f.count > 0 ? f.count : 0;
    out.I32(count);
    for (int32_t j = 0; j < count; ++j)
        out.I32(static_cast<uint32_t>(j) < f.vIdx.size() ? f.vIdx[static_cast<uint32_t>(j)] : 0);
    IndexList(out, f.nIdx);  // normals before texture indices, as the format has it
    IndexList(out, f.tIdx);
}

// Slots 0 .. count of a table; a slot the table lacks is written zero-filled.
template <class Table, class F>
void Slots(const Table& table, int32_t count, F write) {
    for (int64_t s = 0; s <= count; ++s) write(SlotOrZero(table, s));
}

// Records the writer will write: progress is counted in them.
uint64_t RecordCount(const TKGLModel& m) {
    auto slots = [](int32_t count) { return count >= 0 ? static_cast<uint64_t>(count) + 1 : 0; };
    uint64_t n = slots(m.vCount) + slots(m.nCount) + slots(m.tCount) + slots(m.eCount);
    for (int64_t g = 0; g <= m.gCount && static_cast<size_t>(g) < m.groups.size(); ++g)
        n += slots(m.groups[static_cast<size_t>(g)].fCount);
    return n;
}

void WriteModel(const TKGLModel& m, TOutput& out) {
    TProgressMeter meter(RecordCount(m), 1 << 16);
    uint64_t done = 0;
    auto tick = [&] { meter.At(++done); };
    ShortStr(out, kMagic, kMagicCapacity);
    ShortStr(out, kVersion, kVersionCapacity);
    Vec3(out, m.boxMin);
    Vec3(out, m.boxMax);
    Vec3(out, m.center);
    Vec3(out, m.centroid);
    Fields(out, m.diagonal, m.minArea, m.maxArea, m.scale);
    ShortStr(out, m.name, kModelNameMax);
    Fields(out, m.vCount, m.nCount, m.tCount, m.gCount, m.fCount, m.eCount);
    Slots(m.vertices, m.vCount, [&](const TVertex& v) {
        tick();
        Fields(out, v.x, v.y, v.z, v.target, v.merges);
    });
    Slots(m.normals, m.nCount, [&](const TVec3& n) {
        tick();
        Vec3(out, n);
    });
    Slots(m.texCoords, m.tCount, [&](const TTexCoord& t) {
        tick();
        Fields(out, t.u, t.v, t.target);
    });
    Slots(m.edges, m.eCount, [&](const TEdge& e) {
        tick();
        Fields(out, e.corner0, e.corner1, e.face, e.face2, e.group);
        out.Zeros(4);
        out.F64(e.weight);
        out.U8(e.active ? 1 : 0);
        out.Zeros(7);
    });
    Slots(m.groups, m.gCount, [&](const TGroup& g) {
        ShortStr(out, g.name, kGroupNameMax);
        Vec3(out, g.boxMin);
        Vec3(out, g.boxMax);
        out.I32(g.fCount);
        Slots(g.faces, g.fCount, [&](const TFace& f) {
            tick();
            WriteFace(out, f);
        });
    });
    out.Flush();
}

// ---------------------------------------------------------------- reading

// How far the reading of a file has come, shared by the inputs that read its parts on
// two threads. Only the calling thread reports (the handler may belong to a toolkit
// that is not to be called from elsewhere); the bytes counted are both threads'.
struct TReadProgress {
    TReadProgress(uint64_t total, uint64_t step) : meter(total, step) {}
    std::atomic<uint64_t> bytes{0};
    TProgressMeter meter;
};

// Bytes of the input: of memory, or of a file read through a large buffer.
// Remaining() is exact in both cases, which is what the count checks need.
class TInput {
public:
    static constexpr size_t kBufferSize = size_t(1) << 20;

    TInput(std::string_view bytes, const std::string& name)
        : base_(reinterpret_cast<const uint8_t*>(bytes.data())), p_(base_), end_(base_ + bytes.size()), name_(name) {}
    TInput(int fd, uint64_t begin, uint64_t end, const std::string& name)
        : fd_(fd),
          next_(begin),
          rest_(end - begin),
          name_(name),
          progress_(std::make_shared<TReadProgress>(end - begin, kBufferSize)) {
        buf_.resize(static_cast<size_t>(std::min<uint64_t>(kBufferSize, rest_)));
        p_ = end_ = reinterpret_cast<const uint8_t*>(buf_.data());
    }
    TInput(const TInput&) = delete;
    TInput& operator=(const TInput&) = delete;

    uint64_t Remaining() const { return static_cast<uint64_t>(end_ - p_) + rest_; }
    // The input from skip bytes past the position to the end, read on its own (by another
    // thread); skip <= Remaining().
    std::unique_ptr<TInput> Rest(uint64_t skip) const {
        if (fd_ < 0)
            return std::make_unique<TInput>(
                std::string_view(reinterpret_cast<const char*>(p_ + skip), static_cast<size_t>(Remaining() - skip)),
                name_);
        const uint64_t at = next_ - static_cast<uint64_t>(end_ - p_) + skip;
        auto rest = std::make_unique<TInput>(fd_, at, next_ + rest_, name_);
        rest->progress_ = progress_;  // one count of the file's bytes
        return rest;
    }
    // Whether the thread that reads this input may report progress (the calling one).
    void SetReporting(bool reports) { reports_ = reports; }
    const std::string& Name() const { return name_; }
    void Section(const char* what) { section_ = what; }
    // The second line of a failure's message: the file and the block being read.
    std::string Where() const { return PlaceOf(name_ == kMemoryName ? std::string() : name_) + ", " + section_; }
    static constexpr const char* kMemoryName = "(memory)";

    // n <= kBufferSize
    const uint8_t* Take(size_t n) {
        if (static_cast<size_t>(end_ - p_) < n) Refill(n);
        const uint8_t* r = p_;
        p_ += n;
        return r;
    }
    uint8_t U8() { return *Take(1); }
    int32_t I32() { return GetI32(Take(4)); }
    double F64() { return GetF64(Take(8)); }
    float F32() { return GetF32(Take(4)); }

    static uint32_t GetU32(const uint8_t* p) {
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    static int32_t GetI32(const uint8_t* p) { return static_cast<int32_t>(GetU32(p)); }
    static float GetF32(const uint8_t* p) {
        uint32_t u = GetU32(p);
        float f;
        std::memcpy(&f, &u, 4);
        return f;
    }
    static double GetF64(const uint8_t* p) {
        uint64_t u = uint64_t(GetU32(p)) | uint64_t(GetU32(p + 4)) << 32;
        double d;
        std::memcpy(&d, &u, 8);
        return d;
    }

    [[noreturn]] void Truncated() const {
        throw EReadError("KGM model file '" + name_ + "' ends inside its " + section_);
    }

private:
    void Refill(size_t n) {
        if (Remaining() < n || fd_ < 0) Truncated();
        size_t left = static_cast<size_t>(end_ - p_);
        std::memmove(buf_.data(), p_, left);
        size_t want = buf_.size() - left;
        if (want > rest_) want = static_cast<size_t>(rest_);
        size_t got = 0;
        while (got < want) {
            const ssize_t r = pread(fd_, buf_.data() + left + got, want - got, static_cast<off_t>(next_ + got));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) throw EInOutError("Cannot read file '" + name_ + "': " + std::strerror(errno));
            if (r == 0) Truncated();  // the file shrank while it was read
            got += static_cast<size_t>(r);
        }
        next_ += got;
        rest_ -= got;
        if (progress_) {
            const uint64_t done = progress_->bytes.fetch_add(got, std::memory_order_relaxed) + got;
            if (reports_) progress_->meter.At(done);
        }
        p_ = reinterpret_cast<const uint8_t*>(buf_.data());
        end_ = p_ + left + got;
    }

    int fd_ = -1;
    const uint8_t* base_ = nullptr;  // memory: the whole input
    const uint8_t* p_ = nullptr;
    const uint8_t* end_ = nullptr;
    uint64_t next_ = 0;      // file: offset of the first byte not yet in the buffer
    uint64_t rest_ = 0;      // bytes of the range not yet in the buffer
    TLargeTable<char> buf_;  // a large block: faulted in at once
    std::string name_;
    const char* section_ = "header";
    std::shared_ptr<TReadProgress> progress_;  // file: in bytes, as blocks come in
    bool reports_ = true;
};

std::string ReadShortStr(TInput& in, size_t capacity, const char* what) {
    const uint8_t* p = in.Take(capacity + 1);
    if (p[0] > capacity)
        throw EReadError("KGM model file '" + in.Name() + "' has a " + what + " of length " + std::to_string(p[0]) +
                         ", more than " + std::to_string(capacity) + " characters");
    return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

TVec3 ReadVec3(TInput& in) {
    const uint8_t* p = in.Take(12);
    return {TInput::GetF32(p), TInput::GetF32(p + 4), TInput::GetF32(p + 8)};
}

// A count of -1 means an empty block; the block of count + 1 records must fit in what
// is left of the input before anything is sized for it.
[[noreturn]] __attribute__((noinline)) void BadCount(TInput& in, int64_t count, const char* what) {
    if (count < -1)
        throw EReadError("KGM model file '" + in.Name() + "' has an invalid " + std::string(what) + " count " +
                         std::to_string(count));
    throw EReadError("KGM model file '" + in.Name() + "' is too short for its " + std::string(what) + " count " +
                     std::to_string(count));
}

inline void CheckCount(TInput& in, int64_t count, size_t recordBytes, const char* what) {
    if (count < -1 || static_cast<uint64_t>(count + 1) * recordBytes > in.Remaining()) [[unlikely]]
        BadCount(in, count, what);
}

[[noreturn]] void OutOfRange(TInput& in, const std::string& where, const char* what, int64_t value, int64_t lo,
                             int64_t hi) {
    throw ERangeError("KGM model file '" + in.Name() + "': " + where + " has " + what + " " + std::to_string(value) +
                      ", outside " + std::to_string(lo) + " .. " + std::to_string(hi));
}

inline int32_t CheckedTarget(TInput& in, int32_t target, int32_t count, const char* table, int64_t slot) {
    if (target < kTargetPinned || target > count)
        OutOfRange(in, std::string(table) + " " + std::to_string(slot), "target", target, kTargetPinned, count);
    return target;
}

std::string FaceName(int32_t g, int32_t f) { return "face " + std::to_string(f) + " of group " + std::to_string(g); }

void ReadIndices(TInput& in, TIndexList& list, int64_t n, int32_t count, int32_t g, int32_t f, const char* what) {
    list.reserve(static_cast<uint32_t>(n));  // nothing for the short lists kept inline
    for (int64_t j = 0; j < n;) {
        const int64_t k = n - j < 64 ? n - j : 64;  // whole runs of indices per buffer check
        const uint8_t* p = in.Take(static_cast<size_t>(k) * 4);
        for (int64_t x = 0; x < k; ++x, ++j, p += 4) {
            const int32_t v = TInput::GetI32(p);
            if (v < 0 || v > count) [[unlikely]]
                OutOfRange(in, FaceName(g, f), what, v, 0, count);
            list.push_back(v);
        }
    }
}

// Last index of an index list (-1 when empty), checked against what remains.
int64_t ReadListLength(TInput& in, const char* what) {
    int32_t last = in.I32();
    CheckCount(in, last, 4, what);
    return static_cast<int64_t>(last) + 1;
}

// Two consecutive corners (or the first and the last) on the same vertex: what the
// reduction at full detail hides.
bool RepeatsACorner(const TIndexList& v) {
    const uint32_t n = v.size();
    if (n == 0) return false;
    for (uint32_t j = 1; j < n; ++j)
        if (v[j] == v[j - 1]) return true;
    return v[0] == v[n - 1];
}

// The blocks of fixed-size records: vertices, normals, texture coordinates, edges.
// full: leave them as Reduce(model, 0.0) would (targets free unless pinned, merges 0,
// every edge active).
void ReadFixedBlocks(TInput& in, TKGLModel& m, bool full) {
    const int32_t vCount = m.vCount, nCount = m.nCount, tCount = m.tCount, eCount = m.eCount;
    in.Section("vertex block");
    for (int32_t s = 0; s <= vCount; ++s) {
        const uint8_t* r = in.Take(kVertexBytes);
        TVertex& v = m.vertices[static_cast<size_t>(s)];
        v.x = TInput::GetF32(r);
        v.y = TInput::GetF32(r + 4);
        v.z = TInput::GetF32(r + 8);
        v.target = CheckedTarget(in, TInput::GetI32(r + 12), vCount, "vertex", s);
        v.merges = TInput::GetI32(r + 16);
        if (full) {
            if (v.target != kTargetPinned) v.target = kTargetFree;
            v.merges = 0;
        }
    }
    in.Section("normal block");
    for (int32_t s = 0; s <= nCount; ++s) m.normals[static_cast<size_t>(s)] = ReadVec3(in);
    in.Section("texture coordinate block");
    for (int32_t s = 0; s <= tCount; ++s) {
        const uint8_t* r = in.Take(kTexCoordBytes);
        TTexCoord& t = m.texCoords[static_cast<size_t>(s)];
        t.u = TInput::GetF32(r);
        t.v = TInput::GetF32(r + 4);
        t.target = CheckedTarget(in, TInput::GetI32(r + 8), tCount, "texture coordinate", s);
        if (full && t.target != kTargetPinned) t.target = kTargetFree;
    }
    in.Section("edge block");
    m.edges.reserve(static_cast<size_t>(eCount) + 2);  // filled record by record, never zero-filled first
    for (int32_t s = 0; s <= eCount; ++s) {
        const uint8_t* r = in.Take(kEdgeBytes);
        TEdge& e = m.edges.emplace_back();
        e.corner0 = TInput::GetI32(r);
        e.corner1 = TInput::GetI32(r + 4);
        e.face = TInput::GetI32(r + 8);
        e.face2 = TInput::GetI32(r + 12);
        e.group = TInput::GetI32(r + 16);
        e.weight = TInput::GetF64(r + 24);
        e.active = full || r[32] ? 1 : 0;
    }
    m.edges.resize(static_cast<size_t>(eCount) + 2);  // the all-zero spare at eCount + 1
}

// The group blocks with their faces, to the end of the input. full: faces 1 .. fCount
// visible unless they repeat a corner, as Reduce(model, 0.0) would leave them.
// corners (when given) gets the corner count of every face, group after group, and
// first[g] the place of group g's face 0 in it: the plain load's edge check looks faces
// up in edge order, all over the face tables, and this keeps those lookups small.
void ReadGroupBlocks(TInput& in, TKGLModel& m, bool full, TLargeTable<int32_t>* corners, std::vector<size_t>& first) {
    const int32_t vCount = m.vCount, nCount = m.nCount, tCount = m.tCount, gCount = m.gCount;
    for (int32_t g = 0; g <= gCount; ++g) {
        in.Section("group blocks");
        TGroup& group = m.groups[static_cast<size_t>(g)];
        group.name = ReadShortStr(in, kGroupNameMax, "group name");
        group.boxMin = ReadVec3(in);
        group.boxMax = ReadVec3(in);
        group.fCount = in.I32();
        CheckCount(in, group.fCount, kEmptyFaceBytes, "face");
        group.faces.clear();
        group.faces.reserve(static_cast<size_t>(group.fCount) + 2);  // built face by face, touched once
        if (corners) first[static_cast<size_t>(g)] = corners->size();
        in.Section("face records");
        for (int32_t f = 0; f <= group.fCount; ++f) {
            TFace& face = group.faces.emplace_back();
            const uint8_t* r = in.Take(13);
            face.area = TInput::GetF64(r);
            face.visible = r[8] ? 1 : 0;
            face.count = TInput::GetI32(r + 9);
            if (face.count < 0) OutOfRange(in, FaceName(g, f), "corner count", face.count, 0, INT32_MAX);
            CheckCount(in, face.count - 1, 4, "corner");
            ReadIndices(in, face.vIdx, face.count, vCount, g, f, "vertex index");
            ReadIndices(in, face.nIdx, ReadListLength(in, "normal index"), nCount, g, f, "normal index");
            ReadIndices(in, face.tIdx, ReadListLength(in, "texture index"), tCount, g, f, "texture index");
            if (full && f >= 1) face.visible = RepeatsACorner(face.vIdx) ? 0 : 1;
            if (corners) corners->push_back(face.count);
        }
        group.faces.emplace_back();  // the spare slot fCount + 1
    }
}

// Runs read(); a failure learns the block of in it happened in.
template <class F>
void Located(TInput& in, F&& read) {
    LocatedBy([&] { return in.Where(); }, read);
}

void ReadModel(TInput& in, TKGLModel& m, bool fullDetail) {
    in.Section("header");
    if (in.Remaining() < 27) throw EReadError("'" + in.Name() + "' is not a KGM model file");
    const uint8_t* p = in.Take(27);
    if (p[0] != std::strlen(kMagic) || std::memcmp(p + 1, kMagic, std::strlen(kMagic)) != 0 ||
        p[21] != std::strlen(kVersion) || std::memcmp(p + 22, kVersion, std::strlen(kVersion)) != 0)
        throw EReadError("'" + in.Name() + "' is not a KGM model file");

    InitModel(m);
    m.boxMin = ReadVec3(in);
    m.boxMax = ReadVec3(in);
    m.center = ReadVec3(in);
    m.centroid = ReadVec3(in);
    m.diagonal = in.F64();
    m.minArea = in.F64();
    m.maxArea = in.F64();
    m.scale = in.F64();
    m.name = ReadShortStr(in, kModelNameMax, "model name");
    const int32_t vCount = in.I32(), nCount = in.I32(), tCount = in.I32();
    const int32_t gCount = in.I32(), fCount = in.I32(), eCount = in.I32();

    // Every block must fit before any table is sized; fixed-size blocks are checked
    // together so that one hostile count cannot pass because another is small.
    uint64_t fixedBytes = 0;
    const std::pair<int32_t, std::pair<size_t, const char*>> blocks[] = {
        {vCount, {kVertexBytes, "vertex"}},
        {nCount, {kNormalBytes, "normal"}},
        {tCount, {kTexCoordBytes, "texture coordinate"}},
        {eCount, {kEdgeBytes, "edge"}},
        {gCount, {kGroupHeaderBytes, "group"}},
    };
    for (const auto& [count, rec] : blocks) {
        CheckCount(in, count, rec.first, rec.second);
        fixedBytes += static_cast<uint64_t>(count + 1) * rec.first;
    }
    if (fixedBytes > in.Remaining())
        throw EReadError("KGM model file '" + in.Name() + "' is too short for the counts in its header");
    // fCount sizes nothing, but every face it counts is a record of at least 21 bytes
    if (fCount < -1 || static_cast<uint64_t>(fCount > 0 ? fCount : 0) * kEmptyFaceBytes > in.Remaining() - fixedBytes)
        throw EReadError("KGM model file '" + in.Name() + "' has an invalid face count " + std::to_string(fCount));

    m.vCount = vCount;
    m.nCount = nCount;
    m.tCount = tCount;
    m.gCount = gCount;
    m.fCount = fCount;
    m.eCount = eCount;
    AllocateModel(m);
    // the reduction at full detail changes nothing in a model without vertices or faces
    const bool full = fullDetail && vCount >= 1 && fCount >= 1;

    // the display load checks edges in the reduction's pass over the faces instead
    TLargeTable<int32_t> corners;
    corners.reserve(static_cast<size_t>(std::max(fCount, 0)) + static_cast<size_t>(gCount + 1));
    std::vector<size_t> first(static_cast<size_t>(gCount + 1));
    // A large file is read on two threads: the fixed-size blocks, whose size the header
    // gives, on one, the group blocks after them on the other. The first block that fails
    // is the one reported, as when they are read one after the other.
    if (WorkThreads(in.Remaining(), kBytesPerThread) > 1 && gCount >= 0) {
        const std::unique_ptr<TInput> groups =
            in.Rest(fixedBytes - static_cast<uint64_t>(gCount + 1) * kGroupHeaderBytes);  // the group headers aside
        std::exception_ptr fixedFailed, groupsFailed;
        in.SetReporting(false);  // read on the other thread from here on
        std::thread fixed([&] {
            try {
                Located(in, [&] { ReadFixedBlocks(in, m, full); });
            } catch (...) {
                fixedFailed = std::current_exception();
            }
        });
        try {
            Located(*groups, [&] { ReadGroupBlocks(*groups, m, full, &corners, first); });
        } catch (...) {
            groupsFailed = std::current_exception();
        }
        fixed.join();
        if (fixedFailed) std::rethrow_exception(fixedFailed);
        if (groupsFailed) std::rethrow_exception(groupsFailed);
    } else {
        ReadFixedBlocks(in, m, full);
        ReadGroupBlocks(in, m, full, &corners, first);
    }

    // The header's total must be the groups' own (-1 in a freed model, which has no
    // faces): it sizes the face selection and numbers faces across groups, and a file
    // saved from this model must load again.
    in.Section("group blocks");
    int64_t groupFaces = 0;
    for (int32_t g = 0; g <= gCount; ++g) groupFaces += std::max(m.groups[static_cast<size_t>(g)].fCount, 0);
    if (groupFaces != (fCount < 0 ? 0 : fCount))
        throw EReadError("KGM model file '" + in.Name() + "' has a face count " + std::to_string(fCount) +
                         " but its groups hold " + std::to_string(groupFaces) + " faces");

    in.Section("edge block");
    // Edges name their face and corners; face2 has no fixed range and is guarded
    // where it is used. An edge without a face (face < 1) has both ends at 0.
    // Whether edge s is sound; with report, the failure of one that is not.
    auto checkEdge = [&](int32_t s, bool report) {
        const TEdge& e = m.edges[static_cast<size_t>(s)];
        if (e.face < 1) return true;
        auto where = [s] { return "edge " + std::to_string(s); };
        if (e.group < 0 || e.group > gCount) {
            if (report) OutOfRange(in, where(), "group", e.group, 0, gCount);
            return false;
        }
        const int32_t faces = m.groups[static_cast<size_t>(e.group)].fCount;
        if (e.face > faces) {
            if (report) OutOfRange(in, where(), "face", e.face, 1, faces);
            return false;
        }
        const int32_t n = corners[first[static_cast<size_t>(e.group)] + static_cast<size_t>(e.face)];
        for (const int32_t c : {e.corner0, e.corner1})
            if (c < 0 || c >= n) {
                if (report) OutOfRange(in, where(), "corner", c, 0, n - 1);
                return false;
            }
        return true;
    };
    // each thread finds the first unsound edge of its range; the first of those fails
    const uint64_t entries = static_cast<uint64_t>(eCount) + 1;
    const size_t threads = WorkThreads(entries, kItemsPerThread * 4);
    std::vector<int32_t> bad(threads, -1);
    ParallelRanges(threads, entries, [&](size_t t, uint64_t b, uint64_t e) {
        for (uint64_t s = b; s < e; ++s)
            if (!checkEdge(static_cast<int32_t>(s), false)) {
                bad[t] = static_cast<int32_t>(s);
                return;
            }
    });
    for (const int32_t s : bad)
        if (s >= 0) checkEdge(s, true);
}

// Reads into a fresh record and takes it over only on success; reports a failure.
bool LoadInto(TKGLModel& model, TInput& in, bool fullDetail) {
    TKGLModel fresh;
    const bool ok = ReportFailure([&] { Located(in, [&] { ReadModel(in, fresh, fullDetail); }); },
                                  in.Name() == TInput::kMemoryName ? std::string() : in.Name());
    if (ok) TakeLoadedModel(model, fresh);
    return ok;
}

bool LoadFile(TKGLModel& model, const std::string& fileName, bool fullDetail) {
    int fd = -1;
    std::optional<TInput> in;
    const bool opened = ReportFailure(
        [&] {
            uint64_t size = 0;
            fd = OpenRegularFile(fileName, size);
            if (fd >= 0) in.emplace(fd, 0, size, fileName);
        },
        fileName);
    const bool ok = opened && in && LoadInto(model, *in, fullDetail);  // no file: silently false
    if (fd >= 0) close(fd);
    return ok;
}

}  // namespace

std::string SaveToKGMBytes(const TKGLModel& model) {
    std::string bytes;
    TOutput out(bytes);
    WriteModel(model, out);
    return bytes;
}

void SaveToKGM(const TKGLModel& model, const std::string& fileName) {
    TSafeFile file(fileName);
    TOutput out(file.File(), fileName);
    WriteModel(model, out);
    file.Commit();
}

bool LoadKGMFromMemory(TKGLModel& model, std::string_view bytes) {
    TInput in(bytes, TInput::kMemoryName);
    return LoadInto(model, in, false);
}

bool LoadKGM(TKGLModel& model, const std::string& fileName) { return LoadFile(model, fileName, false); }

bool LoadKGMAtFullDetail(TKGLModel& model, const std::string& fileName) { return LoadFile(model, fileName, true); }

void ReadKGMFileAtFullDetail(TKGLModel& fresh, const std::string& fileName) {
    uint64_t size = 0;
    const int fd = OpenRegularFile(fileName, size);
    if (fd < 0) {
        EInOutError e("Cannot read file \"" + fileName + "\": there is no such file");
        e.Locate(PlaceOf(fileName));
        throw e;
    }
    struct TCloser {
        int fd;
        ~TCloser() { close(fd); }
    } closer{fd};
    TInput in(fd, 0, size, fileName);
    Located(in, [&] { ReadModel(in, fresh, true); });
}

bool LoadKGMFromMemoryAtFullDetail(TKGLModel& model, std::string_view bytes) {
    TInput in(bytes, TInput::kMemoryName);
    return LoadInto(model, in, true);
}

}  // namespace kgl
