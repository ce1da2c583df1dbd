// Display benchmark: in an offscreen software GL context of the view's default size
// (774 x 452), times one frame as the editor draws it (textured model, outline
// overlay, bounding boxes) and one pick of each kind, on the shared benchmark models
// of about 100k and 1M triangles (loaded as the editor loads them), or with --grid
// on grid models built in memory with a hand-made edge table (no loader involved).
// Peer: the same triangles sent as one vertex-array draw, to show what the
// immediate-mode reference path costs.
//
// Usage: bench_display [--grid] [triangles ...]   (default 100000 1000000)
#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <functional>
#include <vector>

#include "KGLDisplay.h"
#include "bench_models.h"
#include "model_builder.h"
#include "offscreen.h"

using namespace kgl;

namespace {

constexpr int kWidth = 774;
constexpr int kHeight = 452;
constexpr int kGroups = 4;

// An n x n grid of quads over [-1, 1]^2, each split into two triangles, in kGroups
// bands of rows, with one texture coordinate per vertex and a hand-made edge table
// (every distinct side once, through a face that holds it).
TKGLModel GridModel(int n) {
    kgl::test::TModelBuilder b;
    const int side = n + 1;
    auto vid = [side](int i, int j) { return 1 + j * side + i; };
    for (int j = 0; j < side; ++j)
        for (int i = 0; i < side; ++i) {
            const float u = float(i) / n, v = float(j) / n;
            b.Vertex(2 * u - 1, 2 * v - 1, 0.05f * std::sin(9 * u) * std::cos(7 * v));
            b.TexCoord(4 * u, 4 * v);
        }
    const int32_t up = b.Normal(0, 0, 1);
    std::vector<TEdge> edges;
    edges.reserve(static_cast<size_t>(3) * n * n + 2 * n);
    for (int g = 0; g < kGroups; ++g) {
        b.Group();
        const int j0 = n * g / kGroups, j1 = n * (g + 1) / kGroups;
        for (int j = j0; j < j1; ++j)
            for (int i = 0; i < n; ++i) {
                const int32_t a = vid(i, j), c = vid(i + 1, j + 1), d = vid(i, j + 1), r = vid(i + 1, j);
                const int32_t lower = b.Face({a, r, c}, {a, r, c}, {up, up, up});
                const int32_t upper = b.Face({a, c, d}, {a, c, d}, {up, up, up});
                edges.push_back(kgl::test::MakeEdge(g, lower, 0, 1));                  // bottom
                edges.push_back(kgl::test::MakeEdge(g, lower, 1, 2));                  // right
                edges.push_back(kgl::test::MakeEdge(g, lower, 0, 2));                  // diagonal
                if (i == 0) edges.push_back(kgl::test::MakeEdge(g, upper, 2, 0));      // left border
                if (j == n - 1) edges.push_back(kgl::test::MakeEdge(g, upper, 1, 2));  // top border
            }
    }
    b.Finish();
    kgl::test::SetEdges(b.m, std::move(edges));
    return std::move(b.m);
}

GLuint CheckerTexture() {
    std::vector<uint8_t> texels(64 * 64 * 3);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const uint8_t c = ((x / 8 + y / 8) % 2) ? 255 : 64;
            for (int k = 0; k < 3; ++k) texels[(y * 64 + x) * 3 + k] = c;
        }
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGB, 64, 64, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    return tex;
}

// The model fills most of the view, tilted so depth varies across it. The scale puts
// any model inside the fixed near and far planes.
TVec3 gCenter;
float gScale = 1;
void SetView() {
    glViewport(0, 0, kWidth, kHeight);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, double(kWidth) / kHeight, 1.0, 500.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0, 0, -2.6f);
    glRotatef(-35, 1, 0, 0);
    glRotatef(20, 0, 0, 1);
    glScalef(gScale, gScale, gScale);
    glTranslatef(-gCenter.x, -gCenter.y, -gCenter.z);
}
void FitView(const TKGLModel& m) {
    gCenter = {(m.boxMin.x + m.boxMax.x) / 2, (m.boxMin.y + m.boxMax.y) / 2, (m.boxMin.z + m.boxMax.z) / 2};
    const float extent = std::max({m.boxMax.x - m.boxMin.x, m.boxMax.y - m.boxMin.y, m.boxMax.z - m.boxMin.z});
    gScale = extent > 0 ? 2.0f / extent : 1.0f;
}

// A benchmark model as the editor holds it after a load: every face visible and
// every edge active (what the reduction to 0 leaves).
bool LoadBenchModel(long triangles, TKGLModel& m, std::string& what) {
    try {
        const auto file = kgl::bench::EnsureBenchModel(triangles);
        InitModel(m);
        if (!LoadFromFile(m, file.path)) return false;
        for (int g = 0; g <= m.gCount; ++g)
            for (int j = 1; j <= m.groups[g].fCount; ++j) m.groups[g].faces[j].visible = 1;
        for (int i = 0; i <= m.eCount; ++i) m.edges[i].active = 1;
        what = "obj";
        return true;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_display: %s\n", e.what());
        return false;
    }
}

// The start of every timed frame: cleared, the view set, white, the texture bound.
void BeginFrame(GLuint tex) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    SetView();
    glColor4f(1, 1, 1, 1);
    glBindTexture(GL_TEXTURE_2D, tex);
}

