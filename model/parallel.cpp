#include "parallel.h"

#include <atomic>

namespace kgl {

namespace {
std::atomic<int32_t> g_forcedThreads{0};
}  // namespace

void SetLoadThreads(int32_t threads) { g_forcedThreads = threads > 0 ? threads : 0; }

size_t WorkThreads(uint64_t items, uint64_t minItems) {
    const int32_t forced = g_forcedThreads.load();
    if (forced > 0) return static_cast<size_t>(forced);
    const uint64_t cores = std::clamp<uint64_t>(std::thread::hardware_concurrency(), 1, 64);
    return static_cast<size_t>(std::clamp<uint64_t>(items / std::max<uint64_t>(minItems, 1), 1, cores));
}

}  // namespace kgl
