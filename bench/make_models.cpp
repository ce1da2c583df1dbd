// Writes the cached benchmark models and prints their paths and sizes.
// usage: bench_make_models [TRIANGLES ...]   (default 100000 1000000 4000000)
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#include "bench_models.h"

int main(int argc, char** argv) {
    std::vector<long long> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoll(argv[i]));
    if (sizes.empty()) sizes = {100000, 1000000, 4000000};
    try {
        for (long long n : sizes) {
            kgl::bench::TBenchModel m = kgl::bench::EnsureBenchModel(n);
            std::printf("%s  %lld triangles  %lld vertices  %d groups  %.1f MB\n", m.path.c_str(),
                        static_cast<long long>(m.triangles), static_cast<long long>(m.vertices), m.groups,
                        static_cast<double>(m.bytes) / 1e6);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_make_models: %s\n", e.what());
        return 1;
    }
    return 0;
}
