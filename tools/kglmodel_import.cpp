// kglmodel-import IN: reads IN with the Open Asset Import Library (binary STL, the
// simple binary PLY and the simple GLB with readers of our own, binary_readers.h) and hands the geometry it
// holds (scene_model.h says how) over on descriptor 3, which its caller opened
// (geometry.h). The only program that links the library: the editor and kglmodel run it
// as a child process in a sandbox and under limits (import/import.h), because its
// importers are the riskiest code we use; before it reads a byte of the file it refuses
// itself every new program (DenyExecution).
//
// What the caller reads:
//  - exit status 0: the geometry was handed over; 1: IN could not be read, one line on
//    standard error says why; 2: wrong usage; 3: out of memory. Anything else, or a
//    signal, is a crash.
//  - standard output: lines "progress DONE TOTAL" while the importer works,
//    "warning TEXT" for what was skipped, and "done" once the geometry is handed over
//    in full, before the process ends.
#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/DefaultLogger.hpp>
#include <assimp/Importer.hpp>
#include <assimp/ProgressHandler.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>

#include "binary_readers.h"
#include "errors.h"
#include "geometry.h"
#include "mapped_file.h"
#include "sandbox.h"
#include "scene_model.h"

namespace {

constexpr int kGeometryFd = 3;  // opened by the caller

// The importer's own progress, in thousandths, printed when it moves.
class TProgressLines : public Assimp::ProgressHandler {
public:
    bool Update(float percentage) override {
        if (percentage < 0) return true;
        const int done = static_cast<int>(percentage * 1000.0f);
        if (done > last_ && done <= 1000) {
            last_ = done;
            std::printf("progress %d 1000\n", done);
            std::fflush(stdout);
        }
        return true;
    }

private:
    int last_ = -1;
};

// One line for the caller: no line break of the library's text splits it.
void Fail(const std::string& why) { std::fprintf(stderr, "%s\n", kgl::QuoteText(why, 400).c_str()); }

void Progress(uint64_t done, uint64_t total) {
    std::printf("progress %llu %llu\n", static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
    std::fflush(stdout);
}

// The file read by our own reader of its format, when it has one and the file is of
// the form it reads; false leaves it to the library.
bool ReadOurselves(const std::string& in, kgl::TGeometry& geometry, kgl::TSceneSkipped& skipped) {
    const std::string ext = kgl::LowerExtension(in);
    if (ext != ".stl" && ext != ".ply" && ext != ".glb") return false;
    // read in place; a file that shrinks meanwhile costs this process, nothing else
    const int fd = open(in.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const kgl::TMappedFile file(fd);
    close(fd);
    if (file.Bytes().empty()) return false;
    const kgl::TBinaryRead read = ext == ".stl"   ? kgl::ReadBinarySTL(file.Bytes(), geometry, Progress)
                                  : ext == ".ply" ? kgl::ReadBinaryPLY(file.Bytes(), geometry, skipped, Progress)
                                                  : kgl::ReadBinaryGLB(file.Bytes(), geometry, Progress);
    return read == kgl::TBinaryRead::kRead;
}

// The library's scene is not freed: the process ends as soon as the geometry is handed
// over (freeing its million small faces took a tenth of a large import).
int Import(const std::string& in) {
    kgl::TGeometry geometry;
    kgl::TSceneSkipped skipped;
    if (!ReadOurselves(in, geometry, skipped)) {
        auto* importer = new Assimp::Importer;
        importer->SetProgressHandler(new TProgressLines);  // the importer owns it
        // COLLADA nodes by the names their files give them, not by their ids (which an
        // exporter makes unique and fit for XML: "OFFSET U" as "OFFSETWU")
        importer->SetPropertyBool(AI_CONFIG_IMPORT_COLLADA_USE_COLLADA_NAMES, true);
        // points and lines are counted and skipped by the mapping, not removed here; the
        // structure is validated so that no index the mapping follows is out of range
        const aiScene* scene = importer->ReadFile(in, aiProcess_ValidateDataStructure);
        if (!scene) {
            const std::string why = importer->GetErrorString();
            Fail(why.empty() ? "The importer could not read the file" : why);
            return 1;
        }
        geometry = kgl::SceneToGeometry(*scene, skipped);
    }
    if (skipped.points + skipped.lines > 0)
        std::printf("warning %llu points and %llu lines were skipped: only polygons are read\n",
                    static_cast<unsigned long long>(skipped.points), static_cast<unsigned long long>(skipped.lines));
    kgl::WriteGeometry(geometry, kGeometryFd);
    std::printf("done\n");
    std::fflush(stdout);
    std::_Exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || fcntl(kGeometryFd, F_GETFD) < 0) {
        std::fprintf(stderr, "usage: kglmodel-import IN 3>GEOMETRY (the geometry goes to descriptor 3)\n");
        return 2;
    }
    try {
        kgl::DenyExecution();
        return Import(argv[1]);
    } catch (const std::bad_alloc&) {
        Fail("The importer ran out of memory");
        return 3;
    } catch (const kgl::EModelError& e) {
        Fail(e.what());
    } catch (const std::exception& e) {
        Fail(std::string("The importer failed: ") + e.what());
    }
    return 1;
}
