// Landlock rules made before fork, a seccomp filter made by libseccomp after it (its
// signal rules name the child), and the watch over the filter's user notifications.
#include "sandbox.h"

#include <elf.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "errors.h"

// Rights and scopes of Landlock ABIs newer than this system's headers.
#ifndef LANDLOCK_ACCESS_FS_REFER
#define LANDLOCK_ACCESS_FS_REFER (1ULL << 13)
#endif
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif
#ifndef LANDLOCK_ACCESS_FS_IOCTL_DEV
#define LANDLOCK_ACCESS_FS_IOCTL_DEV (1ULL << 15)
#endif
#ifndef LANDLOCK_ACCESS_NET_BIND_TCP
#define LANDLOCK_ACCESS_NET_BIND_TCP (1ULL << 0)
#define LANDLOCK_ACCESS_NET_CONNECT_TCP (1ULL << 1)
#endif
#ifndef LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET
#define LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET (1ULL << 0)
#define LANDLOCK_SCOPE_SIGNAL (1ULL << 1)
#endif

namespace kgl {

namespace {

// The ruleset's attributes as the newest ABI has them; older ones read a prefix.
struct TRulesetAttr {
    uint64_t handledFs = 0, handledNet = 0, scoped = 0;
};

long LandlockCreate(const TRulesetAttr* attr, size_t size, uint32_t flags) {
    return syscall(SYS_landlock_create_ruleset, attr, size, flags);
}

uint64_t HandledFs(int abi) {
    uint64_t fs = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1;  // ABI 1: bits 0 .. 12
    if (abi >= 2) fs |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3) fs |= LANDLOCK_ACCESS_FS_TRUNCATE;
    if (abi >= 5) fs |= LANDLOCK_ACCESS_FS_IOCTL_DEV;
    return fs;
}

// Adds path (followed through links) with rights; a path that is not there is skipped.
void AllowPath(int ruleset, const std::string& path, uint64_t rights) {
    const int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode)) rights &= ~uint64_t(LANDLOCK_ACCESS_FS_READ_DIR);
    landlock_path_beneath_attr rule{rights, fd};
    const long r = syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
    const int saved = errno;
    close(fd);
    if (r != 0) throw EInOutError("Cannot limit the importer to \"" + path + "\": " + std::strerror(saved));
}

// What the kernel runs to start a file: a script's "#!" program, or the loader its ELF
// header names (none for a static program, or a file that cannot be read).
struct TStart {
    std::string interpreter;
    bool script = false;
};

TStart StartOf(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    struct TCloser {
        int fd;
        ~TCloser() { close(fd); }
    } closer{fd};
    char head[256] = {};
    const ssize_t got = pread(fd, head, sizeof head - 1, 0);
    if (got < 4) return {};
    if (head[0] == '#' && head[1] == '!') {
        std::string line(head + 2, static_cast<size_t>(got) - 2);
        line = line.substr(0, line.find('\n'));
        const size_t b = line.find_first_not_of(" \t");
        if (b == std::string::npos) return {};
        return {line.substr(b, line.find_first_of(" \t", b) - b), true};
    }
    Elf64_Ehdr eh;
    if (static_cast<size_t>(got) < sizeof eh) return {};
    std::memcpy(&eh, head, sizeof eh);
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
        eh.e_phentsize != sizeof(Elf64_Phdr) || eh.e_phnum > 256)
        return {};
    for (unsigned i = 0; i < eh.e_phnum; ++i) {
        Elf64_Phdr ph;
        if (pread(fd, &ph, sizeof ph, static_cast<off_t>(eh.e_phoff + i * sizeof ph)) != sizeof ph) return {};
        if (ph.p_type != PT_INTERP || ph.p_filesz == 0 || ph.p_filesz > 4096) continue;
        std::string interp(ph.p_filesz, '\0');
        if (pread(fd, interp.data(), interp.size(), static_cast<off_t>(ph.p_offset)) !=
            static_cast<ssize_t>(interp.size()))
            return {};
        return {interp.substr(0, interp.find('\0')), false};
    }
    return {};
}

std::string FolderOf(const std::string& path) {
    const std::filesystem::path p(path);
    return p.has_parent_path() ? p.parent_path().string() : std::string(".");
}

[[noreturn]] void ChildFails(const char* what) {
    // write() only: this runs between fork and exec
    const char head[] = "Cannot set up the importer's sandbox: ";
    [[maybe_unused]] ssize_t w = write(2, head, sizeof head - 1);
    w = write(2, what, std::strlen(what));
    w = write(2, "\n", 1);
    _exit(126);
}

