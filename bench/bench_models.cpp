#include "bench_models.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#ifndef KGL_BENCH_MODEL_DIR_DEFAULT
#define KGL_BENCH_MODEL_DIR_DEFAULT "bench-models"
#endif

namespace kgl::bench {

namespace {

constexpr int kGeneratorVersion = 1;  // bump when the file content changes
constexpr int kBands = 4;

struct TGrid {
    int64_t nx, ny;  // cells per row, rows
};

TGrid GridFor(int64_t triangles) {
    if (triangles < 2) triangles = 2;
    int64_t nx = static_cast<int64_t>(std::llround(std::sqrt(static_cast<double>(triangles))));
    if (nx < 1) nx = 1;
    int64_t ny = triangles / (2 * nx);
    if (ny < 1) ny = 1;
    return {nx, ny};
}

// Buffered writer with locale-free number formatting.
class TOut {
public:
    explicit TOut(std::FILE* f) : f_(f) { buf_.reserve(1 << 20); }
    void Chars(const char* s) {
        while (*s) buf_.push_back(*s++);
        Flush(false);
    }
    void Int(int64_t v) {
        char tmp[24];
        auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        buf_.append(tmp, r.ptr);
    }
    // fixed notation with six decimals, as exporters commonly write
    void Real(double v) {
        char tmp[48];
        auto r = std::to_chars(tmp, tmp + sizeof tmp, v, std::chars_format::fixed, 6);
        buf_.append(tmp, r.ptr);
    }
    void Char(char c) { buf_.push_back(c); }
    void Flush(bool force) {
        if (buf_.size() >= (1u << 20) || (force && !buf_.empty())) {
            if (std::fwrite(buf_.data(), 1, buf_.size(), f_) != buf_.size()) failed_ = true;
            buf_.clear();
        }
    }
    bool failed() const { return failed_; }

private:
    std::FILE* f_;
    std::string buf_;
    bool failed_ = false;
};

double ColumnX(int64_t i) { return static_cast<double>(i) + 0.35 * std::sin(static_cast<double>(i) * 0.37); }
double RowY(int64_t j) { return static_cast<double>(j) + 0.35 * std::cos(static_cast<double>(j) * 0.23); }
double Height(double x, double y) { return 3.0 * std::sin(x * 0.05) * std::cos(y * 0.07); }

// The two triangles of every cell of row j, as 0-based vertex numbers (row by row).
template <class F>
void RowTriangles(const TGrid& g, int64_t j, F&& triangle) {
    const int64_t rowVerts = g.nx + 1;
    for (int64_t i = 0; i < g.nx; ++i) {
        const int64_t a = j * rowVerts + i, c = a + rowVerts;
        // alternate the diagonal so neighbouring cells differ
        const bool flip = ((i + j) & 1) != 0;
        const int64_t t1[3] = {a, a + 1, flip ? c : c + 1};
        const int64_t t2[3] = {flip ? a + 1 : a, c + 1, c};
        triangle(t1);
        triangle(t2);
    }
}

// Every vertex position, row by row, as the floats a binary file holds.
std::vector<float> Positions(const TGrid& g) {
    std::vector<float> p;
    p.reserve(static_cast<size_t>(3 * (g.nx + 1) * (g.ny + 1)));
    for (int64_t j = 0; j <= g.ny; ++j)
        for (int64_t i = 0; i <= g.nx; ++i) {
            const double x = ColumnX(i), y = RowY(j);
            p.insert(p.end(), {static_cast<float>(x), static_cast<float>(y), static_cast<float>(Height(x, y))});
        }
    return p;
}

// quads: every cell one quad instead of its two triangles.
void WriteModel(const TGrid& g, const std::string& path, bool quads) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + path);
    TOut out(f);
    out.Chars("# benchmark surface\n");
    for (int64_t j = 0; j <= g.ny; ++j) {
        for (int64_t i = 0; i <= g.nx; ++i) {
            double x = ColumnX(i), y = RowY(j), z = Height(x, y);
            out.Chars("v ");
            out.Real(x);
            out.Char(' ');
            out.Real(y);
            out.Char(' ');
            out.Real(z);
            out.Char('\n');
        }
    }
    for (int64_t j = 0; j <= g.ny; ++j) {
        for (int64_t i = 0; i <= g.nx; ++i) {
            out.Chars("vt ");
            out.Real(static_cast<double>(i) / static_cast<double>(g.nx));
            out.Char(' ');
            out.Real(static_cast<double>(j) / static_cast<double>(g.ny));
            out.Char('\n');
        }
    }
    for (int64_t j = 0; j <= g.ny; ++j) {
        for (int64_t i = 0; i <= g.nx; ++i) {
            double x = ColumnX(i), y = RowY(j);
            double dx = 0.15 * std::cos(x * 0.05) * std::cos(y * 0.07);
            double dy = -0.21 * std::sin(x * 0.05) * std::sin(y * 0.07);
            double len = std::sqrt(dx * dx + dy * dy + 1.0);
            out.Chars("vn ");
            out.Real(-dx / len);
            out.Char(' ');
            out.Real(-dy / len);
            out.Char(' ');
            out.Real(1.0 / len);
            out.Char('\n');
        }
    }
    auto corner = [&](int64_t k) {
        out.Int(k);
        out.Char('/');
        out.Int(k);
        out.Char('/');
        out.Int(k);
    };
    int band = -1;
    for (int64_t j = 0; j < g.ny; ++j) {
        int b = static_cast<int>(j * kBands / g.ny);
        if (b != band) {
            band = b;
            out.Chars("g band");
            out.Int(b);
            out.Char('\n');
        }
        auto face = [&](const int64_t* c, int n) {
            out.Chars("f");
            for (int k = 0; k < n; ++k) {
                out.Char(' ');
                corner(c[k] + 1);
            }
            out.Char('\n');
            out.Flush(false);
        };
        if (!quads) {
            RowTriangles(g, j, [&](const int64_t* t) { face(t, 3); });
            continue;
        }
        for (int64_t i = 0; i < g.nx; ++i) {
            const int64_t a = j * (g.nx + 1) + i, c = a + g.nx + 1;
            const int64_t q[4] = {a, a + 1, c + 1, c};  // turning as the triangles do
            face(q, 4);
        }
    }
    out.Flush(true);
    bool bad = out.failed();
    if (std::fclose(f) != 0) bad = true;
    if (bad) throw std::runtime_error("cannot write " + path);
}

