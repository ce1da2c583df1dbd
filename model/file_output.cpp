#include "file_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace kgl