// A message of one byte that carries one descriptor (SCM_RIGHTS).
struct TFdMessage {
    char control[CMSG_SPACE(sizeof(int))] = {};
    char byte = 'L';
    iovec io{&byte, 1};
    msghdr msg{};
    TFdMessage() {
        msg.msg_iov = &io;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
    }
};

// Rule helpers for the filter: every refused call waits on the caller, who names it.
void Refuse(scmp_filter_ctx ctx, const char* name, unsigned args = 0, const scmp_arg_cmp* cmp = nullptr) {
    const int nr = seccomp_syscall_resolve_name(name);
    if (nr == __NR_SCMP_ERROR) return;  // not a call of this architecture
    const int r = args ? seccomp_rule_add_array(ctx, SCMP_ACT_NOTIFY, nr, args, cmp)
                       : seccomp_rule_add(ctx, SCMP_ACT_NOTIFY, nr, 0);
    if (r != 0) throw EInOutError(std::string("Cannot make the importer's system-call filter (") + name + ")");
}
void RefuseUnless(scmp_filter_ctx ctx, const char* name, unsigned arg, scmp_datum_t own) {
    const scmp_arg_cmp cmp = SCMP_CMP32(arg, SCMP_CMP_NE, own);
    Refuse(ctx, name, 1, &cmp);
}

}  // namespace

const TKernelProtections& KernelProtections() {
    static const TKernelProtections probed = [] {
        TKernelProtections p;
        const long abi = LandlockCreate(nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
        p.landlockAbi = abi > 0 ? static_cast<int>(abi) : 0;
        uint32_t action = SECCOMP_RET_USER_NOTIF;
        p.filter = syscall(SYS_seccomp, SECCOMP_GET_ACTION_AVAIL, 0, &action) == 0;
        return p;
    }();
    return probed;
}

std::string ProtectionsLine() {
    const TKernelProtections& k = KernelProtections();
    std::string line = "protections of kglmodel-import: ";
    if (k.landlockAbi > 0) {
        line += "Landlock ABI " + std::to_string(k.landlockAbi) + " (reading its folder only, writing nothing";
        if (k.landlockAbi >= 4) line += ", no TCP";
        if (k.landlockAbi >= 6) line += ", no signals or abstract sockets outside";
        line += "), ";
    } else {
        line += "no Landlock on this kernel, so no file-system limits; ";
    }
    line += k.filter ? "a system-call filter" : "no system-call filter (imports are refused)";
    return line + ", memory, time and file-size limits";
}

TLandlockRules::TLandlockRules(const std::string& program, const std::string& input, TSandboxMode mode) {
    const int abi = KernelProtections().landlockAbi;
    if (mode != TSandboxMode::kFull || abi < 1) return;
    TRulesetAttr attr;
    attr.handledFs = HandledFs(abi);
    size_t size = sizeof attr.handledFs;
    if (abi >= 4) {
        attr.handledNet = LANDLOCK_ACCESS_NET_BIND_TCP | LANDLOCK_ACCESS_NET_CONNECT_TCP;
        size += sizeof attr.handledNet;
    }
    if (abi >= 6) {
        attr.scoped = LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET | LANDLOCK_SCOPE_SIGNAL;
        size += sizeof attr.scoped;
    }
    const long fd = LandlockCreate(&attr, size, 0);
    if (fd < 0) throw EInOutError(std::string("Cannot limit the importer: ") + std::strerror(errno));
    fd_ = static_cast<int>(fd);
    try {
        constexpr uint64_t read = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
        constexpr uint64_t run = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_EXECUTE;
        if (!input.empty()) {
            AllowPath(fd_, FolderOf(input), read);
            std::error_code ec;
            const std::filesystem::path target = std::filesystem::canonical(input, ec);
            if (!ec) AllowPath(fd_, target.parent_path().string(), read);
        }
        // the importer, and what the kernel runs to start it: a script's interpreter,
        // the loader of the ELF file that is run
        AllowPath(fd_, program, run);
        TStart start = StartOf(program);
        if (start.script) {
            AllowPath(fd_, start.interpreter, run);
            start = StartOf(start.interpreter);
        }
        if (!start.script && !start.interpreter.empty()) AllowPath(fd_, start.interpreter, run);
        for (const char* dir : {"/lib", "/lib64", "/usr/lib", "/usr/lib64", "/usr/local/lib", "/etc/ld.so.cache"})
            AllowPath(fd_, dir, LANDLOCK_ACCESS_FS_READ_FILE);
        if (const char* paths = std::getenv("LD_LIBRARY_PATH")) {
            std::string list = paths;
            for (size_t b = 0; b <= list.size();) {
                const size_t e = std::min(list.find(':', b), list.size());
                if (e > b) AllowPath(fd_, list.substr(b, e - b), LANDLOCK_ACCESS_FS_READ_FILE);
                b = e + 1;
            }
        }
    } catch (...) {
        close(fd_);
        throw;
    }
}

TLandlockRules::~TLandlockRules() {
    if (fd_ >= 0) close(fd_);
}

void EnterSandbox(int rulesetFd, int socket) {
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) ChildFails("no_new_privs was refused");
    if (rulesetFd >= 0) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        // a sanitizer's runtime reads the process's own maps at start
        const int self = open("/proc/self", O_PATH | O_CLOEXEC);
        landlock_path_beneath_attr rule{LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR, self};
        if (self < 0 || syscall(SYS_landlock_add_rule, rulesetFd, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) != 0)
            ChildFails("the sanitizer's rule was refused");
        close(self);
#endif
        if (syscall(SYS_landlock_restrict_self, rulesetFd, 0) != 0) ChildFails("Landlock refused its rules");
        close(rulesetFd);
    }
    // the filter, as the caller made it, in one message: at most BPF_MAXINSNS instructions
    static sock_filter program[BPF_MAXINSNS];
    ssize_t got;
    do {
        got = recv(socket, program, sizeof program, 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) ChildFails("the filter could not be read");
    if (got == 0 || static_cast<size_t>(got) % sizeof(sock_filter) != 0) ChildFails("the filter did not arrive");
    const sock_fprog fprog{static_cast<unsigned short>(static_cast<size_t>(got) / sizeof(sock_filter)), program};
    const long listener = syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &fprog);
    if (listener < 0) ChildFails("the kernel refused the system-call filter");
    // the listener goes to the caller, which answers every refused call
    const int fd = static_cast<int>(listener);
    TFdMessage m;
    cmsghdr* c = CMSG_FIRSTHDR(&m.msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
    if (sendmsg(socket, &m.msg, MSG_NOSIGNAL) != 1) ChildFails("the filter's listener could not be handed over");
    close(fd);
    close(socket);
}

