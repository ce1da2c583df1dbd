#include "bench_models.h"

#include <charconv>
#include <cmath>
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

void WriteModel(const TGrid& g, const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + path);
    TOut out(f);
    out.Chars("# benchmark surface\n");
    const int64_t rowVerts = g.nx + 1;
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
        for (int64_t i = 0; i < g.nx; ++i) {
            int64_t a = j * rowVerts + i + 1, c = a + rowVerts;
            // alternate the diagonal so neighbouring cells differ
            bool flip = ((i + j) & 1) != 0;
            int64_t t1[3] = {a, a + 1, flip ? c : c + 1};
            int64_t t2[3] = {flip ? a + 1 : a, c + 1, c};
            for (const int64_t* t : {t1, t2}) {
                out.Chars("f ");
                corner(t[0]);
                out.Char(' ');
                corner(t[1]);
                out.Char(' ');
                corner(t[2]);
                out.Char('\n');
            }
            out.Flush(false);
        }
    }
    out.Flush(true);
    bool bad = out.failed();
    if (std::fclose(f) != 0) bad = true;
    if (bad) throw std::runtime_error("cannot write " + path);
}

}  // namespace

std::string BenchModelDir() {
    if (const char* env = std::getenv("KGL_BENCH_MODEL_DIR"); env && *env) return env;
    return KGL_BENCH_MODEL_DIR_DEFAULT;
}

TBenchModel EnsureBenchModel(int64_t triangles, const std::string& dir) {
    namespace fs = std::filesystem;
    TGrid g = GridFor(triangles);
    TBenchModel m;
    m.triangles = 2 * g.nx * g.ny;
    m.vertices = (g.nx + 1) * (g.ny + 1);
    m.groups = static_cast<int32_t>(std::min<int64_t>(kBands, g.ny));
    fs::create_directories(dir);
    m.path = dir + "/surface_" + std::to_string(m.triangles) + "_v" + std::to_string(kGeneratorVersion) + ".obj";
    std::error_code ec;
    if (!fs::exists(m.path, ec)) {
        // written under another name and renamed, so an interrupted run leaves no half file
        std::string tmp = m.path + ".part";
        WriteModel(g, tmp);
        fs::rename(tmp, m.path);
    }
    m.bytes = fs::file_size(m.path);
    return m;
}

}  // namespace kgl::bench
