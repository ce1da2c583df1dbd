#pragma once
// The importer's sandbox (private to import/ and kglmodel-import): what binds whatever
// program stands at the importer's path, set up in the child between fork and exec so
// that it holds from the program's first instruction on (no_new_privs keeps both kinds
// of rules across exec).
//
//  - File system and TCP (Landlock, at the ABI the kernel offers): reading only the
//    input's folder (and the folder a link to it leads to), the shared libraries and the
//    loader's cache; executing only the importer and the interpreters it needs to start
//    (the loader named in its ELF header, or a script's "#!" program); writing, making
//    and removing nothing anywhere; no TCP bind or connect; from ABI 6 on, no signal to
//    and no abstract socket of a process outside the sandbox.
//  - System calls (a seccomp filter, made with libseccomp): no new process (fork, vfork,
//    clone without CLONE_THREAD or with a namespace flag), no ptrace or access to
//    another process's memory, no signal to another process, no socket, none of the
//    mount, key, BPF, perf, io_uring, module, namespace, clock or reboot calls, no
//    terminal input injection. Each of these stops the child: the call waits on the
//    caller (a user notification), which names it and kills the child. execve is let
//    through once, for the importer itself, and refused from then on.
//  - The importer adds a filter of its own before it reads a byte of the file, refusing
//    execve and execveat outright (DenyExecution).
// Everything that needs memory is made before fork or in the caller after it; the child
// makes system calls only, as it must in a copy of a process that runs threads.
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "import.h"

namespace kgl {

// What this kernel offers, probed once: Landlock's ABI (0 when it has none, or it is
// switched off) and whether a seccomp filter with a user-notification listener can be had.
struct TKernelProtections {
    int landlockAbi = 0;
    bool filter = false;
};
const TKernelProtections& KernelProtections();
// One line for kglmodel formats: which protections are in force.
std::string ProtectionsLine();

// The Landlock rules for running program on the file input (empty: a child that reads
// no file of the user's): made in the caller before fork, passed on to the child, which
// restricts itself with them. Fd() is -1 when the kernel has no Landlock or the mode does
// without it. Throws EInOutError when a rule cannot be made.
class TLandlockRules {
public:
    TLandlockRules(const std::string& program, const std::string& input, TSandboxMode mode);
    ~TLandlockRules();
    TLandlockRules(const TLandlockRules&) = delete;
    TLandlockRules& operator=(const TLandlockRules&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

// The child's side, between fork and exec, system calls only. rulesetFd (or -1) is the
// Landlock ruleset; socket brings the filter the caller makes (SendFilter) and takes the
// filter's listener back. Returns on success; on failure writes one line to standard
// error and _exits 126.
void EnterSandbox(int rulesetFd, int socket);

// The caller's side after fork: sends the filter for the child pid on socket. Throws
// EInOutError when it cannot be made; a child that has ended is no failure here.
void SendFilter(pid_t child, int socket);
// Receives the listener the child sends on socket; -1 when the child ended first.
int ReceiveListener(int socket);

// Watches the listener: Next() answers one notification when poll says the listener
// is readable; it lets the first execve through and returns false, or returns true
// with name set to the forbidden call (the caller then kills the child).
class TCallWatch {
public:
    explicit TCallWatch(int listener) : listener_(listener) {}
    bool Next(std::string& name);

private:
    int listener_;
    bool started_ = false;
};

// The importer's own filter: execve and execveat end the process from now on. Throws
// EInOutError when the kernel refuses it.
void DenyExecution();

}  // namespace kgl
