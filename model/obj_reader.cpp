#include "KGLModel.h"
namespace kgl {
bool LoadFromFile(TKGLModel&, const std::string&) { return false; }
bool LoadOBJ(TKGLModel&, const std::string&) { return false; }
bool LoadOBJFromMemory(TKGLModel&, std::string_view) { return false; }
}  // namespace kgl
