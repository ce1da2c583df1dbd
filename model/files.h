#pragma once
// The file helpers: opening a file for reading without ever blocking, the buffered
// output shared by the KGM and OBJ writers, and the safe file every save and kglmodel
// render's PNG go through.
//
// TOutput collects bytes in a large buffer and hands it either to a std::string (the
// in-memory writers) or to a file. TSafeFile writes a file next to its target and
// renames it over the target only once it is complete, so a failed save leaves an
// existing file as it was. Failures throw EInOutError.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace kgl {

// Opens path for reading when it is a regular file, without ever blocking (a FIFO is
// refused, not waited on). Returns -1 when nothing is there (the callers stay silent);
// throws EInOutError located `in "PATH"` when something is there but is no regular file
// (a folder, a FIFO, a device) or cannot be opened. size: the file's size in bytes.
int OpenRegularFile(const std::string& path, uint64_t& size);

// Writes all n bytes at p to the descriptor fd, however many calls that takes; 0 when
// written, else the errno of the failure (EIO when the descriptor took nothing).
int WriteFully(int fd, const void* p, size_t n);

class TOutput {
public:
    static constexpr size_t kBufferSize = size_t(1) << 20;

    explicit TOutput(std::string& sink) : sink_(&sink) { buf_.resize(kBufferSize); }
    TOutput(std::FILE* file, std::string name) : file_(file), name_(std::move(name)) { buf_.resize(kBufferSize); }
    TOutput(const TOutput&) = delete;
    TOutput& operator=(const TOutput&) = delete;

    // Room for n more bytes at Cursor(); n must not exceed kBufferSize.
    char* Reserve(size_t n) {
        if (kBufferSize - used_ < n) Flush();
        return buf_.data() + used_;
    }
    void Advance(size_t n) { used_ += n; }

    void Bytes(const void* p, size_t n) {
        const char* c = static_cast<const char*>(p);
        while (n > 0) {
            size_t room = kBufferSize - used_;
            if (room == 0) {
                Flush();
                room = kBufferSize;
            }
            size_t k = n < room ? n : room;
            std::memcpy(buf_.data() + used_, c, k);
            used_ += k;
            c += k;
            n -= k;
        }
    }
    void Text(const std::string& s) { Bytes(s.data(), s.size()); }
    void Text(const char* s) { Bytes(s, std::strlen(s)); }
    void Char(char c) {
        *Reserve(1) = c;
        ++used_;
    }

    // Little-endian, byte by byte, whatever the host.
    void U8(uint8_t v) { Char(static_cast<char>(v)); }
    void U32(uint32_t v) {
        char* p = Reserve(4);
        p[0] = static_cast<char>(v);
        p[1] = static_cast<char>(v >> 8);
        p[2] = static_cast<char>(v >> 16);
        p[3] = static_cast<char>(v >> 24);
        used_ += 4;
    }
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void U64(uint64_t v) {
        char* p = Reserve(8);
        for (int i = 0; i < 8; ++i) p[i] = static_cast<char>(v >> (8 * i));
        used_ += 8;
    }
    void F32(float v) {
        uint32_t u;
        std::memcpy(&u, &v, 4);
        U32(u);
    }
    void F64(double v) {
        uint64_t u;
        std::memcpy(&u, &v, 8);
        U64(u);
    }
    void Zeros(size_t n) {
        while (n > 0) {
            size_t k = n < 64 ? n : 64;
            std::memset(Reserve(k), 0, k);
            used_ += k;
            n -= k;
        }
    }

    void Flush();  // throws EInOutError when the file refuses the bytes

private:
    std::string* sink_ = nullptr;
    std::FILE* file_ = nullptr;
    std::string name_;
    std::string buf_;
    size_t used_ = 0;
};

// A file written beside `target` and renamed over it by Commit(). Destroyed without a
// Commit() it removes the partial file and leaves the target alone.
class TSafeFile {
public:
    explicit TSafeFile(const std::string& target);  // throws EInOutError
    ~TSafeFile();
    TSafeFile(const TSafeFile&) = delete;
    TSafeFile& operator=(const TSafeFile&) = delete;

    std::FILE* File() { return file_; }
    void Commit();  // closes and renames; throws EInOutError

private:
    std::string target_, temp_;
    std::FILE* file_ = nullptr;
};

}  // namespace kgl
