// TriangulateFaces on the benchmark surface written as quads (default 250,000 quads, a
// million corners). The model is loaded once; each run cuts a fresh copy of it (the copy
// is not timed). Printed: the median, the slowest and the first run, wall, and the median
// process CPU (all threads), and beside them what the finishing steps alone take on the triangles (the
// measures, the edge table and Reduce(0), which every load pays too), and the OBJ load of
// the same quads.
// usage: bench_triangulate [--runs N] [QUADS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "KGLModel.h"
#include "bench_models.h"
#include "bench_process.h"
#include "messages.h"

namespace {

using kgl::bench::Largest;
using kgl::bench::Median;

double CpuNow() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

struct TTimes {
    std::vector<double> wall, cpu;  // seconds
};

// Times step over runs, untimed() before each.
TTimes Time(int runs, const std::function<void()>& untimed, const std::function<void()>& step) {
    TTimes t;
    for (int i = 0; i < runs; ++i) {
        untimed();
        const double c0 = CpuNow();
        const auto t0 = std::chrono::steady_clock::now();
        step();
        t.wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        t.cpu.push_back(CpuNow() - c0);
    }
    return t;
}

// The first run is apart: it alone meets memory the process never had, which the system
// zeroes and a virtual machine may fetch from its host first.
void Print(const char* what, const TTimes& t) {
    std::printf("%-38s %8.1f ms (slowest %6.1f, first %6.1f)   cpu %8.1f ms\n", what, Median(t.wall) * 1e3,
                Largest(t.wall) * 1e3, t.wall.front() * 1e3, Median(t.cpu) * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 9;
    int64_t quads = 250000;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            quads = std::atoll(a.c_str());
    }
    kgl::SetMessageHandler(
        [](const std::string&, const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
    const kgl::bench::TBenchModel bm = kgl::bench::EnsureBenchQuadModel(quads);
    kgl::TKGLModel model;
    if (!kgl::LoadFromFile(model, bm.path)) return 1;
    int64_t corners = 0;
    for (int32_t g = 0; g <= model.gCount; ++g)
        for (int32_t f = 1; f <= model.groups[g].fCount; ++f) corners += model.groups[g].faces[f].count;
    std::printf("model: %s (%d quads, %lld corners, %d vertices, %.1f MB OBJ); %d runs\n", bm.path.c_str(),
                model.fCount, static_cast<long long>(corners), model.vCount, bm.bytes / 1e6, runs);

    kgl::TKGLModel work;
    kgl::TTriangulation counts;
    const TTimes cut = Time(
        runs, [&] { work = model; },
        [&] {
            if (!kgl::TriangulateFaces(work, &counts)) std::exit(1);
        });
    Print("TriangulateFaces", cut);
    std::printf("  %lld faces split into %lld triangles, %lld fanned; %d edges\n", static_cast<long long>(counts.split),
                static_cast<long long>(counts.triangles), static_cast<long long>(counts.fans), work.eCount);

    const kgl::TKGLModel triangles = work;
    Print("  of it: FinishOBJ + Reduce(0) alone", Time(
                                                      runs, [&] { work = triangles; },
                                                      [&] {
                                                          kgl::FinishOBJ(work);
                                                          kgl::Reduce(work, 0.0);
                                                      }));
    Print("LoadFromFile of the quads (for scale)", Time(
                                                       runs, [&] { work = kgl::TKGLModel(); },
                                                       [&] {
                                                           if (!kgl::LoadFromFile(work, bm.path)) std::exit(1);
                                                       }));
    return 0;
}
