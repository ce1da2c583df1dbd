// Running kglmodel-import and judging how it ended. The child is started with fork and
// exec, so that its limits and its sandbox are set before the first byte of the file is
// read; it leads a process group of its own, so that a kill reaches anything it started.
#include "import_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>

#include "errors.h"
#include "progress.h"
#include "sandbox.h"

extern char** environ;

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
    } else if (line == "done") {
        run.saidDone = true;
    } else if (line.substr(0, kWarning.size()) == kWarning && line.size() > kWarning.size() &&
               run.warnings.size() < kImportWarningsMax) {
        run.warnings.push_back(QuoteText(line.substr(kWarning.size()), kWarningMax));
    }
}

void CheckImportRun(const TImportRun& run, const TImportLimits& limits, const std::string& who) {
    // what an importer could not do is a file that cannot be read; an exporter's, one
    // that cannot be written
    const std::string the = "The " + who;
    auto fail = [&](const std::string& text) {
        if (who == "importer") throw EReadError(text);
        throw EInOutError(text);
    };
    if (!run.forbiddenCall.empty())
        fail(the + " was stopped: it tried a forbidden system call (" + QuoteText(run.forbiddenCall, 60) + ")");
    if (run.exited && run.exitCode == 0) return;
    const std::string said = QuoteText(run.errorText.substr(0, run.errorText.find('\n')), 300);
    if (!run.exited && run.signal == SIGSYS)  // the child's own filter: no new program
        fail(the + " was stopped: it tried a forbidden system call");
    if (!run.exited && run.signal == SIGXFSZ)
        fail(the + " handed over more than its " + std::to_string(limits.addressSpace >> 20) + " MB");
    if (run.timedOut) fail(the + " did not finish within " + std::to_string(limits.wallSeconds) + " s");
    if (run.exited) {
        if (run.exitCode == 1)
            fail(!said.empty()       ? said
                 : who == "importer" ? the + " could not read the file"
                                     : the + " could not write the file");
        if (run.exitCode == 3)
            throw EOutOfMemory(the + " needed more than its " + std::to_string(limits.addressSpace >> 20) +
                               " MB of memory");
        if (run.exitCode == 126 && !said.empty()) fail(said);  // its sandbox could not be set up
        fail(the + " ended with status " + std::to_string(run.exitCode) + (said.empty() ? std::string() : ": " + said));
    }
    if (run.signal == SIGXCPU || run.signal == SIGKILL)
        fail(the + " used more than its " + std::to_string(limits.cpuSeconds) + " s of processor time");
    const char* name = strsignal(run.signal);
    fail(the + " crashed (signal " + std::to_string(run.signal) + ": " + QuoteText(name ? name : "unknown", 60) + ")");
}

namespace {

// The descriptors the child starts with: 0 /dev/null, 1 and 2 the pipes, 3 the memory
// file of its output, 4 its input (when it has one); 5 and 6 the sandbox's (EnterSandbox
// closes them before exec).
struct TChildFds {
    int out, err, output, input, ruleset, socket;
};

// The child's side between fork and exec: only calls that are safe there.
[[noreturn]] void StartChild(const char* program, char* const argv[], char* const envp[], const TChildFds& fds,
                             const TImportLimits& limits, bool sandboxed) {
    setpgid(0, 0);
    // each descriptor first above every target, then into its place
    int from[6] = {fds.out, fds.err, fds.output, fds.input, fds.ruleset, fds.socket};
    for (int& fd : from)
        if (fd >= 0 && (fd = fcntl(fd, F_DUPFD_CLOEXEC, 10)) < 0) _exit(126);
    const int null = open("/dev/null", O_RDONLY);
    if (null < 0 || dup2(null, 0) < 0) _exit(126);
    for (int target = 1; target <= 6; ++target)
        if (from[target - 1] >= 0 && dup2(from[target - 1], target) < 0) _exit(126);
    syscall(SYS_close_range, 7u, ~0u, 0u);  // nothing of the caller's but these
    // the soft limit sends SIGXCPU, the hard one a second later SIGKILL
    const rlimit cpu{limits.cpuSeconds, limits.cpuSeconds + 1};
    if (setrlimit(RLIMIT_CPU, &cpu) != 0) _exit(126);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // A sanitizer build's importer reserves terabytes of address space for its shadow
    // memory and could not start under the limit; there the sanitizer's own allocation
    // limit stands in for it.
    const rlimit as{limits.addressSpace, limits.addressSpace};
    if (setrlimit(RLIMIT_AS, &as) != 0) _exit(126);
#endif
    // the geometry it hands over is bounded like its memory
    const rlimit fsize{limits.addressSpace, limits.addressSpace};
    if (setrlimit(RLIMIT_FSIZE, &fsize) != 0) _exit(126);
    const rlimit core{0, 0};  // a crash leaves no core file behind
    setrlimit(RLIMIT_CORE, &core);
    if (sandboxed) EnterSandbox(fds.ruleset >= 0 ? 5 : -1, 6);
    execve(program, argv, envp);
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
        if (pipe2(fd, O_CLOEXEC) != 0) throw EInOutError(std::string("Cannot start a child: ") + strerror(errno));
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

// The environment the importer runs with: the caller's, and in a sanitizer build no
// leak check at its end (the leak checker stops the process with ptrace, which the
// sandbox refuses).
std::vector<std::string> ImporterEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
#if defined(__SANITIZE_ADDRESS__)
    bool found = false;
    for (std::string& e : env)
        if (e.rfind("ASAN_OPTIONS=", 0) == 0) {
            e += ":detect_leaks=0";
            found = true;
        }
    if (!found) env.emplace_back("ASAN_OPTIONS=detect_leaks=0");
#endif
    return env;
}

}  // namespace

