#include "KGLModel.h"
#include "errors.h"
namespace kgl {
void SaveToKGM(const TKGLModel&, const std::string&) { throw EInOutError("not built yet"); }
std::string SaveToKGMBytes(const TKGLModel&) { return {}; }
bool LoadKGM(TKGLModel&, const std::string&) { return false; }
bool LoadKGMFromMemory(TKGLModel&, std::string_view) { return false; }
}  // namespace kgl
