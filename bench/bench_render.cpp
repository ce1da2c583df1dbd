// kglmodel render against kglmodel info on the same file, whole process (start, load,
// and for render the offscreen frame and the PNG), on the shared benchmark models of
// about 100k and 1M triangles, as OBJ and as KGM (written once by kglmodel convert
// beside the cached OBJ). Medians of wall time and of the child's CPU time (user +
// system, all of llvmpipe's threads), and render / info as a ratio.
//
// Usage: bench_render [--runs N] [--size WxH] [triangles ...] [-- RENDER OPTIONS]
//        (default 5 runs, 640x480, 100000 1000000, the editor's start view)
// In the start view the 1M model (diagonal about 1,100) lies wholly beyond the far
// plane at 500 and the 100k one is seen edge-on: `-- --xrot off` shows the 100k
// surface face-on, filling the picture.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "bench_models.h"
#include "bench_process.h"

#ifndef KGLMODEL_PATH
#error "KGLMODEL_PATH must name the built kglmodel"
#endif

namespace {

struct TTiming {
    double wall = 0, cpu = 0;  // milliseconds
    bool ok = true;
};

// Runs kglmodel with args, standard output and error thrown away.
TTiming RunOnce(const std::vector<std::string>& args) {
    std::vector<std::string> argv{KGLMODEL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    const kgl::bench::TProcessRun run = kgl::bench::RunProcess(argv);
    return {run.wall, run.cpu, run.ok};
}

// Medians over runs after one warm-up run (which also fills the page cache).
TTiming Median(int runs, const std::vector<std::string>& args) {
    TTiming warm = RunOnce(args);
    if (!warm.ok) return warm;
    std::vector<double> wall, cpu;
    for (int r = 0; r < runs; ++r) {
        const TTiming t = RunOnce(args);
        if (!t.ok) return t;
        wall.push_back(t.wall);
        cpu.push_back(t.cpu);
    }
    return {kgl::bench::Median(wall), kgl::bench::Median(cpu), true};
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::string size = "640x480";
    std::vector<long long> sizes;
    std::vector<std::string> extra;  // passed on to every render
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            extra.assign(argv + i + 1, argv + argc);
            break;
        }
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc)
            size = argv[++i];
        else
            sizes.push_back(std::atoll(argv[i]));
    }
    if (sizes.empty()) sizes = {100000, 1000000};
    const std::string picture = "/tmp/bench_render_" + std::to_string(getpid()) + ".png";
    std::string shown;
    for (const std::string& e : extra) shown += " " + e;
    std::printf("kglmodel render %s%s vs info, whole process, medians of %d runs\n", size.c_str(), shown.c_str(), runs);
    std::printf("%-4s %10s %10s %10s %10s %10s %10s %8s\n", "file", "triangles", "info_ms", "info_cpu", "render_ms",
                "render_cpu", "png_kb", "ratio");
    try {
        for (long long n : sizes) {
            const kgl::bench::TBenchModel m = kgl::bench::EnsureBenchModel(n);
            const std::string kgm = m.path.substr(0, m.path.size() - 4) + ".kgm";
            if (access(kgm.c_str(), R_OK) != 0 && !RunOnce({"convert", m.path, kgm}).ok) {
                std::fprintf(stderr, "bench_render: cannot write %s\n", kgm.c_str());
                return 1;
            }
            for (const std::string& file : {m.path, kgm}) {
                const TTiming info = Median(runs, {"info", file});
                std::vector<std::string> args{"render", file, picture, "--size", size};
                args.insert(args.end(), extra.begin(), extra.end());
                const TTiming render = Median(runs, args);
                if (!info.ok || !render.ok) {
                    std::fprintf(stderr, "bench_render: kglmodel failed on %s\n", file.c_str());
                    return 1;
                }
                FILE* f = std::fopen(picture.c_str(), "rb");
                long bytes = 0;
                if (f) {
                    std::fseek(f, 0, SEEK_END);
                    bytes = std::ftell(f);
                    std::fclose(f);
                }
                std::printf("%-4s %10lld %10.1f %10.1f %10.1f %10.1f %10.1f %8.2f\n",
                            file.substr(file.size() - 3).c_str(), static_cast<long long>(m.triangles), info.wall,
                            info.cpu, render.wall, render.cpu, bytes / 1024.0, render.wall / info.wall);
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_render: %s\n", e.what());
        return 1;
    }
    std::remove(picture.c_str());
    return 0;
}
