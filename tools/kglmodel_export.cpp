// kglmodel-export FORMAT NAME: writes the geometry its caller hands over on
// descriptor 4 (geometry.h, laid out for the format by GeometryToWrite) in FORMAT, for a
// file named NAME, and hands the files it made back on descriptor 3 (file_set.h).
// FORMAT "glb" and "gltf" are written through tinygltf (geometry_gltf.h), any other is
// an exporter of the Open Asset Import Library ("collada", "fbxa", ...; the scene of
// geometry_scene.h). It writes no file: the library's exporters write through a file
// system in memory (one that opened its files itself would fail in the sandbox). The editor and kglmodel run it as
// a child process in a sandbox and under limits, as kglmodel-import, for the same
// reason; before it reads a byte it refuses itself every new program (DenyExecution).
//
// Exit status 0: the files were handed over; 1: the exporter failed, one line on
// standard error says why; 2: wrong usage; 3: out of memory.
#include <assimp/scene.h>
#include <assimp/Exporter.hpp>
#include <assimp/IOStream.hpp>
#include <assimp/IOSystem.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <new>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "errors.h"
#include "file_set.h"
#include "geometry.h"
#include "geometry_gltf.h"
#include "geometry_scene.h"
#include "mapped_file.h"
#include "sandbox.h"

namespace {

constexpr int kFilesFd = 3, kGeometryFd = 4;  // opened by the caller

using TFiles = std::map<std::string, std::string>;

// A file of the file system in memory: what the exporter writes, where it seeks.
class TMemoryStream : public Assimp::IOStream {
public:
    explicit TMemoryStream(std::string& bytes) : bytes_(bytes) {}
    size_t Read(void*, size_t, size_t) override { return 0; }
    size_t Write(const void* p, size_t size, size_t count) override {
        const size_t n = size * count;
        if (bytes_.size() < at_ + n) bytes_.resize(at_ + n);
        std::memcpy(bytes_.data() + at_, p, n);
        at_ += n;
        return count;
    }
    // past the end too, as in a file: the exporter of glTF's binary form writes its
    // chunks first and goes back for the header; a write there fills the gap with zeros
    aiReturn Seek(size_t offset, aiOrigin origin) override {
        const size_t base = origin == aiOrigin_SET ? 0 : origin == aiOrigin_CUR ? at_ : bytes_.size();
        at_ = base + offset;
        return aiReturn_SUCCESS;
    }
    size_t Tell() const override { return at_; }
    size_t FileSize() const override { return bytes_.size(); }
    void Flush() override {}

private:
    std::string& bytes_;
    size_t at_ = 0;
};

// Files opened for writing live in files; nothing can be read.
class TMemoryFiles : public Assimp::IOSystem {
public:
    explicit TMemoryFiles(TFiles& files) : files_(files) {}
    bool Exists(const char* name) const override { return files_.count(name) > 0; }
    char getOsSeparator() const override { return '/'; }
    Assimp::IOStream* Open(const char* name, const char* mode) override {
        if (!mode || (mode[0] != 'w' && mode[0] != 'a')) return nullptr;
        std::string& bytes = files_[name];
        if (mode[0] == 'w') bytes.clear();
        return new TMemoryStream(bytes);
    }
    void Close(Assimp::IOStream* stream) override { delete stream; }

private:
    TFiles& files_;
};

// A stream into one file of the set on descriptor 3, in pieces of a megabyte (a larger
// write goes straight through): the file is never held whole. A failure of the
// descriptor is kept and thrown once the writer is done (a stream swallows exceptions).
class TSetFileStream : public std::streambuf {
public:
    explicit TSetFileStream(kgl::TFileSetWriter& set) : set_(set), buffer_(size_t(1) << 20) {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }
    // Writes what is left and throws what failed.
    void Close() {
        if (!Drain()) throw kgl::EInOutError(failure_);
    }

protected:
    int_type overflow(int_type c) override {
        if (!Drain()) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        if (n < static_cast<std::streamsize>(buffer_.size())) return std::streambuf::xsputn(s, n);
        return Drain() && Put(s, static_cast<size_t>(n)) ? n : 0;
    }
    int sync() override { return Drain() ? 0 : -1; }

private:
    bool Drain() {
        const bool ok = Put(pbase(), static_cast<size_t>(pptr() - pbase()));
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return ok;
    }
    bool Put(const char* p, size_t n) {
        if (!failure_.empty()) return false;
        try {
            set_.Bytes(p, n);
        } catch (const kgl::EModelError& e) {
            failure_ = e.what();
        }
        return failure_.empty();
    }
    kgl::TFileSetWriter& set_;
    std::vector<char> buffer_;
    std::string failure_;
};

void Fail(const std::string& why) { std::fprintf(stderr, "%s\n", kgl::QuoteText(why, 400).c_str()); }

int Export(const std::string& format, const std::string& name) {
    const kgl::TMappedFile handed(kGeometryFd);
    kgl::TGeometryView geometry = kgl::ReadGeometryView(handed.Bytes());
    TFiles files;
    if (format == "glb" || format == "gltf") {  // through tinygltf, straight into the set
        kgl::TFileSetWriter set(kFilesFd);
        set.Begin(name);
        TSetFileStream file(set);
        std::ostream out(&file);
        kgl::GeometryToGltf(geometry, format == "glb", out);
        file.Close();
        set.End();
        set.Finish();
        std::_Exit(0);
    }
    if (format == "fbxa")  // the library's FBX text cannot hold a '"' in a name, and fails
        for (kgl::TGeometry::TPart& part : geometry.groups) std::replace(part.name.begin(), part.name.end(), '"', '\'');
    const std::unique_ptr<aiScene> scene = kgl::GeometryToScene(geometry);
    Assimp::Exporter exporter;
    exporter.SetIOHandler(new TMemoryFiles(files));  // the exporter owns it
    // no steps of the library's: the faces are as the caller laid them out
    if (exporter.Export(scene.get(), format, name, 0) != aiReturn_SUCCESS) {
        const std::string why = exporter.GetErrorString();
        Fail(why.empty() ? "The exporter could not write the file" : "The exporter failed: " + why);
        return 1;
    }
    kgl::WriteFileSet(files, kFilesFd);
    std::_Exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || fcntl(kFilesFd, F_GETFD) < 0 || fcntl(kGeometryFd, F_GETFD) < 0) {
        std::fprintf(stderr,
                     "usage: kglmodel-export FORMAT NAME 3>FILES 4<GEOMETRY (the geometry comes on "
                     "descriptor 4, the files go to descriptor 3)\n");
        return 2;
    }
    try {
        kgl::DenyExecution();
        return Export(argv[1], argv[2]);
    } catch (const std::bad_alloc&) {
        Fail("The exporter ran out of memory");
        return 3;
    } catch (const kgl::EModelError& e) {
        Fail(e.what());
    } catch (const std::exception& e) {
        Fail(std::string("The exporter failed: ") + e.what());
    }
    return 1;
}
