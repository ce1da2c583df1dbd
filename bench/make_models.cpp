// Writes the cached benchmark models and prints their paths and sizes: the OBJ files,
// and with --formats the same surfaces as binary PLY, binary STL and GLB.
// usage: bench_make_models [--formats] [TRIANGLES ...]   (default 100000 1000000 4000000)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "bench_models.h"

int main(int argc, char** argv) {
    std::vector<long long> sizes;
    bool formats = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--formats") == 0)
            formats = true;
        else
            sizes.push_back(std::atoll(argv[i]));
    }
    if (sizes.empty()) sizes = {100000, 1000000, 4000000};
    auto print = [](const kgl::bench::TBenchModel& m) {
        std::printf("%s  %lld triangles  %lld vertices  %d groups  %.1f MB\n", m.path.c_str(),
                    static_cast<long long>(m.triangles), static_cast<long long>(m.vertices), m.groups,
                    static_cast<double>(m.bytes) / 1e6);
    };
    try {
        for (long long n : sizes) {
            print(kgl::bench::EnsureBenchModel(n));
            if (formats)
                for (const char* ext : {".ply", ".stl", ".glb"}) print(kgl::bench::EnsureBenchModelAs(n, ext));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_make_models: %s\n", e.what());
        return 1;
    }
    return 0;
}
