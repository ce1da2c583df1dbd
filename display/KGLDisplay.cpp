#include "KGLDisplay.h"
namespace kgl {
std::array<uint8_t, 3> PickPixel{};
int32_t MouseX = 0;
int32_t MouseY = 0;
void DrawModel(TKGLModel&) {}
void DrawWireframe(TKGLModel&) {}
void DrawBoundingBoxes(const TKGLModel&, double) {}
void DrawModelBlack(const TKGLModel&) {}
void InitEdgeSelection(TKGLModel&) {}
void InitGroupSelection(TKGLModel&) {}
void InitFaceSelection(TKGLModel&) {}
void PickEdge(TKGLModel&, int32_t, int32_t, bool, uint8_t) {}
void PickGroup(TKGLModel&, int32_t, int32_t, uint8_t) {}
void PickFace(TKGLModel&, int32_t, int32_t, uint8_t) {}
void DrawSelectedEdges(TKGLModel&) {}
void DrawSelectedGroups(TKGLModel&) {}
void DrawSelectedFaces(TKGLModel&) {}
}  // namespace kgl
