#pragma once
// Drawing, colour-code picking and the selection displays of a model, in OpenGL 1.1
// immediate mode with GLU. No toolkit: the caller keeps a context current and sets
// projection and model-view; the pick procedures draw into whatever framebuffer is
// bound (the view binds an offscreen one, so a pick image is never presented).
#include <array>
#include <cstdint>

#include "KGLModel.h"

namespace kgl {

// Last read-back pixel of a pick (R, G, B); zero at program start.
extern std::array<uint8_t, 3> PickPixel;
// Last pointer position over the view, logical pixels, origin top-left; written by
// the editor window only.
extern int32_t MouseX;
extern int32_t MouseY;

// ---- rendering ----
void DrawModel(TKGLModel& model);
void DrawWireframe(TKGLModel& model);
void DrawBoundingBoxes(const TKGLModel& model, double margin);
void DrawModelBlack(const TKGLModel& model);

// ---- selection lists ----
void InitEdgeSelection(TKGLModel& model);   // edgeSel to eCount + 2 entries
void InitGroupSelection(TKGLModel& model);  // groupSel to gCount + 2 entries
void InitFaceSelection(TKGLModel& model);   // faceSel to fCount + 2 entries

// ---- picking: x, y in framebuffer pixels, origin top-left; mode 0 select,
// 1 deselect, 2 toggle, anything else changes nothing ----
void PickEdge(TKGLModel& model, int32_t x, int32_t y, bool occlude, uint8_t mode);
void PickGroup(TKGLModel& model, int32_t x, int32_t y, uint8_t mode);
void PickFace(TKGLModel& model, int32_t x, int32_t y, uint8_t mode);

// ---- selection displays ----
void DrawSelectedEdges(TKGLModel& model);
void DrawSelectedGroups(TKGLModel& model);
void DrawSelectedFaces(TKGLModel& model);

}  // namespace kgl
