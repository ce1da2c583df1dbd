#pragma once
// The files an exporter hands its caller (kglmodel-export: a glTF file and its buffer,
// or one file of another format), written to a descriptor the caller opened and read
// back by the caller as strictly as the geometry (geometry.h):
//   "KGLFILE1", the count of files (uint32), then for each file the length of its name
//   (uint32), the name, its size (uint64) and its bytes; the host's byte order.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kgl {

constexpr size_t kFileSetMax = 8, kFileSetNameMax = 255;

// Writes a set to the open descriptor fd file by file, each file's bytes as they come, so
// that a large file need not be held whole first: Begin(name), Bytes() any number of
// times, End(); Finish() after the last file. The sizes and the count are filled in when
// they are known (fd must take pwrite: a memory file). Throws EInOutError when fd
// refuses the bytes.
class TFileSetWriter {
public:
    explicit TFileSetWriter(int fd);
    void Begin(const std::string& name);
    void Bytes(const void* p, size_t n);
    void End();
    void Finish();

private:
    void At(uint64_t offset, const void* p, size_t n);
    int fd_;
    uint64_t at_ = 0, sizeAt_ = 0, size_ = 0;
    uint32_t count_ = 0;
};

// Writes files (name -> bytes) to fd as one set; throws as TFileSetWriter.
void WriteFileSet(const std::map<std::string, std::string>& files, int fd);

// The files of bytes, their contents as views into bytes. Throws EInOutError when the
// bytes are not of the form above, hold no file or more than kFileSetMax, or a name
// that is empty, longer than kFileSetNameMax, ".", "..", or holds a "/" or a control byte
// (a file's name, never a path).
std::vector<std::pair<std::string, std::string_view>> ReadFileSet(std::string_view bytes);

}  // namespace kgl
