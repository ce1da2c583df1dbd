#pragma once
// kglmodel render: one frame of the editor's view drawn offscreen (OSMesa), without a
// display, a GPU or an X server.
#include <cstdint>
#include <string>

#include "KGLDisplay.h"
#include "KGLModel.h"
#include "png_io.h"

namespace kgl {

inline constexpr int32_t kRenderMaxSide = 8192;

struct TRenderOptions {
    int32_t width = 640;  // the picture, 1 .. kRenderMaxSide on a side
    int32_t height = 480;
    // The window's state at start: x rot, outline and boxes on, angle 0, both camera
    // track bars at 0. No selection exists in a freshly loaded model, so the selection
    // display draws nothing.
    TFrameView view;
    // --texture: read by the texture loader (BMP, TGA, JPEG). Empty: checker.jpg in
    // checkerFolder when there is one, else the same checkerboard made in memory.
    std::string texture;
    std::string checkerFolder;  // with its trailing separator; empty: the current folder
};

// Draws model as the editor's frame does at options.width x options.height (the
// projection's aspect is the picture's) into picture. A texture that cannot be read
// is reported through the message service as one line, and the model is drawn
// untextured, as in the editor. False with a reason only when no offscreen context
// can be made (options.view.texture is ignored: the texture is made here).
bool RenderModel(TKGLModel& model, const TRenderOptions& options, TRgbPicture& picture, std::string& why);

// The texture RenderModel lays on the model (options.texture, else the checker), made in
// the current context; 0 (after one warning line) when it cannot be read.
uint32_t MakeRenderTexture(const TRenderOptions& options);

}  // namespace kgl
