#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "errors.h"

namespace kgl {

namespace {
[[noreturn]] void Fail(const char* what, const std::string& name, int err) {
    throw EInOutError(std::string(what) + " '" + name + "': " + std::strerror(err));
}
}  // namespace

void TOutput::Flush() {
    if (used_ == 0) return;
    if (sink_) {
        sink_->append(buf_.data(), used_);
    } else if (std::fwrite(buf_.data(), 1, used_, file_) != used_) {
        Fail("Cannot write file", name_, errno ? errno : EIO);
    }
    used_ = 0;
}

TSafeFile::TSafeFile(const std::string& target) : target_(target) {
    // same folder as the target, so the final rename never crosses file systems
    temp_ = target + ".tmp-XXXXXX";
    int fd = mkstemp(temp_.data());
    if (fd < 0) Fail("Cannot create file", target, errno);
    // mkstemp makes the file private; give it the mode an ordinary create would
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, 0666 & ~mask) != 0) { /* keep the private mode rather than fail the save */
    }
    file_ = fdopen(fd, "wb");
    if (!file_) {
        int err = errno;
        close(fd);
        unlink(temp_.c_str());
        Fail("Cannot create file", target, err);
    }
}

TSafeFile::~TSafeFile() {
    if (file_) {
        std::fclose(file_);
        unlink(temp_.c_str());
    }
}

void TSafeFile::Commit() {
    std::FILE* f = file_;
    file_ = nullptr;
    bool ok = std::fflush(f) == 0;
    int err = errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(temp_.c_str());
        Fail("Cannot write file", target_, err ? err : EIO);
    }
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
        err = errno;
        unlink(temp_.c_str());
        Fail("Cannot replace file", target_, err);
    }
}

int WriteFully(int fd, const void* p, size_t n) {
    const char* c = static_cast<const char*>(p);
    while (n > 0) {
        const ssize_t w = write(fd, c, n < (size_t(1) << 30) ? n : size_t(1) << 30);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return w < 0 ? errno : EIO;
        c += w;
        n -= static_cast<size_t>(w);
    }
    return 0;
}

int OpenRegularFile(const std::string& path, uint64_t& size) {
    auto refuse = [&](const std::string& why) {
        EInOutError e("Cannot read file \"" + QuoteText(path, path.size()) + "\": " + why);
        e.Locate(PlaceOf(path));
        throw e;
    };
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return -1;
        refuse(std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) refuse("it is a folder, not a file");
    if (!S_ISREG(st.st_mode)) refuse("it is not a regular file");
    // O_NONBLOCK: should the path become a FIFO between the two calls, open returns at once
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) return -1;
        refuse(std::strerror(errno));
    }
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        refuse("it is not a regular file");
    }
    size = static_cast<uint64_t>(st.st_size);
    return fd;
}

}  // namespace kgl