// Little-endian bytes into a file, through a large buffer.
class TBinary {
public:
    explicit TBinary(const std::string& path) : path_(path), f_(std::fopen(path.c_str(), "wb")) {
        if (!f_) throw std::runtime_error("cannot create " + path);
    }
    ~TBinary() {
        if (f_) std::fclose(f_);
    }
    void Bytes(const void* p, size_t n) {
        const char* c = static_cast<const char*>(p);
        buf_.append(c, n);
        if (buf_.size() >= (1u << 20)) Flush();
    }
    template <class T>
    void Value(T v) {
        Bytes(&v, sizeof v);  // x86-64: little-endian already
    }
    void Text(const std::string& s) { Bytes(s.data(), s.size()); }
    void Close() {
        Flush();
        const bool bad = std::ferror(f_) != 0;
        if (std::fclose(f_) != 0 || bad) failed_ = true;
        f_ = nullptr;
        if (failed_) throw std::runtime_error("cannot write " + path_);
    }

private:
    void Flush() {
        if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), f_) != buf_.size()) failed_ = true;
        buf_.clear();
    }
    std::string path_;
    std::FILE* f_;
    std::string buf_;
    bool failed_ = false;
};

void WritePly(const TGrid& g, const std::string& path) {
    const std::vector<float> p = Positions(g);
    TBinary out(path);
    out.Text("ply\nformat binary_little_endian 1.0\ncomment benchmark surface\nelement vertex " +
             std::to_string(p.size() / 3) + "\nproperty float x\nproperty float y\nproperty float z\nelement face " +
             std::to_string(2 * g.nx * g.ny) + "\nproperty list uchar int vertex_indices\nend_header\n");
    out.Bytes(p.data(), p.size() * sizeof(float));
    for (int64_t j = 0; j < g.ny; ++j)
        RowTriangles(g, j, [&](const int64_t* t) {
            out.Value(uint8_t{3});
            for (int k = 0; k < 3; ++k) out.Value(static_cast<int32_t>(t[k]));
        });
    out.Close();
}

void WriteStl(const TGrid& g, const std::string& path) {
    const std::vector<float> p = Positions(g);
    TBinary out(path);
    std::string header = "benchmark surface";
    header.resize(80, ' ');
    out.Text(header);
    out.Value(static_cast<uint32_t>(2 * g.nx * g.ny));
    for (int64_t j = 0; j < g.ny; ++j)
        RowTriangles(g, j, [&](const int64_t* t) {
            const float* a = &p[static_cast<size_t>(3 * t[0])];
            const float* b = &p[static_cast<size_t>(3 * t[1])];
            const float* c = &p[static_cast<size_t>(3 * t[2])];
            const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
            double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
            const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            for (double& x : n) out.Value(static_cast<float>(len > 0 ? x / len : 0.0));
            for (const float* q : {a, b, c}) out.Bytes(q, 12);
            out.Value(uint16_t{0});
        });
    out.Close();
}

