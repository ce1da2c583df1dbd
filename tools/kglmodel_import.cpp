// kglmodel-import IN OUT.kgm: reads IN with the Open Asset Import Library and writes
// the model it holds (scene_model.h says how) as KGM. The only program that links the
// library: the editor and kglmodel run it as a child process under limits
// (import/import.h), because its importers are the riskiest code we use.
//
// What the caller reads:
//  - exit status 0: OUT was written; 1: IN could not be read, one line on standard
//    error says why; 2: wrong usage; 3: out of memory. Anything else, or a signal, is
//    a crash.
//  - standard output: lines "progress DONE TOTAL" while the importer works, and
//    "warning TEXT" for what was skipped.
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/DefaultLogger.hpp>
#include <assimp/Importer.hpp>
#include <assimp/ProgressHandler.hpp>

#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "KGLModel.h"
#include "errors.h"
#include "scene_model.h"

namespace {

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

int Import(const std::string& in, const std::string& out) {
    Assimp::Importer importer;
    importer.SetProgressHandler(new TProgressLines);  // the importer owns it
    // points and lines are counted and skipped by the mapping, not removed here; the
    // structure is validated so that no index the mapping follows is out of range
    const aiScene* scene = importer.ReadFile(in, aiProcess_ValidateDataStructure);
    if (!scene) {
        const std::string why = importer.GetErrorString();
        Fail(why.empty() ? "The importer could not read the file" : why);
        return 1;
    }
    kgl::TKGLModel model;
    kgl::TSceneSkipped skipped;
    kgl::SceneToModel(*scene, model, skipped);
    importer.FreeScene();
    if (skipped.points + skipped.lines > 0) {
        std::printf("warning %llu points and %llu lines were skipped: only polygons are read\n",
                    static_cast<unsigned long long>(skipped.points), static_cast<unsigned long long>(skipped.lines));
        std::fflush(stdout);
    }
    kgl::SaveToKGM(model, out);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kglmodel-import IN OUT.kgm\n");
        return 2;
    }
    try {
        return Import(argv[1], argv[2]);
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
