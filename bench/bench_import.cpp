// Other formats against OBJ text: kglmodel info of the benchmark surface as binary PLY,
// binary STL and GLB beside the same surface as OBJ, whole processes taking turns in
// every round (in an order that moves on one place a round), with the library's
// ReadFile alone (bench_assimp_read) as the floor an import through it stands on.
// Prints medians, the slowest run, the ratio to the OBJ and the peak (the largest
// resident set of the process and its importer child).
//
// With --sandbox FILE: what the importer's sandbox costs a process, in this process:
// LoadModelFile of FILE with the full sandbox, with the filter and limits only, and with
// the limits only, taking turns, medians of 5 x N loads.
//
// --also KGLMODEL: another build's kglmodel (say the tree before a change) runs info of
// every file too, in the same turns, and gets rows of its own.
//
// usage: bench_import [--runs N] [--also KGLMODEL] [TRIANGLES ...]   (default 7 runs, 1000000)
//        bench_import --sandbox FILE [--runs N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "KGLModel.h"
#include "bench_models.h"
#include "bench_process.h"
#include "import.h"
#include "messages.h"

#ifndef KGLMODEL_PATH
#error "KGLMODEL_PATH must name the built kglmodel"
#endif
#ifndef IMPORTER_PATH
#error "IMPORTER_PATH must name the built kglmodel-import"
#endif
#ifndef ASSIMP_READ_PATH
#error "ASSIMP_READ_PATH must name the built bench_assimp_read"
#endif

namespace {

using kgl::bench::Largest;
using kgl::bench::Median;

struct TSeries {
    std::vector<double> wall, cpu, peak;
    bool ok = true;
    void Add(const kgl::bench::TProcessRun& r) {
        ok = ok && r.ok;
        wall.push_back(r.wall);
        cpu.push_back(r.cpu);
        peak.push_back(r.peakMB);
    }
};

// LoadModelFile of file under each sandbox mode in turn.
int SandboxCost(const std::string& file, int runs) {
    kgl::SetMessageHandler(
        [](const std::string&, const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
    kgl::SetImporterProgram(IMPORTER_PATH);
    const std::pair<const char*, kgl::TSandboxMode> modes[] = {
        {"full sandbox", kgl::TSandboxMode::kFull},
        {"filter and limits", kgl::TSandboxMode::kWithoutLandlock},
        {"limits only", kgl::TSandboxMode::kOff}};
    std::map<std::string, std::vector<double>> times;
    for (int r = -1; r < 5 * runs; ++r)
        for (const auto& [name, mode] : modes) {
            kgl::SetImportSandbox(mode);
            kgl::TKGLModel model;
            const auto t0 = std::chrono::steady_clock::now();
            if (!kgl::LoadModelFile(model, file)) return 1;
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            if (r >= 0) times[name].push_back(ms);
        }
    kgl::SetImportSandbox(kgl::TSandboxMode::kFull);
    std::printf("%s: LoadModelFile, medians of %d (slowest in brackets)\n", file.c_str(), 5 * runs);
    const double off = Median(times["limits only"]);
    for (const auto& [name, mode] : modes)
        std::printf("%-18s %7.2f ms (%6.2f)  %+6.2f ms\n", name, Median(times[name]), Largest(times[name]),
                    Median(times[name]) - off);
    std::printf("%s\n", kgl::ImportProtections().c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 7;
    std::vector<long long> sizes;
    std::string sandboxFile, also;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--sandbox") == 0 && i + 1 < argc)
            sandboxFile = argv[++i];
        else if (std::strcmp(argv[i], "--also") == 0 && i + 1 < argc)
            also = argv[++i];
        else
            sizes.push_back(std::atoll(argv[i]));
    }
    if (!sandboxFile.empty()) return SandboxCost(sandboxFile, runs);
    if (sizes.empty()) sizes = {1000000};
    const char* const formats[] = {".obj", ".ply", ".stl", ".glb"};
    try {
        for (long long n : sizes) {
            std::map<std::string, std::string> files;
            long long triangles = 0;
            for (const char* ext : formats) {
                const kgl::bench::TBenchModel m = std::string(ext) == ".obj" ? kgl::bench::EnsureBenchModel(n)
                                                                             : kgl::bench::EnsureBenchModelAs(n, ext);
                files[ext] = m.path;
                triangles = m.triangles;
            }
            // every command once, to fill the page cache, then in turns. A process that
            // follows a large one's exit pays more for its fresh memory on this virtual
            // machine, so no command always follows the same one: the two builds swap
            // places every round, and each round starts one format further on
            std::map<std::string, TSeries> ours, other, floor;
            constexpr int kFormats = static_cast<int>(std::size(formats));
            for (int r = -1; r < runs; ++r)
                for (int k = 0; k < kFormats; ++k) {
                    const char* const ext = formats[(k + r + kFormats) % kFormats];
                    for (int turn = 0; turn < 2; ++turn) {
                        const bool mine = (turn == 0) == (r % 2 == 0);
                        if (!mine && also.empty()) continue;
                        const auto info =
                            kgl::bench::RunProcess({mine ? KGLMODEL_PATH : also.c_str(), "info", files[ext]});
                        if (r >= 0) (mine ? ours : other)[ext].Add(info);
                    }
                    if (std::string(ext) == ".obj") continue;
                    const auto read = kgl::bench::RunProcess({ASSIMP_READ_PATH, files[ext]});
                    if (r >= 0) floor[ext].Add(read);
                }
            const double obj = Median(ours[".obj"].wall);
            std::printf("%lld triangles, whole processes, medians of %d (slowest in brackets)\n", triangles, runs);
            std::printf("%-12s %16s %9s %8s %9s | %22s %9s\n", "file", "kglmodel info ms", "cpu ms", "x OBJ", "peak MB",
                        "assimp ReadFile ms", "peak MB");
            auto row = [&](const char* who, const char* ext, const TSeries& s, double objMedian) {
                std::printf("%-5s%-7s %8.1f (%5.1f) %9.1f %8.2f %9.0f", ext + 1, who, Median(s.wall), Largest(s.wall),
                            Median(s.cpu), Median(s.wall) / objMedian, Median(s.peak));
            };
            for (const char* ext : formats) {
                row("", ext, ours[ext], obj);
                if (floor.count(ext)) {
                    const TSeries& f = floor[ext];
                    std::printf(" | %14.1f (%5.1f) %9.0f", Median(f.wall), Largest(f.wall), Median(f.peak));
                }
                std::printf("%s\n", ours[ext].ok ? "" : "  (a run failed)");
                if (!also.empty()) {
                    row(" also", ext, other[ext], Median(other[".obj"].wall));
                    std::printf("%s\n", other[ext].ok ? "" : "  (a run failed)");
                }
            }
            if (!also.empty()) std::printf("(also: %s; its x OBJ is against its own OBJ run)\n", also.c_str());
            std::fflush(stdout);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_import: %s\n", e.what());
        return 1;
    }
    return 0;
}
