#pragma once
// A file mapped for reading while the object lives (private to import/ and
// kglmodel-import): the caller's memory file of the geometry, the importer's input.
// Only where a file cannot shrink under the reader (a sealed memory file), or where a
// shrinking one costs nothing but a child process (the importer's input).
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstddef>
#include <string_view>

namespace kgl {

class TMappedFile {
public:
    // The whole of fd, the pages read in at once; Bytes() empty when it is empty, no
    // regular file, or cannot be mapped.
    explicit TMappedFile(int fd) {
        struct stat st {};
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return;
        size_ = static_cast<size_t>(st.st_size);
        void* p = mmap(nullptr, size_, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0);
        if (p != MAP_FAILED) data_ = static_cast<const char*>(p);
    }
    ~TMappedFile() {
        if (data_) munmap(const_cast<char*>(data_), size_);
    }
    TMappedFile(const TMappedFile&) = delete;
    TMappedFile& operator=(const TMappedFile&) = delete;
    std::string_view Bytes() const { return {data_, data_ ? size_ : 0}; }

private:
    const char* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace kgl
