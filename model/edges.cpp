#include "KGLModel.h"
namespace kgl {
void BuildEdges(TKGLModel&) {}
int32_t EdgeVertexA(const TKGLModel&, const TEdge&) { return 0; }
int32_t EdgeVertexB(const TKGLModel&, const TEdge&) { return 0; }
}  // namespace kgl