void SendFilter(pid_t child, int socket) {
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
    if (!ctx) throw EInOutError("Cannot make the importer's system-call filter");
    struct TRelease {
        scmp_filter_ctx ctx;
        ~TRelease() { seccomp_release(ctx); }
    } release{ctx};
    seccomp_attr_set(ctx, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS);
    seccomp_attr_set(ctx, SCMP_FLTATR_CTL_OPTIMIZE, 2);
    const auto own = static_cast<scmp_datum_t>(child);
    // new processes; threads (CLONE_THREAD) stay, without namespace flags
    for (const char* name : {"fork", "vfork"}) Refuse(ctx, name);
    {
        const scmp_arg_cmp noThread = SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0);
        Refuse(ctx, "clone", 1, &noThread);
        for (const scmp_datum_t flag :
             {CLONE_NEWNS, CLONE_NEWUSER, CLONE_NEWPID, CLONE_NEWNET, CLONE_NEWIPC, CLONE_NEWUTS, CLONE_NEWCGROUP}) {
            const scmp_arg_cmp ns = SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag);
            Refuse(ctx, "clone", 1, &ns);
        }
        // clone3 hides its flags in memory: glibc falls back to clone when it is missing
        const int nr = seccomp_syscall_resolve_name("clone3");
        if (nr != __NR_SCMP_ERROR && seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), nr, 0) != 0)
            throw EInOutError("Cannot make the importer's system-call filter (clone3)");
    }
    // once, for the importer itself; TCallWatch refuses every later one
    for (const char* name : {"execve", "execveat"}) Refuse(ctx, name);
    // other processes
    for (const char* name : {"ptrace", "process_vm_readv", "process_vm_writev", "process_madvise", "kcmp", "pidfd_open",
                             "pidfd_getfd", "pidfd_send_signal", "tkill", "move_pages", "migrate_pages", "setpriority",
                             "ioprio_set", "setpgid", "setsid"})
        Refuse(ctx, name);
    RefuseUnless(ctx, "kill", 0, own);
    RefuseUnless(ctx, "tgkill", 0, own);
    RefuseUnless(ctx, "rt_sigqueueinfo", 0, own);
    RefuseUnless(ctx, "rt_tgsigqueueinfo", 0, own);
    for (const char* name : {"prlimit64", "sched_setaffinity", "sched_setscheduler", "sched_setparam", "sched_setattr"})
        RefuseUnless(ctx, name, 0, 0);  // only of itself (0)
    // the network
    for (const char* name : {"socket", "socketpair"}) Refuse(ctx, name);
    // mounts, namespaces, keys, BPF and the kernel's own business
    for (const char* name : {"mount",
                             "umount2",
                             "pivot_root",
                             "chroot",
                             "move_mount",
                             "open_tree",
                             "fsopen",
                             "fsconfig",
                             "fsmount",
                             "fspick",
                             "mount_setattr",
                             "swapon",
                             "swapoff",
                             "unshare",
                             "setns",
                             "add_key",
                             "request_key",
                             "keyctl",
                             "bpf",
                             "perf_event_open",
                             "userfaultfd",
                             "io_uring_setup",
                             "io_uring_enter",
                             "io_uring_register",
                             "init_module",
                             "finit_module",
                             "delete_module",
                             "kexec_load",
                             "kexec_file_load",
                             "reboot",
                             "acct",
                             "quotactl",
                             "quotactl_fd",
                             "settimeofday",
                             "clock_settime",
                             "clock_adjtime",
                             "adjtimex",
                             "sethostname",
                             "setdomainname",
                             "iopl",
                             "ioperm",
                             "vhangup",
                             "name_to_handle_at",
                             "open_by_handle_at",
                             "syslog",
                             "lookup_dcookie",
                             "uselib",
                             "fanotify_init",
                             "nfsservctl"})
        Refuse(ctx, name);
    // no keystrokes pushed into a terminal
    for (const scmp_datum_t request : {scmp_datum_t(TIOCSTI), scmp_datum_t(TIOCLINUX)}) {
        const scmp_arg_cmp cmp = SCMP_CMP32(1, SCMP_CMP_EQ, request);
        Refuse(ctx, "ioctl", 1, &cmp);
    }
    // the program's bytes through a memory file of ours, then to the child in one message
    const int memory = static_cast<int>(syscall(SYS_memfd_create, "kgl-filter", MFD_CLOEXEC));
    if (memory < 0)
        throw EInOutError(std::string("Cannot make the importer's system-call filter: ") + std::strerror(errno));
    std::vector<char> bytes(sizeof(sock_filter) * BPF_MAXINSNS);
    const bool exported = seccomp_export_bpf(ctx, memory) == 0;
    const ssize_t size = exported ? pread(memory, bytes.data(), bytes.size(), 0) : -1;
    close(memory);
    if (size <= 0) throw EInOutError("Cannot make the importer's system-call filter");
    // a child that has already ended reads nothing: its end tells the caller so
    (void)send(socket, bytes.data(), static_cast<size_t>(size), MSG_NOSIGNAL);
}

