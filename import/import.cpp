#include "import.h"

#include <algorithm>

namespace kgl {

const std::vector<std::string>& ImportedExtensions() {
    static const std::vector<std::string> extensions = {".3ds", ".dae", ".fbx", ".glb", ".gltf",
                                                        ".off", ".ply", ".stl", ".x"};
    return extensions;
}

bool IsReadableExtension(const std::string& ext) {
    if (ext == ".obj" || ext == ".kgm") return true;
    const auto& list = ImportedExtensions();
    return std::binary_search(list.begin(), list.end(), ext);
}

bool LoadModelFile(TKGLModel& model, const std::string& path) {
    // the importer child comes next; until then only our own readers
    return LoadFromFile(model, path);
}

}  // namespace kgl
