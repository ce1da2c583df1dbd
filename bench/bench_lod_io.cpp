// Reduction and model-file benchmark on one generated model (default 1M triangles):
//  - OrderEdgesByError (once per model): time, and the memory it takes beyond the
//    model (the peak resident size over the size before it), then Reduce(model, 0.5) on
//    the table it leaves;
//  - Reduce(model, 0.5) against meshoptimizer's meshopt_simplify and
//    meshopt_simplifySloppy to 50% of the triangles on the same mesh (a different,
//    heavier algorithm: the point is the user's wait on the slider);
//  - SaveToKGM and LoadKGM of the model, LoadKGM against LoadOBJ of the same model;
//  - SaveToOBJ;
//  - BakeReduction (the model as shown) at 0, 0.5 and 0.9.
// Figures are medians of the runs; ratios are printed beside them.
// --quality [MODEL...] measures instead what the levels of detail look like: for each
// model (any format LoadModelFile reads; by default quad-dominant ones of Debian's
// assimp-testmodels, the benchmark surface as 20,000 quads, and two triangle models),
// ordered by error and reduced to 0.5 and 0.9, the mean and the largest vertex-to-surface
// distance against the full model (triangulated), as ratios to what meshopt_simplify
// leaves at the same triangle count: as loaded, and cut into triangles first.
// usage: bench_lod_io [--runs N] [--reduce-only] [--order-only] [TRIANGLES]
//        bench_lod_io --quality [MODEL...]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <meshoptimizer.h>

#include "KGLModel.h"
#include "bench_models.h"
#include "import.h"
#include "lod_error.h"
#include "messages.h"

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double CpuNow() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);  // the loaders' helper threads included
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// Median CPU seconds (all threads) of the last Time() call: on a shared machine the wall
// time also counts the time other processes held the cores.
double g_lastCpu = 0;

// Median wall seconds of `runs` calls of step.
double Time(int runs, const std::function<void()>& step, const std::function<void()>& untimed = {}) {
    std::vector<double> t, cpu;
    for (int i = 0; i < runs; ++i) {
        if (untimed) untimed();
        double c0 = CpuNow();
        auto t0 = std::chrono::steady_clock::now();
        step();
        t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        cpu.push_back(CpuNow() - c0);
    }
    g_lastCpu = Median(cpu);
    return Median(t);
}

// A figure of /proc/self/status in kB ("VmRSS", "VmHWM"); -1 when unknown.
long StatusKb(const char* key) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    const size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, key, n) == 0 && line[n] == ':') kb = std::atol(line + n + 1);
    std::fclose(f);
    return kb;
}

