// Writes the larger sample models into a folder: parametric surfaces triangulated on
// a grid, each with texture coordinates and normals, in the OBJ dialect the editor
// reads (single blanks, every face inside a named group).
//   kgl_gen_samples FOLDER
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

namespace {

struct TPoint {
    double x, y, z;
};

// A surface over (u, v) in [0, 1]^2, closed in u and/or v when the caller says so.
struct TSurface {
    const char* file;
    const char* group;
    int nu, nv;         // grid cells
    bool wrapU, wrapV;  // shares the seam's vertices instead of repeating them
    double tu, tv;      // texture repeats along u and v, chosen to keep the checker square
    std::function<TPoint(double, double)> at;
};

TPoint Sub(TPoint a, TPoint b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
TPoint Cross(TPoint a, TPoint b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
TPoint Unit(TPoint a) {
    double l = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
    return l > 0 ? TPoint{a.x / l, a.y / l, a.z / l} : TPoint{0, 0, 1};
}

bool Write(const std::string& folder, const TSurface& s) {
    const std::string path = folder + "/" + s.file;
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        std::fprintf(stderr, "kgl_gen_samples: cannot write %s\n", path.c_str());
        return false;
    }
    const int cu = s.wrapU ? s.nu : s.nu + 1;  // distinct vertex columns
    const int cv = s.wrapV ? s.nv : s.nv + 1;
    std::fprintf(f, "# %s: %d triangles, generated\ng default\ng %s\n", s.file, 2 * s.nu * s.nv, s.group);
    const double h = 1e-4;
    for (int j = 0; j < cv; ++j)
        for (int i = 0; i < cu; ++i) {
            TPoint p = s.at(double(i) / s.nu, double(j) / s.nv);
            std::fprintf(f, "v %.6g %.6g %.6g\n", p.x, p.y, p.z);
        }
    for (int j = 0; j < cv; ++j)
        for (int i = 0; i < cu; ++i) {
            double u = double(i) / s.nu, v = double(j) / s.nv;
            TPoint du = Sub(s.at(u + h, v), s.at(u - h, v));
            TPoint dv = Sub(s.at(u, v + h), s.at(u, v - h));
            TPoint n = Unit(Cross(du, dv));
            std::fprintf(f, "vn %.5f %.5f %.5f\n", n.x, n.y, n.z);
        }
    // Texture coordinates repeat the seam so the checker does not smear across it.
    for (int j = 0; j <= s.nv; ++j)
        for (int i = 0; i <= s.nu; ++i) std::fprintf(f, "vt %.6g %.6g\n", s.tu * i / s.nu, s.tv * j / s.nv);
    auto vi = [&](int i, int j) { return (j % cv) * cu + (i % cu) + 1; };
    auto ti = [&](int i, int j) { return j * (s.nu + 1) + i + 1; };
    for (int j = 0; j < s.nv; ++j)
        for (int i = 0; i < s.nu; ++i) {
            int a = vi(i, j), b = vi(i + 1, j), c = vi(i + 1, j + 1), d = vi(i, j + 1);
            int ta = ti(i, j), tb = ti(i + 1, j), tc = ti(i + 1, j + 1), td = ti(i, j + 1);
            std::fprintf(f, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", a, ta, a, b, tb, b, c, tc, c);
            std::fprintf(f, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", a, ta, a, c, tc, c, d, td, d);
        }
    const bool ok = std::ferror(f) == 0;
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kgl_gen_samples FOLDER\n");
        return 2;
    }
    const double pi = std::acos(-1.0);
    const std::string folder = argv[1];
    const TSurface surfaces[] = {
        // 250 x 200 cells, two triangles each: 100,000 triangles.
        {"torus.obj", "torus", 250, 200, true, true, 4, 2,
         [pi](double u, double v) {
             double a = 2 * pi * u, b = 2 * pi * v, r = 3 + std::cos(b);
             return TPoint{r * std::cos(a), r * std::sin(a), std::sin(b)};
         }},
        {"sphere.obj", "sphere", 64, 32, true, false, 4, 2,
         [pi](double u, double v) {
             double a = 2 * pi * u, b = pi * v;
             return TPoint{2 * std::sin(b) * std::cos(a), 2 * std::sin(b) * std::sin(a), -2 * std::cos(b)};
         }},
        // A (2, 3) torus knot swept by a tube: 180 x 16 cells.
        {"knot.obj", "knot", 180, 16, true, true, 12, 1,
         [pi](double u, double v) {
             auto centre = [pi](double t) {
                 double a = 2 * pi * t;
                 return TPoint{(2 + std::cos(3 * a)) * std::cos(2 * a), (2 + std::cos(3 * a)) * std::sin(2 * a),
                               std::sin(3 * a)};
             };
             TPoint c = centre(u);
             TPoint t = Unit(Sub(centre(u + 1e-4), centre(u - 1e-4)));
             TPoint n = Unit(Cross(t, TPoint{0, 0, 1}));
             TPoint b = Cross(t, n);
             double w = 2 * pi * v, r = 0.45;
             return TPoint{c.x + r * (std::cos(w) * n.x + std::sin(w) * b.x),
                           c.y + r * (std::cos(w) * n.y + std::sin(w) * b.y),
                           c.z + r * (std::cos(w) * n.z + std::sin(w) * b.z)};
         }},
    };
    for (const TSurface& s : surfaces)
        if (!Write(folder, s)) return 1;
    return 0;
}
