#include "file_set.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "errors.h"
#include "files.h"

namespace kgl {

namespace {

constexpr char kMagic[8] = {'K', 'G', 'L', 'F', 'I', 'L', 'E', '1'};

[[noreturn]] void Bad(const std::string& why) { throw EInOutError("The exporter handed over broken files: " + why); }

}  // namespace

TFileSetWriter::TFileSetWriter(int fd) : fd_(fd) {
    const uint32_t none = 0;
    Bytes(kMagic, sizeof kMagic);
    Bytes(&none, 4);
}

void TFileSetWriter::At(uint64_t offset, const void* p, size_t n) {
    const ssize_t w = pwrite(fd_, p, n, static_cast<off_t>(offset));
    if (w != static_cast<ssize_t>(n))
        throw EInOutError(std::string("Cannot hand the files over: ") + std::strerror(w < 0 ? errno : EIO));
}

void TFileSetWriter::Begin(const std::string& name) {
    const auto length = static_cast<uint32_t>(name.size());
    const uint64_t none = 0;
    Bytes(&length, 4);
    Bytes(name.data(), name.size());
    sizeAt_ = at_;
    Bytes(&none, 8);
    size_ = 0;
}

void TFileSetWriter::Bytes(const void* p, size_t n) {
    if (const int err = WriteFully(fd_, p, n))
        throw EInOutError(std::string("Cannot hand the files over: ") + std::strerror(err));
    at_ += n;
    size_ += n;
}

void TFileSetWriter::End() {
    const uint64_t size = size_;
    At(sizeAt_, &size, 8);
    ++count_;
}

void TFileSetWriter::Finish() { At(sizeof kMagic, &count_, 4); }

void WriteFileSet(const std::map<std::string, std::string>& files, int fd) {
    TFileSetWriter set(fd);
    for (const auto& [name, bytes] : files) {
        set.Begin(name);
        set.Bytes(bytes.data(), bytes.size());
        set.End();
    }
    set.Finish();
}

std::vector<std::pair<std::string, std::string_view>> ReadFileSet(std::string_view bytes) {
    auto take = [&](size_t n, const char* what) {
        if (bytes.size() < n) Bad(std::string("they end within ") + what);
        const std::string_view piece = bytes.substr(0, n);
        bytes.remove_prefix(n);
        return piece;
    };
    auto number = [&](size_t n, const char* what) -> uint64_t {
        const std::string_view piece = take(n, what);
        if (n == 4) {
            uint32_t v;
            std::memcpy(&v, piece.data(), 4);
            return v;
        }
        uint64_t v;
        std::memcpy(&v, piece.data(), 8);
        return v;
    };
    if (take(sizeof kMagic, "their header") != std::string_view(kMagic, sizeof kMagic))
        Bad("they do not start with their header");
    const uint64_t count = number(4, "their header");
    if (count < 1 || count > kFileSetMax) Bad(std::to_string(count) + " files");
    std::vector<std::pair<std::string, std::string_view>> files;
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t length = number(4, "a name");
        if (length < 1 || length > kFileSetNameMax) Bad("a name of " + std::to_string(length) + " bytes");
        std::string name(take(length, "a name"));
        for (const char c : name)
            if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) Bad("a name that is no file's name");
        if (name == "." || name == "..") Bad("a name that is no file's name");
        const uint64_t size = number(8, "a size");
        if (size > bytes.size()) Bad("a file larger than the bytes left");
        files.emplace_back(std::move(name), take(size, "a file"));
    }
    if (!bytes.empty()) Bad(std::to_string(bytes.size()) + " bytes after the last file");
    return files;
}

}  // namespace kgl