void WriteGlb(const TGrid& g, const std::string& path) {
    const std::vector<float> p = Positions(g);
    const int64_t triangles = 2 * g.nx * g.ny;
    float lo[3] = {p[0], p[1], p[2]}, hi[3] = {p[0], p[1], p[2]};
    for (size_t i = 0; i < p.size(); ++i) {
        lo[i % 3] = std::min(lo[i % 3], p[i]);
        hi[i % 3] = std::max(hi[i % 3], p[i]);
    }
    const uint64_t positionBytes = p.size() * 4, indexBytes = static_cast<uint64_t>(triangles) * 12;
    auto real = [](float v) {
        char t[32];
        return std::string(t, std::to_chars(t, t + sizeof t, v).ptr);
    };
    std::string json =
        "{\"asset\":{\"version\":\"2.0\",\"generator\":\"kgl bench\"},\"scene\":0,"
        "\"scenes\":[{\"nodes\":[0]}],\"nodes\":[{\"mesh\":0,\"name\":\"surface\"}],"
        "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0},\"indices\":1,\"mode\":4}]}],"
        "\"buffers\":[{\"byteLength\":" +
        std::to_string(positionBytes + indexBytes) +
        "}],\"bufferViews\":[{\"buffer\":0,\"byteOffset\":0,\"byteLength\":" + std::to_string(positionBytes) +
        ",\"target\":34962},{\"buffer\":0,\"byteOffset\":" + std::to_string(positionBytes) +
        ",\"byteLength\":" + std::to_string(indexBytes) +
        ",\"target\":34963}],\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":" +
        std::to_string(p.size() / 3) + ",\"type\":\"VEC3\",\"min\":[" + real(lo[0]) + "," + real(lo[1]) + "," +
        real(lo[2]) + "],\"max\":[" + real(hi[0]) + "," + real(hi[1]) + "," + real(hi[2]) +
        "]},{\"bufferView\":1,\"componentType\":5125,\"count\":" + std::to_string(3 * triangles) +
        ",\"type\":\"SCALAR\"}]}";
    json.resize((json.size() + 3) / 4 * 4, ' ');  // chunks stay 4-byte aligned
    const uint64_t binBytes = positionBytes + indexBytes;
    TBinary out(path);
    out.Value(uint32_t{0x46546C67});  // "glTF"
    out.Value(uint32_t{2});
    out.Value(static_cast<uint32_t>(12 + 8 + json.size() + 8 + binBytes));
    out.Value(static_cast<uint32_t>(json.size()));
    out.Value(uint32_t{0x4E4F534A});  // "JSON"
    out.Text(json);
    out.Value(static_cast<uint32_t>(binBytes));
    out.Value(uint32_t{0x004E4942});  // "BIN"
    out.Bytes(p.data(), positionBytes);
    for (int64_t j = 0; j < g.ny; ++j)
        RowTriangles(g, j, [&](const int64_t* t) {
            for (int k = 0; k < 3; ++k) out.Value(static_cast<uint32_t>(t[k]));
        });
    out.Close();
}

// Writes path by writer unless it is there already: under another name first and
// renamed, so an interrupted run leaves no half file.
template <class F>
void EnsureFile(const std::string& path, F&& writer) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::exists(path, ec)) return;
    const std::string tmp = path + ".part";
    writer(tmp);
    fs::rename(tmp, path);
}

// The cached OBJ file of grid g as "<stem>_<faces>_v<version>.obj" in dir, written by
// WriteModel unless it is there.
TBenchModel EnsureGridFile(const TGrid& g, const std::string& dir, const char* stem, int64_t faces, bool quads) {
    namespace fs = std::filesystem;
    TBenchModel m;
    m.triangles = 2 * g.nx * g.ny;
    m.vertices = (g.nx + 1) * (g.ny + 1);
    m.groups = static_cast<int32_t>(std::min<int64_t>(kBands, g.ny));
    fs::create_directories(dir);
    m.path = dir + "/" + stem + "_" + std::to_string(faces) + "_v" + std::to_string(kGeneratorVersion) + ".obj";
    EnsureFile(m.path, [&](const std::string& tmp) { WriteModel(g, tmp, quads); });
    m.bytes = fs::file_size(m.path);
    return m;
}

}  // namespace

std::string BenchModelDir() {
    if (const char* env = std::getenv("KGL_BENCH_MODEL_DIR"); env && *env) return env;
    return KGL_BENCH_MODEL_DIR_DEFAULT;
}

TBenchModel EnsureBenchModel(int64_t triangles, const std::string& dir) {
    const TGrid g = GridFor(triangles);
    return EnsureGridFile(g, dir, "surface", 2 * g.nx * g.ny, false);
}

TBenchModel EnsureBenchQuadModel(int64_t quads, const std::string& dir) {
    const TGrid g = GridFor(2 * quads);
    return EnsureGridFile(g, dir, "surface_quads", g.nx * g.ny, true);
}

TBenchModel EnsureBenchModelAs(int64_t triangles, const std::string& extension, const std::string& dir) {
    TBenchModel m = EnsureBenchModel(triangles, dir);
    const TGrid g = GridFor(triangles);
    m.path = m.path.substr(0, m.path.size() - 4) + extension;
    m.groups = 1;
    if (extension == ".ply")
        EnsureFile(m.path, [&](const std::string& tmp) { WritePly(g, tmp); });
    else if (extension == ".stl")
        EnsureFile(m.path, [&](const std::string& tmp) { WriteStl(g, tmp); });
    else if (extension == ".glb")
        EnsureFile(m.path, [&](const std::string& tmp) { WriteGlb(g, tmp); });
    else
        throw std::runtime_error("no benchmark writer for '" + extension + "'");
    m.bytes = std::filesystem::file_size(m.path);
    return m;
}

}  // namespace kgl::bench
