// Writing other formats against SaveToKGM of the same model: the benchmark surface,
// loaded once, written as KGM, OBJ, binary STL, binary PLY, GLB (tinygltf in
// kglmodel-export) and GLB by the library's own glTF exporter (glb2, the one we did not
// choose), taking turns in every round; then whole processes, `kglmodel convert big.kgm
// big.EXT` for every format beside `convert big.kgm big.obj`. Prints medians, the
// slowest run, the ratio to KGM (in the process) or to OBJ (whole processes), the file
// sizes and the peaks.
//
// usage: bench_export [--runs N] [TRIANGLES ...]   (default 7 runs, 1000000)
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "KGLModel.h"
#include "bench_models.h"
#include "bench_process.h"
#include "export.h"
#include "import.h"
#include "messages.h"

#ifndef KGLMODEL_PATH
#error "KGLMODEL_PATH must name the built kglmodel"
#endif
#ifndef EXPORTER_PATH
#error "EXPORTER_PATH must name the built kglmodel-export"
#endif

namespace {

using kgl::bench::Largest;
using kgl::bench::Median;

uint64_t FileBytes(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

struct TWriter {
    const char* name;
    const char* ext;
    std::function<void(const kgl::TKGLModel&, const std::string&)> write;
};

}  // namespace

int main(int argc, char** argv) {
    int runs = 7;
    std::vector<long long> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            sizes.push_back(std::atoll(argv[i]));
    }
    if (sizes.empty()) sizes = {1000000};
    kgl::SetMessageHandler(
        [](const std::string&, const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
    kgl::SetExporterProgram(EXPORTER_PATH);
    const std::string dir = kgl::bench::BenchModelDir();
    const TWriter writers[] = {
        {"SaveToKGM", ".kgm", [](const kgl::TKGLModel& m, const std::string& p) { kgl::SaveToKGM(m, p); }},
        {"SaveToOBJ", ".obj", [](const kgl::TKGLModel& m, const std::string& p) { kgl::SaveToOBJ(m, p); }},
        {"STL, binary", ".stl", [](const kgl::TKGLModel& m, const std::string& p) { kgl::ExportModelFile(m, p); }},
        {"PLY, binary", ".ply", [](const kgl::TKGLModel& m, const std::string& p) { kgl::ExportModelFile(m, p); }},
        {"GLB, tinygltf", ".glb", [](const kgl::TKGLModel& m, const std::string& p) { kgl::ExportModelFile(m, p); }},
        {"GLB, assimp", ".glb",
         [](const kgl::TKGLModel& m, const std::string& p) { kgl::ExportModelFileThrough(m, p, "glb2"); }},
    };
    try {
        for (long long n : sizes) {
            const kgl::bench::TBenchModel bench = kgl::bench::EnsureBenchModel(n);
            kgl::TKGLModel model;
            if (!kgl::LoadFromFile(model, bench.path)) return 1;
            const std::string stem = dir + "/export-" + std::to_string(n);
            std::map<std::string, std::vector<double>> times;
            std::map<std::string, uint64_t> bytes;
            for (int r = -1; r < runs; ++r)
                for (const TWriter& w : writers) {
                    const std::string path = stem + "-" + std::to_string(&w - writers) + w.ext;
                    const auto t0 = std::chrono::steady_clock::now();
                    w.write(model, path);
                    const double ms =
                        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
                    if (r >= 0) times[w.name].push_back(ms);
                    bytes[w.name] = FileBytes(path);
                }
            std::printf("%lld triangles (%lld vertices), in this process, medians of %d (slowest in brackets)\n",
                        static_cast<long long>(bench.triangles), static_cast<long long>(bench.vertices), runs);
            std::printf("%-14s %20s %8s %9s\n", "writer", "ms", "x KGM", "file MB");
            const double kgm = Median(times["SaveToKGM"]);
            for (const TWriter& w : writers)
                std::printf("%-14s %10.1f (%7.1f) %8.2f %9.1f\n", w.name, Median(times[w.name]), Largest(times[w.name]),
                            Median(times[w.name]) / kgm, bytes[w.name] / 1048576.0);

            // whole processes: kglmodel convert of the KGM into every format
            const std::string in = stem + "-0.kgm";
            const char* const outs[] = {".obj", ".kgm", ".stl", ".ply", ".glb", ".gltf"};
            std::map<std::string, std::vector<double>> wall, peak;
            bool ok = true;
            for (int r = -1; r < runs; ++r)
                for (const char* ext : outs) {
                    const auto run = kgl::bench::RunProcess({KGLMODEL_PATH, "convert", in, stem + "-convert" + ext});
                    ok = ok && run.ok;
                    if (r < 0) continue;
                    wall[ext].push_back(run.wall);
                    peak[ext].push_back(run.peakMB);
                }
            std::printf("kglmodel convert big.kgm big.EXT, whole processes, medians of %d (slowest in brackets)%s\n",
                        runs, ok ? "" : "  (a run failed)");
            std::printf("%-6s %20s %8s %9s\n", "EXT", "ms", "x OBJ", "peak MB");
            const double obj = Median(wall[".obj"]);
            for (const char* ext : outs)
                std::printf("%-6s %10.1f (%7.1f) %8.2f %9.0f\n", ext + 1, Median(wall[ext]), Largest(wall[ext]),
                            Median(wall[ext]) / obj, Median(peak[ext]));
            std::fflush(stdout);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_export: %s\n", e.what());
        return 1;
    }
    return 0;
}
