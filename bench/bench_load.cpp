// Load benchmark: LoadFromFile (both passes, measures, edge table) against
// tinyobjloader's LoadObj on the same generated files, in the same run.
// Each timed load runs in a child process of its own, so its peak memory is that
// load's alone (wait4 reports the child's maximum resident set).
// usage: bench_load [--runs N] [--progress] [TRIANGLES ...]   (default 100000 1000000 4000000)
// --progress: a progress handler installed, as the editor has one during a load.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <tiny_obj_loader.h>

#include "KGLModel.h"
#include "bench_models.h"
#include "messages.h"
#include "progress.h"

namespace {

struct TSample {
    double seconds = 0;
    double cpu = 0;  // user + system time of the child: steadier than wall time on a busy machine
    double peakMB = 0;
    bool ok = false;
};

// Runs load() in a child; returns its time and the child's peak resident set.
TSample RunInChild(const std::function<bool()>& load) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        auto t0 = std::chrono::steady_clock::now();
        bool ok = load();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        double msg[2] = {s, ok ? 1.0 : 0.0};
        ssize_t w = write(fds[1], msg, sizeof msg);
        _exit(w == sizeof msg ? 0 : 1);  // skip the teardown: only the load is measured
    }
    close(fds[1]);
    TSample r;
    double msg[2] = {0, 0};
    ssize_t got = read(fds[0], msg, sizeof msg);
    close(fds[0]);
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    if (got == sizeof msg && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        r.seconds = msg[0];
        r.ok = msg[1] != 0;
        r.peakMB = static_cast<double>(ru.ru_maxrss) / 1024.0;  // kilobytes on Linux
        r.cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    }
    return r;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct TResult {
    double seconds, cpu, peakMB;
    bool ok;
};

TResult Measure(int runs, const std::function<bool()>& load) {
    std::vector<double> times, cpus, peaks;
    bool ok = true;
    for (int i = 0; i < runs; ++i) {
        TSample s = RunInChild(load);
        ok = ok && s.ok;
        times.push_back(s.seconds);
        cpus.push_back(s.cpu);
        peaks.push_back(s.peakMB);
    }
    return {Median(times), Median(cpus), Median(peaks), ok};
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::vector<long long> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--progress") == 0)
            // a handler as the editor has one: every report of the load reaches it
            kgl::SetProgressHandler([](uint64_t, uint64_t) { return true; });
        else
            sizes.push_back(std::atoll(argv[i]));
    }
    if (sizes.empty()) sizes = {100000, 1000000, 4000000};
    kgl::SetMessageHandler(
        [](const std::string&, const std::string& text) { std::fprintf(stderr, "message: %s\n", text.c_str()); });

    std::printf("%-10s %7s | %7s %6s %6s %7s | %7s %6s %6s %7s | %5s %5s %6s\n", "triangles", "MB", "ours s", "cpu s",
                "MB/s", "peak MB", "peer s", "cpu s", "MB/s", "peak MB", "time", "cpu", "memory");
    double firstPerTri = 0, firstTris = 0;
    for (long long n : sizes) {
        kgl::bench::TBenchModel m = kgl::bench::EnsureBenchModel(n);
        const double mb = static_cast<double>(m.bytes) / 1e6;
        // warm the page cache so both loaders read from memory
        RunInChild([&] {
            kgl::TKGLModel model;
            kgl::InitModel(model);
            return kgl::LoadFromFile(model, m.path);
        });
        TResult ours = Measure(runs, [&] {
            kgl::TKGLModel model;
            kgl::InitModel(model);
            return kgl::LoadFromFile(model, m.path);
        });
        TResult peer = Measure(runs, [&] {
            tinyobj::attrib_t attrib;
            std::vector<tinyobj::shape_t> shapes;
            std::vector<tinyobj::material_t> materials;
            std::string warn, err;
            return tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, m.path.c_str(), nullptr,
                                    /*triangulate=*/false);
        });
        std::printf("%-10lld %7.1f | %7.3f %6.3f %6.0f %7.0f | %7.3f %6.3f %6.0f %7.0f | %5.2f %5.2f %6.2f%s\n",
                    static_cast<long long>(m.triangles), mb, ours.seconds, ours.cpu, mb / ours.seconds, ours.peakMB,
                    peer.seconds, peer.cpu, mb / peer.seconds, peer.peakMB, ours.seconds / peer.seconds,
                    ours.cpu / peer.cpu, ours.peakMB / peer.peakMB, ours.ok && peer.ok ? "" : "  (a load failed)");
        double perTri = ours.seconds / static_cast<double>(m.triangles);
        if (firstPerTri == 0) {
            firstPerTri = perTri;
            firstTris = static_cast<double>(m.triangles);
        } else {
            std::printf("           time per triangle vs %.0f triangles: %.2f x\n", firstTris, perTri / firstPerTri);
        }
        std::fflush(stdout);
    }
    std::printf(
        "(medians of %d runs, each in its own process; peer = tinyobjloader LoadObj; the last three\n"
        " columns are ours / peer for wall time, CPU time and peak resident memory)\n",
        runs);
    return 0;
}