// Starts the peak resident size (VmHWM) again from the present size.
void ResetPeak() {
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

int Hidden(const kgl::TKGLModel& m) {
    int n = 0;
    for (int32_t g = 0; g <= m.gCount; ++g)
        for (int32_t f = 1; f <= m.groups[g].fCount; ++f) n += m.groups[g].faces[f].visible ? 0 : 1;
    return n;
}

// The levels of detail of each model against meshopt_simplify's at the same counts.
int Quality(std::vector<std::string> files) {
    kgl::SetImporterProgram(IMPORTER_PATH);
    if (files.empty()) {
        const std::string assimp = "/usr/share/assimp/models/";
        files = {assimp + "Collada/duck.dae",
                 assimp + "AC/SphereWithLight.ac",
                 assimp + "AC/sample_subdiv.ac",
                 assimp + "LWO/LWO2/UglyVertexColors.lwo",
                 kgl::bench::EnsureBenchQuadModel(20000).path,
                 assimp + "OBJ/WusonOBJ.obj",
                 assimp + "OBJ/spider.obj"};
    }
    std::printf("ratios to meshopt_simplify at the same triangle count; as loaded / cut into triangles first\n");
    std::printf("%-28s %7s %7s %6s %6s  %5s %15s %15s %15s\n", "model", "tris", "quads", "polys", "split", "frac",
                "triangles", "mean ratio", "largest ratio");
    for (const std::string& file : files) {
        kgl::TKGLModel loaded;
        if (!kgl::LoadModelFile(loaded, file)) return 1;
        int64_t sizes[3] = {0, 0, 0};
        for (int32_t g = 0; g <= loaded.gCount; ++g)
            for (int32_t f = 1; f <= loaded.groups[g].fCount; ++f)
                ++sizes[std::clamp(loaded.groups[g].faces[f].count, 3, 5) - 3];
        kgl::TKGLModel cut = loaded;
        kgl::TTriangulation counts;
        if (!kgl::TriangulateFaces(cut, &counts)) return 1;
        const std::vector<float> positions = kgl::bench::VertexPositions(cut);
        const kgl::bench::TTriangles full = kgl::bench::ShownTriangles(cut);
        std::vector<unsigned> indices;
        for (const auto& t : full) indices.insert(indices.end(), t.begin(), t.end());
        kgl::TKGLModel before = loaded, after = cut;
        kgl::OrderEdgesByError(before);
        kgl::OrderEdgesByError(after);
        const std::string name = std::filesystem::path(file).filename().string();
        for (double fraction : {0.5, 0.9}) {
            struct TSide {
                size_t triangles = 0;
                double mean = 0, largest = 0;
            } side[2];
            for (int k = 0; k < 2; ++k) {
                kgl::TKGLModel& m = k == 0 ? before : after;
                kgl::Reduce(m, fraction);
                const kgl::bench::TTriangles ours = kgl::bench::ShownTriangles(m);
                std::vector<unsigned> dest(indices.size());
                const size_t n =
                    meshopt_simplify(dest.data(), indices.data(), indices.size(), positions.data(),
                                     positions.size() / 3, sizeof(float) * 3, ours.size() * 3, 1.0f, 0, nullptr);
                kgl::bench::TTriangles peer(n / 3);
                for (size_t i = 0; i < n / 3; ++i) peer[i] = {dest[3 * i], dest[3 * i + 1], dest[3 * i + 2]};
                const kgl::bench::TSurfaceError e = kgl::bench::SurfaceError(positions, full, ours),
                                                p = kgl::bench::SurfaceError(positions, full, peer);
                side[k] = {ours.size(), e.mean / std::max(p.mean, 1e-12), e.largest / std::max(p.largest, 1e-12)};
            }
            char tris[32], mean[32], largest[32];
            std::snprintf(tris, sizeof tris, "%zu / %zu", side[0].triangles, side[1].triangles);
            std::snprintf(mean, sizeof mean, "%.2f / %.2f", side[0].mean, side[1].mean);
            std::snprintf(largest, sizeof largest, "%.2f / %.2f", side[0].largest, side[1].largest);
            std::printf("%-28s %7lld %7lld %6lld %6lld  %5.1f %15s %15s %15s\n", fraction == 0.5 ? name.c_str() : "",
                        static_cast<long long>(sizes[0]), static_cast<long long>(sizes[1]),
                        static_cast<long long>(sizes[2]), static_cast<long long>(counts.split), fraction, tris, mean,
                        largest);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    int64_t triangles = 1000000;
    bool reduceOnly = false, orderOnly = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--reduce-only")
            reduceOnly = true;
        else if (a == "--order-only")
            orderOnly = true;
        else if (a == "--quality")
            return Quality(std::vector<std::string>(argv + i + 1, argv + argc));
        else
            triangles = std::atoll(a.c_str());
    }
    kgl::SetMessageHandler(
        [](const std::string&, const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });

    kgl::bench::TBenchModel bm = kgl::bench::EnsureBenchModel(triangles);
    std::printf("model: %s (%lld triangles, %lld vertices, %.1f MB OBJ)\n", bm.path.c_str(),
                static_cast<long long>(bm.triangles), static_cast<long long>(bm.vertices), bm.bytes / 1e6);

    // The model for the reduction; the loads are timed further down, side by side.
    kgl::TKGLModel model, loaded;
    auto release = [&] { loaded = kgl::TKGLModel(); };
    if (!kgl::LoadFromFile(model, bm.path)) return 1;

    // ---- the edge order by geometric error, each run from the area order of the load
    if (!reduceOnly) {
        const kgl::TLargeTable<kgl::TEdge> areaOrder = model.edges;
        kgl::TKGLModel ordered;
        ordered = model;  // the faces and vertices it reads; the runs reorder its edges
        const int orderRuns = std::max(1, runs / 2);
        ResetPeak();
        const long before = StatusKb("VmRSS");
        double order = Time(
            orderRuns, [&] { kgl::OrderEdgesByError(ordered); }, [&] { ordered.edges = areaOrder; });
        double orderCpu = g_lastCpu;
        const long peak = StatusKb("VmHWM");
        double reduceHalf = Time(std::max(runs * 4 + 1, 11), [&] { kgl::Reduce(ordered, 0.5); });
        std::printf(
            "OrderEdgesByError           %8.3f s   cpu %8.3f s   (%d entries; memory beyond the model: peak %.0f MB, "
            "%.0f bytes a triangle; %d runs)\n",
            order, orderCpu, model.eCount + 1, (peak - before) / 1024.0,
            (peak - before) * 1024.0 / static_cast<double>(model.fCount), orderRuns);
        std::printf("Reduce(model, 0.5), error order %5.2f ms  cpu %5.2f ms  (%d of %d faces hidden)\n",
                    reduceHalf * 1e3, g_lastCpu * 1e3, Hidden(ordered), ordered.fCount);
        if (orderOnly) return 0;
    }

    // ---- Reduce against meshoptimizer
    const int reduceRuns = std::max(runs * 4 + 1, 11);
    double reduceHalf = Time(reduceRuns, [&] { kgl::Reduce(model, 0.5); });
    double reduceHalfCpu = g_lastCpu;
    int hiddenHalf = Hidden(model);
    int32_t examined = 0, collapsed = 0;
    for (int32_t e = 0; e <= model.eCount; ++e)
        if (!model.edges[e].active) {
            examined = e + 1;
            ++collapsed;
        }
    std::printf("at 0.5: %d of %d edge entries examined, %d collapsed\n", examined, model.eCount, collapsed);
    double reduceFull = Time(reduceRuns, [&] { kgl::Reduce(model, 1.0); });
    double reduceFullCpu = g_lastCpu;
    double reduceZero = Time(reduceRuns, [&] { kgl::Reduce(model, 0.0); });
    double reduceZeroCpu = g_lastCpu;
    if (reduceOnly) {
        std::printf("Reduce(model, 0.5) %.2f ms (cpu %.2f), 1.0 %.2f ms, 0.0 %.2f ms\n", reduceHalf * 1e3,
                    reduceHalfCpu * 1e3, reduceFull * 1e3, reduceZero * 1e3);
        return 0;
    }

    std::vector<unsigned> indices;
    indices.reserve(static_cast<size_t>(model.fCount) * 3);
    for (int32_t g = 0; g <= model.gCount; ++g)
        for (int32_t f = 1; f <= model.groups[g].fCount; ++f) {
            const kgl::TFace& face = model.groups[g].faces[f];
            if (face.count != 3) continue;
            for (int32_t v : face.vIdx) indices.push_back(static_cast<unsigned>(v - 1));
        }
    std::vector<float> positions;
    positions.reserve(static_cast<size_t>(model.vCount) * 3);
    for (int32_t v = 1; v <= model.vCount; ++v) {
        positions.push_back(model.vertices[v].x);
        positions.push_back(model.vertices[v].y);
        positions.push_back(model.vertices[v].z);
    }
    std::vector<unsigned> dest(indices.size());
    const size_t target = indices.size() / 6 * 3;
    size_t simplified = 0, sloppy = 0;
    const int peerRuns = std::max(1, runs / 2);
    double tSimplify = Time(peerRuns, [&] {
        simplified = meshopt_simplify(dest.data(), indices.data(), indices.size(), positions.data(),
                                      static_cast<size_t>(model.vCount), sizeof(float) * 3, target, 1.0f, 0, nullptr);
    });
    double tSimplifyCpu = g_lastCpu;
    double tSloppy = Time(peerRuns, [&] {
        sloppy = meshopt_simplifySloppy(dest.data(), indices.data(), indices.size(), positions.data(),
                                        static_cast<size_t>(model.vCount), sizeof(float) * 3, target, 1.0f, nullptr);
    });
    double tSloppyCpu = g_lastCpu;
    std::printf("\n(wall median; cpu median of the process; ratio = peer / Reduce, on wall and on cpu)\n");
    std::printf("Reduce(model, 0.5)          %8.2f ms  cpu %8.2f ms  (%d of %d faces hidden; %d runs)\n",
                reduceHalf * 1e3, reduceHalfCpu * 1e3, hiddenHalf, model.fCount, reduceRuns);
    std::printf("Reduce(model, 1.0)          %8.2f ms  cpu %8.2f ms\n", reduceFull * 1e3, reduceFullCpu * 1e3);
    std::printf("Reduce(model, 0.0)          %8.2f ms  cpu %8.2f ms\n", reduceZero * 1e3, reduceZeroCpu * 1e3);
    std::printf("meshopt_simplify 50%%        %8.2f ms  cpu %8.2f ms  (%zu triangles left)  ratio %.1fx / %.1fx\n",
                tSimplify * 1e3, tSimplifyCpu * 1e3, simplified / 3, tSimplify / reduceHalf,
                tSimplifyCpu / reduceHalfCpu);
    std::printf("meshopt_simplifySloppy 50%%  %8.2f ms  cpu %8.2f ms  (%zu triangles left)  ratio %.1fx / %.1fx\n",
                tSloppy * 1e3, tSloppyCpu * 1e3, sloppy / 3, tSloppy / reduceHalf, tSloppyCpu / reduceHalfCpu);

    // ---- the model as shown: what a save of it adds to the writer's own time
    std::printf("\n");
    for (double fraction : {0.0, 0.5, 0.9}) {
        kgl::Reduce(model, fraction);
        kgl::TKGLModel baked;
        const double bake = Time(
            runs,
            [&] {
                if (!kgl::BakeReduction(model, baked)) std::exit(1);
            },
            [&] { baked = kgl::TKGLModel(); });
        std::printf("BakeReduction at %.1f         %8.3f s   cpu %8.3f s   (%d faces, %d vertices kept)\n", fraction,
                    bake, g_lastCpu, baked.fCount, baked.vCount);
    }
    kgl::Reduce(model, 0.0);

    // ---- model files
    const std::string dir = (std::filesystem::temp_directory_path() / "kgl-bench-lod-io").string();
    std::filesystem::create_directories(dir);
    const std::string kgm = dir + "/model.kgm", obj = dir + "/model_.obj";
    double kgmSave = Time(runs, [&] { kgl::SaveToKGM(model, kgm); });
    double kgmSaveCpu = g_lastCpu;
    // OBJ and KGM loads of the same model taken in turn, after one untimed load of each
    // (the first load of a process also pays for memory the system hands out for the first time), so that
    // both meet the same machine. A load is timed alone: the model before it is released
    // before the clock starts.
    std::vector<double> objT, objC, kgmT, kgmC;
    for (int r = -1; r < runs; ++r) {
        for (int which = 0; which < 2; ++which) {
            const std::string& file = which == 0 ? bm.path : kgm;
            double t = Time(
                1,
                [&] {
                    if (!kgl::LoadFromFile(loaded, file)) std::exit(1);
                },
                release);
            if (r < 0) continue;
            (which == 0 ? objT : kgmT).push_back(t);
            (which == 0 ? objC : kgmC).push_back(g_lastCpu);
        }
    }
    release();
    const double objLoad = Median(objT), objLoadCpu = Median(objC), kgmLoad = Median(kgmT), kgmLoadCpu = Median(kgmC);
    double objSave = Time(std::max(1, runs / 2), [&] { kgl::SaveToOBJ(model, obj); });
    double objSaveCpu = g_lastCpu;
    std::printf("\nSaveToKGM                   %8.3f s   cpu %8.3f s   (%.1f MB)\n", kgmSave, kgmSaveCpu,
                std::filesystem::file_size(kgm) / 1e6);
    std::printf("LoadFromFile OBJ            %8.3f s   cpu %8.3f s\n", objLoad, objLoadCpu);
    std::printf("LoadFromFile KGM            %8.3f s   cpu %8.3f s   OBJ load / KGM load %.1fx (cpu %.1fx)\n", kgmLoad,
                kgmLoadCpu, objLoad / kgmLoad, objLoadCpu / kgmLoadCpu);
    std::printf("SaveToOBJ                   %8.3f s   cpu %8.3f s   (%.1f MB)\n", objSave, objSaveCpu,
                std::filesystem::file_size(obj) / 1e6);
    std::filesystem::remove_all(dir);
    return 0;
}
