#include "KGLModel.h"
namespace kgl {
void OptimizeTexCoords(TKGLModel&) {}
}  // namespace kgl