// The editor's frame: model, outline overlay, boxes.
void Frame(TKGLModel& m, GLuint tex) {
    BeginFrame(tex);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LINE_SMOOTH);
    glEnable(GL_POLYGON_SMOOTH);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    DrawModel(m);
    glBindTexture(GL_TEXTURE_2D, 0);
    DrawWireframe(m);
    DrawBoundingBoxes(m, 0.0);
    glBindTexture(GL_TEXTURE_2D, tex);
    glFinish();
}

// Peer: the same textured triangles (no overlay) as one glDrawElements call.
struct TArrays {
    std::vector<float> xyz, uv;
    std::vector<uint32_t> idx;
};
TArrays FlatArrays(const TKGLModel& m) {
    TArrays a;
    for (int v = 0; v <= m.vCount; ++v) {
        a.xyz.insert(a.xyz.end(), {m.vertices[v].x, m.vertices[v].y, m.vertices[v].z});
        const TTexCoord t = v < static_cast<int>(m.texCoords.size()) ? m.texCoords[v] : TTexCoord{};
        a.uv.insert(a.uv.end(), {t.u, t.v});
    }
    for (int g = 0; g <= m.gCount; ++g)
        for (int j = 1; j <= m.groups[g].fCount; ++j)
            for (int32_t v : m.groups[g].faces[j].vIdx) a.idx.push_back(static_cast<uint32_t>(v));
    return a;
}
void ArrayFrame(const TArrays& a, GLuint tex) {
    BeginFrame(tex);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_POLYGON_SMOOTH);
    glEnable(GL_BLEND);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, a.xyz.data());
    glTexCoordPointer(2, GL_FLOAT, 0, a.uv.data());
    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(a.idx.size()), GL_UNSIGNED_INT, a.idx.data());
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glFinish();
}
void ModelOnlyFrame(TKGLModel& m, GLuint tex) {
    BeginFrame(tex);
    glEnable(GL_POLYGON_SMOOTH);
    glEnable(GL_BLEND);
    DrawModel(m);
    glFinish();
}

// Median wall time of reps runs after one warm-up, and the median process CPU time
// (all of llvmpipe's threads), which stays meaningful on a machine shared with others.
struct TTiming {
    double wall = 0, cpu = 0;
};
double CpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}
TTiming Median(int reps, const std::function<void()>& fn) {
    std::vector<double> wall, cpu;
    fn();  // warm-up
    for (int r = 0; r < reps; ++r) {
        const double c0 = CpuMs();
        const auto t0 = std::chrono::steady_clock::now();
        fn();
        wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        cpu.push_back(CpuMs() - c0);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<long> sizes;
    bool grid = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--grid") == 0)
            grid = true;
        else
            sizes.push_back(std::atol(argv[i]));
    }
    if (sizes.empty()) sizes = {100000, 1000000};

    kgl::TOffscreenContext ctx(kWidth, kHeight);
    if (!ctx.ok()) {
        std::fprintf(stderr, "bench_display: no OSMesa context\n");
        return 1;
    }
    const GLuint tex = CheckerTexture();
    std::printf("display benchmark, OSMesa %d x %d, medians\n", kWidth, kHeight);
    std::printf("%5s %4s %10s %10s %10s %10s %10s %10s %10s %8s\n", "model", "ms", "triangles", "frame_ms", "model_ms",
                "array_ms", "face_ms", "group_ms", "edge_ms", "imm/arr");
    for (long want : sizes) {
        TKGLModel m;
        std::string what = "grid";
        if (grid || !LoadBenchModel(want, m, what)) {
            if (!grid) std::fprintf(stderr, "bench_display: no benchmark model loaded, using the grid\n");
            const int n = std::max(1, static_cast<int>(std::lround(std::sqrt(want / 2.0))));
            m = GridModel(n);
        }
        FitView(m);
        InitEdgeSelection(m);
        InitGroupSelection(m);
        InitFaceSelection(m);
        const TArrays arrays = FlatArrays(m);
        const int reps = m.fCount > 300000 ? 5 : 9;
        const TTiming frame = Median(reps, [&] { Frame(m, tex); });
        const TTiming model = Median(reps, [&] { ModelOnlyFrame(m, tex); });
        const TTiming array = Median(reps, [&] { ArrayFrame(arrays, tex); });
        const int x = kWidth / 2, y = kHeight / 2;
        // The picks run on the matrices the last frame left, as in the editor.
        Frame(m, tex);
        const TTiming face = Median(reps, [&] { PickFace(m, x, y, 2); });
        const TTiming group = Median(reps, [&] { PickGroup(m, x, y, 2); });
        const TTiming edge = Median(reps, [&] { PickEdge(m, x, y, true, 2); });
        for (bool cpu : {false, true}) {
            auto v = [cpu](const TTiming& t) { return cpu ? t.cpu : t.wall; };
            std::printf("%5s %4s %10d %10.1f %10.1f %10.1f %10.1f %10.1f %10.1f %8.2f\n", what.c_str(),
                        cpu ? "cpu" : "wall", m.fCount, v(frame), v(model), v(array), v(face), v(group), v(edge),
                        v(model) / v(array));
        }
        std::printf("  pick pixel after the edge pick: %d %d %d\n", PickPixel[0], PickPixel[1], PickPixel[2]);
    }
    return 0;
}