int ReceiveListener(int socket) {
    pollfd p{socket, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) return -1;
    TFdMessage m;
    if (recvmsg(socket, &m.msg, MSG_CMSG_CLOEXEC) != 1) return -1;
    const cmsghdr* c = CMSG_FIRSTHDR(&m.msg);
    if (!c || c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS || c->cmsg_len != CMSG_LEN(sizeof(int)))
        return -1;
    int fd = -1;
    std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
    return fd;
}

bool TCallWatch::Next(std::string& name) {
    seccomp_notif request{};
    if (ioctl(listener_, SECCOMP_IOCTL_NOTIF_RECV, &request) != 0) return false;  // the child has gone on
    const int execve = seccomp_syscall_resolve_name("execve");
    if (!started_ && request.data.nr == execve) {
        started_ = true;  // the importer itself
        seccomp_notif_resp response{};
        response.id = request.id;
        response.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
        ioctl(listener_, SECCOMP_IOCTL_NOTIF_SEND, &response);
        return false;
    }
    char* resolved = seccomp_syscall_resolve_num_arch(request.data.arch, request.data.nr);
    name = resolved ? resolved : "system call " + std::to_string(request.data.nr);
    std::free(resolved);
    return true;
}

void DenyExecution() {
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
    bool ok = ctx != nullptr && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
    for (const char* name : {"execve", "execveat"})
        ok = ok && seccomp_rule_add(ctx, SCMP_ACT_KILL_PROCESS, seccomp_syscall_resolve_name(name), 0) == 0;
    ok = ok && seccomp_load(ctx) == 0;
    if (ctx) seccomp_release(ctx);
    if (!ok) throw EInOutError("The importer cannot refuse itself new programs");
}

}  // namespace kgl
