// Running kglmodel-import and judging how it ended. The child is started with fork and
// exec, so that its limits are set before the first byte of the file is read; it leads
// a process group of its own, so that a kill reaches anything it started.
#include "import_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>

#include "errors.h"
#include "progress.h"

namespace kgl {

namespace {
constexpr size_t kLineMax = 1024;
constexpr size_t kWarningMax = 200;

bool ParseCount(std::string_view text, uint64_t& value) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}
}  // namespace

void TImportOutput::Feed(std::string_view bytes, TImportRun& run, const TProgress& progress) {
    while (!bytes.empty()) {
        const size_t nl = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, nl);
        if (!overlong_) {
            if (partial_.size() + piece.size() > kLineMax) {
                overlong_ = true;
                partial_.clear();
            } else {
                partial_.append(piece);
            }
        }
        if (nl == std::string_view::npos) return;
        if (!overlong_) Line(partial_, run, progress);
        partial_.clear();
        overlong_ = false;
        bytes.remove_prefix(nl + 1);
    }
}

void TImportOutput::Line(std::string_view line, TImportRun& run, const TProgress& progress) {
    constexpr std::string_view kProgress = "progress ", kWarning = "warning ";
    if (line.substr(0, kProgress.size()) == kProgress) {
        line.remove_prefix(kProgress.size());
        const size_t blank = line.find(' ');
        uint64_t done = 0, total = 0;
        if (blank != std::string_view::npos && ParseCount(line.substr(0, blank), done) &&
            ParseCount(line.substr(blank + 1), total) && done <= total && progress)
            progress(done, total);
    } else if (line.substr(0, kWarning.size()) == kWarning && line.size() > kWarning.size() &&
               run.warnings.size() < kImportWarningsMax) {
        run.warnings.push_back(QuoteText(line.substr(kWarning.size()), kWarningMax));
    }
}

void CheckImportRun(const TImportRun& run, const TImportLimits& limits) {
    if (run.exited && run.exitCode == 0) return;
    const std::string said = QuoteText(run.errorText.substr(0, run.errorText.find('\n')), 300);
    if (run.timedOut)
        throw EReadError("The importer did not finish within " + std::to_string(limits.wallSeconds) + " s");
    if (run.exited) {
        if (run.exitCode == 1)
            throw EReadError(said.empty() ? std::string("The importer could not read the file") : said);
        if (run.exitCode == 3)
            throw EOutOfMemory("The importer needed more than its " + std::to_string(limits.addressSpace >> 20) +
                               " MB of memory");
        throw EReadError("The importer ended with status " + std::to_string(run.exitCode) +
                         (said.empty() ? std::string() : ": " + said));
    }
    if (run.signal == SIGXCPU || run.signal == SIGKILL)
        throw EReadError("The importer used more than its " + std::to_string(limits.cpuSeconds) +
                         " s of processor time");
    const char* name = strsignal(run.signal);
    throw EReadError("The importer crashed (signal " + std::to_string(run.signal) + ": " +
                     QuoteText(name ? name : "unknown", 60) + ")");
}

namespace {

// The child's side between fork and exec: only calls that are safe there.
[[noreturn]] void StartChild(const char* program, char* const argv[], int out, int err, const TImportLimits& limits) {
    setpgid(0, 0);
    const int null = open("/dev/null", O_RDONLY);
    if (null < 0 || dup2(null, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    // the soft limit sends SIGXCPU, the hard one a second later SIGKILL
    const rlimit cpu{limits.cpuSeconds, limits.cpuSeconds + 1};
    if (setrlimit(RLIMIT_CPU, &cpu) != 0) _exit(126);
#if !defined(__SANITIZE_ADDRESS__)
    // A sanitizer build's importer reserves terabytes of address space for its shadow
    // memory and could not start under the limit; there the sanitizer's own allocation
    // limit stands in for it.
    const rlimit as{limits.addressSpace, limits.addressSpace};
    if (setrlimit(RLIMIT_AS, &as) != 0) _exit(126);
#endif
    const rlimit core{0, 0};  // a crash leaves no core file behind
    setrlimit(RLIMIT_CORE, &core);
    syscall(SYS_close_range, 3u, ~0u, 0u);  // nothing of the caller's but the three streams
    execv(program, argv);
    _exit(127);
}

// The child for as long as it may live: killed with its group and reaped on any exit.
class TChild {
public:
    explicit TChild(pid_t pid) : pid_(pid) {}
    ~TChild() {
        if (pid_ > 0) {
            Kill();
            int status;
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;
    void Kill() const {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
    }
    // Waits for the end; fills how it ended.
    void Reap(TImportRun& run) {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        run.exited = WIFEXITED(status);
        run.exitCode = run.exited ? WEXITSTATUS(status) : 0;
        run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }

private:
    pid_t pid_;
};

struct TPipe {
    int fd[2] = {-1, -1};
    TPipe() {
        if (pipe2(fd, O_CLOEXEC) != 0) throw EInOutError(std::string("Cannot start the importer: ") + strerror(errno));
    }
    ~TPipe() { CloseAll(); }
    void CloseWrite() {
        if (fd[1] >= 0) close(fd[1]);
        fd[1] = -1;
    }
    void CloseAll() {
        CloseWrite();
        if (fd[0] >= 0) close(fd[0]);
        fd[0] = -1;
    }
};

}  // namespace

TImportRun RunImporter(const std::string& program, const std::string& in, const std::string& out,
                       const TImportLimits& limits) {
    if (access(program.c_str(), X_OK) != 0)
        throw EInOutError("Cannot start the importer \"" + QuoteText(program, program.size()) +
                          "\": " + strerror(errno));
    TPipe output, errors;
    std::string arg0 = program, arg1 = in, arg2 = out;
    char* const argv[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};
    const pid_t pid = fork();
    if (pid < 0) throw EInOutError(std::string("Cannot start the importer: ") + strerror(errno));
    if (pid == 0) StartChild(program.c_str(), argv, output.fd[1], errors.fd[1], limits);
    TChild child(pid);
    setpgid(pid, pid);  // also here, so that a kill before the child's own call reaches it
    output.CloseWrite();
    errors.CloseWrite();

    TImportRun run;
    TImportOutput reader;
    uint64_t done = 0, total = 0;
    auto progress = [&](uint64_t d, uint64_t t) {
        done = d;
        total = t;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limits.wallSeconds);
    pollfd fds[2] = {{output.fd[0], POLLIN, 0}, {errors.fd[0], POLLIN, 0}};
    char buf[4096];
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            run.timedOut = true;
            child.Kill();
            break;
        }
        const int ready = poll(fds, 2, static_cast<int>(std::min<int64_t>(left.count(), 200)));
        if (ready < 0 && errno != EINTR)
            throw EInOutError(std::string("Cannot follow the importer: ") + strerror(errno));
        for (pollfd& p : fds) {
            if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t got = read(p.fd, buf, sizeof buf);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                p.fd = -1;  // the end of this stream
                continue;
            }
            if (&p == &fds[0]) {
                reader.Feed(std::string_view(buf, static_cast<size_t>(got)), run, progress);
            } else if (run.errorText.size() < kImportErrorTextMax) {
                run.errorText.append(buf,
                                     std::min(static_cast<size_t>(got), kImportErrorTextMax - run.errorText.size()));
            }
        }
        // heard even while the child is silent, so that a cancel is never far off;
        // ECancelled kills the child on its way out (TChild)
        if (HasProgressHandler()) ReportProgress(done, total);
    }
    child.Reap(run);
    return run;
}

}  // namespace kgl
