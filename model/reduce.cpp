#include "KGLModel.h"
namespace kgl {
void Reduce(TKGLModel&, double) {}
int32_t ResolveVertex(const TKGLModel&, int32_t index) { return index; }
int32_t ResolveTexCoord(const TKGLModel&, int32_t index) { return index; }
}  // namespace kgl
