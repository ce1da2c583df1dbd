#pragma once
// How a run of kglmodel-import went, and what it means for the caller (private to
// import/). The reading of its output and the judgement of its end are pure functions,
// so that any bytes a child may write, and any way it may end, can be tried on them
// (the import fuzz target) without running a child.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "import.h"
#include "sandbox.h"

namespace kgl {

// A descriptor owned: closed with the object.
class TOwnedFd {
public:
    TOwnedFd() = default;
    explicit TOwnedFd(int fd) : fd_(fd) {}
    ~TOwnedFd();
    TOwnedFd(TOwnedFd&& other) noexcept : fd_(other.Release()) {}
    TOwnedFd& operator=(TOwnedFd&& other) noexcept;
    int Get() const { return fd_; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

// The end of a run, as the caller saw it.
struct TImportRun {
    bool exited = false;  // ended by exit(exitCode); else by signal
    int exitCode = 0;
    int signal = 0;
    bool timedOut = false;              // killed by the caller at the wall-clock limit
    std::string errorText;              // its standard error, at most kImportErrorTextMax bytes
    std::vector<std::string> warnings;  // its "warning" lines, at most kImportWarningsMax
    std::string forbiddenCall;          // the system call the sandbox stopped it at, if any
    bool saidDone = false;              // it said "done": what it hands over is complete
    TOwnedFd handedOver;                // the memory file it handed its output over in, sealed
};
constexpr size_t kImportErrorTextMax = 4096;
constexpr size_t kImportWarningsMax = 8;

// Reads the child's standard output as it arrives, in pieces of any size: each line
// "progress DONE TOTAL" (decimal, DONE <= TOTAL) goes to progress, each "warning TEXT"
// with a TEXT is kept in run.warnings (its first 200 bytes, escaped), "done" sets
// run.saidDone; any other line, and any line longer than 1024 bytes, is ignored.
class TImportOutput {
public:
    using TProgress = std::function<void(uint64_t done, uint64_t total)>;
    void Feed(std::string_view bytes, TImportRun& run, const TProgress& progress);

private:
    void Line(std::string_view line, TImportRun& run, const TProgress& progress);
    std::string partial_;
    bool overlong_ = false;
};

// Returns when the run handed its output over (exit 0); else throws the failure it is,
// as an EModelError without a place: EOutOfMemory for exit 3, EReadError otherwise
// (EInOutError when who, the child's name in the messages, is not "importer"), with the
// reason the child gave (its first line of standard error, escaped), the limit it
// passed, or the forbidden system call it was stopped at.
void CheckImportRun(const TImportRun& run, const TImportLimits& limits, const std::string& who = "importer");

// A child to run: program with args, the folder of readable (and of the file a link there
// leads to) readable beside the libraries (none when empty), and input a descriptor the
// child gets as its descriptor 4, for reading (-1: none). It writes no file anywhere: what
// it makes it hands over on descriptor 3. who names it in messages ("importer").
struct TChildCall {
    std::string program;
    std::vector<std::string> args;
    std::string readable;
    int input = -1;
    std::string who = "importer";
};

// Runs the call as a child under limits and in the sandbox of mode (sandbox.h), with no
// standard input, its output read into a TImportRun and its descriptor 3 a memory file
// of ours for what it hands over (which it may fill up to the address-space limit;
// RLIMIT_FSIZE). While it runs, the progress service hears its progress at least every
// 0.2 s; when that asks to stop (ECancelled), or the wall-clock limit passes, or it tries
// a forbidden system call, the child and everything it started are killed before this
// returns or throws. Throws EInOutError when the child cannot be started.
//
// With take, the memory file goes to take (sealed, so that nothing can write to it any
// more) as soon as the child says "done", while the child ends: the caller need not
// wait for the child's end to read what it was handed. The run is then followed to its end as before,
// and returned without handedOver; the caller keeps what take made only when
// CheckImportRun passes. A child that ends well without saying "done" has its file
// taken after its end. An exception of take goes out of RunChild, the child killed.
using TTakeHandOver = std::function<void(int fd)>;
TImportRun RunChild(const TChildCall& call, const TImportLimits& limits, TSandboxMode mode,
                    const TTakeHandOver& take = {});

// The sandbox every child runs in (SetImportSandbox), and the limits of one that works on
// bytes of input (SetImportLimits, else ImportLimitsFor).
TSandboxMode ChildSandbox();
TImportLimits ChildLimits(uint64_t bytes);

}  // namespace kgl
