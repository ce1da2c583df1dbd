#include "KGLModel.h"
namespace kgl {
void SaveToOBJ(const TKGLModel&, const std::string&) {}
std::string SaveToOBJText(const TKGLModel&, const std::string&) { return {}; }
}  // namespace kgl
