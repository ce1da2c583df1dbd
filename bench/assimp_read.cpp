// bench_assimp_read FILE: the library's ReadFile alone, as kglmodel-import calls it, in
// a process of its own: the floor an import through the library stands on.
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_assimp_read FILE\n");
        return 2;
    }
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(argv[1], aiProcess_ValidateDataStructure);
    if (!scene) {
        std::fprintf(stderr, "%s\n", importer.GetErrorString());
        return 1;
    }
    unsigned faces = 0;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) faces += scene->mMeshes[m]->mNumFaces;
    std::printf("%u meshes, %u faces\n", scene->mNumMeshes, faces);
    return 0;
}
