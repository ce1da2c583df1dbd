// A stand-in at the importer's path: instead of importing, it tries the one thing
// KGL_STANDIN_TRY names, as a program an exploit of a parser bug would, on the path or
// port KGL_STANDIN_ARG, and says on standard error whether it worked (exit 1 either way,
// so that the caller shows what it said).
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Said(const std::string& what, bool worked) {
    std::fprintf(stderr, "%s %s%s%s\n", what.c_str(), worked ? "succeeded" : "failed", worked ? "" : ": ",
                 worked ? "" : std::strerror(errno));
    return 1;
}

}  // namespace

int main() {
    const char* t = std::getenv("KGL_STANDIN_TRY");
    const char* a = std::getenv("KGL_STANDIN_ARG");
    const std::string what = t ? t : "", arg = a ? a : "";
    if (what == "write") {
        const int fd = open(arg.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        return Said(what, fd >= 0 && write(fd, "owned\n", 6) == 6);
    }
    if (what == "read") {
        char buf[64];
        const int fd = open(arg.c_str(), O_RDONLY);
        return Said(what, fd >= 0 && read(fd, buf, sizeof buf) > 0);
    }
    if (what == "list") {
        DIR* dir = opendir(arg.c_str());
        return Said(what, dir && readdir(dir));
    }
    if (what == "connect") {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(std::atoi(arg.c_str())));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return Said(what, s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0);
    }
    if (what == "run") {
        execl("/bin/true", "true", static_cast<char*>(nullptr));
        return Said(what, false);
    }
    if (what == "signal") return Said(what, kill(getppid(), 0) == 0);  // 0: asks leave, delivers nothing
    if (what == "fork") {
        const pid_t pid = fork();
        if (pid == 0) _exit(0);
        return Said(what, pid > 0 && waitpid(pid, nullptr, 0) == pid);
    }
    std::fprintf(stderr, "no such try '%s'\n", what.c_str());
    return 2;
}