TOwnedFd::~TOwnedFd() {
    if (fd_ >= 0) close(fd_);
}

TOwnedFd& TOwnedFd::operator=(TOwnedFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = other.Release();
    }
    return *this;
}

TImportRun RunChild(const TChildCall& call, const TImportLimits& limits, TSandboxMode mode, const TTakeHandOver& take) {
    const std::string& program = call.program;
    if (access(program.c_str(), X_OK) != 0)
        throw EInOutError("Cannot start the " + call.who + " \"" + QuoteText(program, program.size()) +
                          "\": " + strerror(errno));
    const bool sandboxed = mode != TSandboxMode::kOff;
    if (sandboxed && !KernelProtections().filter)
        throw EInOutError("Cannot start the " + call.who +
                          ": this kernel offers no system-call filter to run it under");
    const TLandlockRules rules(program, call.readable, mode);
    TPipe output, errors;
    TOwnedFd geometry(static_cast<int>(syscall(SYS_memfd_create, "kgl-import", MFD_CLOEXEC | MFD_ALLOW_SEALING)));
    int sockets[2] = {-1, -1};
    if (geometry.Get() < 0 || socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0)
        throw EInOutError("Cannot start the " + call.who + ": " + strerror(errno));
    TOwnedFd ours(sockets[0]), theirs(sockets[1]);
    std::vector<std::string> args{program};
    args.insert(args.end(), call.args.begin(), call.args.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = ImporterEnvironment();
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const TChildFds fds{output.fd[1], errors.fd[1], geometry.Get(), call.input, rules.Fd(), theirs.Get()};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limits.wallSeconds);
    const pid_t pid = fork();
    if (pid < 0) throw EInOutError("Cannot start the " + call.who + ": " + strerror(errno));
    if (pid == 0) StartChild(program.c_str(), argv.data(), envp.data(), fds, limits, sandboxed);
    TChild child(pid);
    setpgid(pid, pid);  // also here, so that a kill before the child's own call reaches it
    output.CloseWrite();
    errors.CloseWrite();
    theirs = TOwnedFd();

    TOwnedFd listener;
    if (sandboxed) {
        SendFilter(pid, ours.Get());
        listener = TOwnedFd(ReceiveListener(ours.Get()));  // -1: the child failed, and says why
    }
    TCallWatch watch(listener.Get());

    TImportRun run;
    TImportOutput reader;
    uint64_t done = 0, total = 0;
    auto progress = [&](uint64_t d, uint64_t t) {
        done = d;
        total = t;
    };
    pollfd polled[3] = {{output.fd[0], POLLIN, 0}, {errors.fd[0], POLLIN, 0}, {listener.Get(), POLLIN, 0}};
    // sealed, the file can neither change nor shrink under the caller's reading, even
    // while a process of the child lives
    constexpr int kSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;
    auto seal = [&] {
        if (fcntl(geometry.Get(), F_ADD_SEALS, kSeals) != 0)
            throw EInOutError("What the " + call.who + " handed over cannot be taken over: " + strerror(errno));
    };
    bool taken = false;
    char buf[4096];
    while (polled[0].fd >= 0 || polled[1].fd >= 0) {
        if (take && run.saidDone && !taken && run.forbiddenCall.empty()) {
            seal();
            take(geometry.Get());
            taken = true;
            // what is left is the child's end, which the time take took is no part of
            deadline = std::max(deadline, std::chrono::steady_clock::now() + std::chrono::seconds(5));
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            run.timedOut = true;
            child.Kill();
            break;
        }
        const int ready = poll(polled, 3, static_cast<int>(std::min<int64_t>(left.count(), 200)));
        if (ready < 0 && errno != EINTR) throw EInOutError("Cannot follow the " + call.who + ": " + strerror(errno));
        if (polled[2].fd >= 0 && (polled[2].revents & POLLIN)) {
            if (watch.Next(run.forbiddenCall)) child.Kill();
        } else if (polled[2].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            polled[2].fd = -1;  // the child and its threads are gone
        }
        for (pollfd& p : polled) {
            if (&p == &polled[2] || p.fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t got = read(p.fd, buf, sizeof buf);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                p.fd = -1;  // the end of this stream
                continue;
            }
            if (&p == &polled[0]) {
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
    if (run.exited && run.exitCode == 0 && run.forbiddenCall.empty() && !taken) {
        seal();
        if (take)
            take(geometry.Get());
        else
            run.handedOver = std::move(geometry);
    }
    return run;
}

}  // namespace kgl
