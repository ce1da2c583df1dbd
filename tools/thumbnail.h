#pragma once
// kglmodel thumbnail: a small square picture of a model, for the previews of file
// managers (the thumbnailer entry runs it) and the editor's icons. The editor's frame,
// drawn offscreen like kglmodel render, with the view a preview wants: the model seen
// from above at a three-quarter angle, framed to fill the picture, on a transparent
// background, without axes, outline or boxes.
#include <cstdint>
#include <string>

#include "KGLDisplay.h"
#include "KGLModel.h"
#include "png_io.h"

namespace kgl {

inline constexpr double kThumbnailYaw = -35;   // the model's right side turned towards the eye
inline constexpr double kThumbnailPitch = 25;  // seen from above
inline constexpr double kThumbnailMargin = 0.03;

// The frame's view for a thumbnail: the orbit at kThumbnailYaw and kThumbnailPitch, no
// quarter turn, no axes, outline, boxes or selection, the camera pulled back by 0.4
// diagonals (so that the whole box lies in front of it).
TFrameView ThumbnailView();

// An off-centre perspective as glFrustum takes it: the window at the near plane.
struct TFrustum {
    double left = 0, right = 0, bottom = 0, top = 0, zNear = 0, zFar = 0;
};

// The square frustum in which the corners of the model's visible faces, placed by view
// as DrawFrame places them (KGLDisplay.h, step 2), fill the window's wider direction up
// to margin (a fraction of its side) on both sides, centred in the other; the near
// and far planes lie just before and behind the nearest and the farthest corner, so
// that a model of any size is framed. False when there is no visible face, the
// diagonal is not a positive finite number, or a corner lies at or behind the eye.
bool FrameModel(const TKGLModel& model, const TFrameView& view, double margin, TFrustum& frustum);

// Draws model's thumbnail, size x size (1 .. kRenderMaxSide), textured as kglmodel
// render textures it (checker.jpg in checkerFolder, else the same checkerboard made in
// memory). Drawn at up to four times the size and averaged down: alpha is the share of
// the samples the model covers, the colour their mean. False with a reason when the
// model cannot be framed, no offscreen context can be made, or nothing was drawn.
bool RenderThumbnail(TKGLModel& model, int32_t size, const std::string& checkerFolder, TRgbaPicture& picture,
                     std::string& why);

}  // namespace kgl
