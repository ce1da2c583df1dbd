#include "parallel.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace kgl {

namespace {
std::atomic<int32_t> g_forcedThreads{0};

// How long a thread of the pool stays awake for the next loop, and the caller for the
// end of its loop, before they sleep.
constexpr auto kAwake = std::chrono::microseconds(1000);

void Pause() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// The cores this process may run on (its affinity mask, as `taskset` sets it).
size_t UsableCores() noexcept {
#if defined(__linux__)
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) return static_cast<size_t>(CPU_COUNT(&allowed));
#endif
    return std::max(1u, std::thread::hardware_concurrency());
}

// Waits until done() holds: awake for up to kAwake when it may keep a core busy, then
// asleep until woken.
template <class Done>
void WaitFor(std::mutex& m, std::condition_variable& woken, bool awake, Done&& done) {
    if (awake) {
        const auto until = std::chrono::steady_clock::now() + kAwake;
        for (unsigned k = 1; !done(); ++k) {
            Pause();
            if (k % 64 == 0 && std::chrono::steady_clock::now() >= until) break;
        }
    }
    if (done()) return;
    std::unique_lock<std::mutex> lock(m);
    woken.wait(lock, done);
}

// What a thread of the pool is given: the loop it is to run its range of.
struct TWorker {
    std::atomic<uint64_t> loop{0};  // the last loop given to it
    void (*run)(void*, size_t) = nullptr;
    void* context = nullptr;
};

class TPool {
public:
    bool Run(size_t n, void (*run)(void*, size_t), void* context) noexcept {
        bool expected = false;
        if (!busy_.compare_exchange_strong(expected, true, std::memory_order_acquire)) return false;
        const bool ok = Grow(n - 1);
        if (ok) {
            const uint64_t loop = ++loops_;
            pending_.store(n - 1, std::memory_order_relaxed);
            for (size_t i = 0; i + 1 < n; ++i) {
                TWorker& w = *workers_[i];
                w.run = run;
                w.context = context;
                w.loop.store(loop, std::memory_order_release);
            }
            {
                const std::lock_guard<std::mutex> lock(m_);  // no sleeper misses its loop
            }
            woken_.notify_all();
            run(context, 0);
            WaitFor(m_, done_, cores_ > 1, [&] { return pending_.load(std::memory_order_acquire) == 0; });
        }
        busy_.store(false, std::memory_order_release);
        return ok;
    }

private:
    // Threads for ranges 1 .. count; false when one cannot be started.
    bool Grow(size_t count) noexcept {
        try {
            workers_.reserve(count);
            while (workers_.size() < count) {
                auto w = std::make_unique<TWorker>();
                std::thread([this, at = w.get(), index = workers_.size()] { Serve(*at, index); }).detach();
                workers_.push_back(std::move(w));  // room reserved: cannot throw
            }
            return true;
        } catch (...) {  // no thread, or no room for one: the caller starts its own
            return false;
        }
    }

    void Serve(TWorker& w, size_t index) {
        // only as many threads stay awake as there are other cores to keep busy: on one
        // core, a thread awake would only keep the others from their work
        const bool awake = index + 1 < cores_;
        uint64_t seen = 0;
        for (;;) {
            WaitFor(m_, woken_, awake, [&] { return w.loop.load(std::memory_order_acquire) != seen; });
            seen = w.loop.load(std::memory_order_acquire);
            w.run(w.context, index + 1);
            if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
                { const std::lock_guard<std::mutex> lock(m_); }
                done_.notify_all();
            }
        }
    }

    const size_t cores_ = UsableCores();
    std::atomic<bool> busy_{false};
    uint64_t loops_ = 0;
    std::atomic<size_t> pending_{0};
    std::mutex m_;
    std::condition_variable woken_, done_;
    std::vector<std::unique_ptr<TWorker>> workers_;
};

// The pool, made at its first use; its threads live as long as the process. A child made
// by fork has none of them (fork copies only the thread that calls it), so the child
// forgets its copy of the pool and makes its own, should it run loops.
std::atomic<TPool*> g_pool{nullptr};
std::once_flag g_forgetInChild;

void ForgetPool() noexcept { g_pool.store(nullptr, std::memory_order_relaxed); }

TPool& Pool() {
    if (TPool* pool = g_pool.load(std::memory_order_acquire)) return *pool;
    std::call_once(g_forgetInChild, [] { pthread_atfork(nullptr, nullptr, ForgetPool); });
    auto* fresh = new TPool;
    TPool* made = nullptr;
    if (g_pool.compare_exchange_strong(made, fresh, std::memory_order_acq_rel)) return *fresh;
    delete fresh;  // another thread made it first
    return *made;
}
}  // namespace

void SetLoadThreads(int32_t threads) { g_forcedThreads = threads > 0 ? threads : 0; }

size_t WorkThreads(uint64_t items, uint64_t minItems) {
    const int32_t forced = g_forcedThreads.load();
    if (forced > 0) return static_cast<size_t>(forced);
    const uint64_t cores = std::clamp<uint64_t>(std::thread::hardware_concurrency(), 1, 64);
    return static_cast<size_t>(std::clamp<uint64_t>(items / std::max<uint64_t>(minItems, 1), 1, cores));
}

bool RunOnPool(size_t n, void (*run)(void*, size_t), void* context) noexcept {
    if (n < 2) return false;
    try {
        return Pool().Run(n, run, context);
    } catch (...) {  // no memory for the pool
        return false;
    }
}

}  // namespace kgl
