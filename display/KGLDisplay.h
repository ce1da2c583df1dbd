#pragma once
// Drawing, colour-code picking and the selection displays of a model, and the editor's
// frame composed of them, in OpenGL 1.1 immediate mode with GLU. No toolkit: the caller
// keeps a context current. Only the frame procedures set matrices; the others draw
// under the caller's projection and model-view. The pick procedures draw
// into whatever framebuffer is bound (the view binds an offscreen one of its size in
// device pixels, so a pick image is never presented).
//
// The face walk every procedure that draws faces shares: groups 0 .. gCount
// ascending, faces 1 .. fCount of each ascending, visible faces only, one primitive
// per face by its corner count (3 GL_TRIANGLES, 4 GL_QUADS, any other GL_POLYGON;
// never triangulated), corners 0 .. count - 1 in order.
// Corner position: vertices[v] when its target is -1 (free) or -2 (pinned), else
// vertices[target], exactly one step (the reduction resolves visible corners).
//
// Guards on damaged records (a loaded model is validated, a hand-built one may not
// be): nothing reads outside a table. Groups, faces and corners beyond their tables
// are not walked; a vertex index outside the table draws at the origin; a target
// outside the table is ignored; a normal or texture index outside its table sends
// nothing for that corner; an edge's face2 beyond its group's faces is absent.
//
// drawCount: DrawModel sets it to 0 and counts its visible 3-corner faces; the group
// and face picks and the group and face selection displays add their 3-corner faces;
// DrawModelBlack and edge drawing never count.
#include <array>
#include <cstdint>

#include "KGLModel.h"

namespace kgl {

// Last read-back pixel of a pick (R, G, B); zero at program start. A pick whose
// position lies outside the viewport leaves it as it was.
extern std::array<uint8_t, 3> PickPixel;
// Last pointer position over the view, logical pixels, origin top-left; written and
// read by the editor window only (the pick procedures take their position as
// arguments, already scaled to framebuffer pixels).
extern int32_t MouseX;
extern int32_t MouseY;

// ---- rendering ----

// All visible faces, textured, in the current colour. Per corner it sends, when the
// face has one there: the normal nIdx[k] (a merged corner keeps its own normal;
// normals never show, lighting is off), the texture coordinate tIdx[k] (for a merged
// corner the coordinate's target when that is 0 or more), then the position. A corner
// without one keeps the value the previous corner left current. fCount < 1: nothing,
// drawCount unchanged. Leaves GL_TEXTURE_2D enabled; colour, binding, blending,
// polygon mode and depth function are the caller's.
void DrawModel(TKGLModel& model);
// Outlines of the visible faces in wireColor: polygon mode GL_LINE on both sides,
// depth function GL_LEQUAL, line width 1.5, then DrawModel (which recounts drawCount),
// then GL_LESS and filled polygons again. Leaves line width 1.5, colour wireColor,
// GL_TEXTURE_2D enabled (the caller binds texture 0 first).
void DrawWireframe(TKGLModel& model);
// The model's box, then (once groupSel exists) each group's box 0 .. gCount, each grown
// by margin on every side, one GL_LINES primitive of 24 vertices per box. The model's
// box is selColor only when there is one group and groupSel[0] is set; a group's box
// is selColor when groupSel[g] is set, else unselColor, drawn even when none of its
// faces is visible. fCount < 1: nothing. Leaves line width 1.0 and the last colour.
void DrawBoundingBoxes(const TKGLModel& model, double margin);
// All visible faces in opaque black, positions only, not counted: the depth pass of
// edge picking. fCount < 1: nothing. Leaves texturing, fog and lighting disabled and
// the colour black; polygon mode and depth function are the caller's.
void DrawModelBlack(const TKGLModel& model);

// ---- selection lists ----
// Each sets its list's length to count + 2 (keeping existing entries, new ones
// false), so calling it after a reload brings a list left over from the previous
// model to the new model's size.
void InitEdgeSelection(TKGLModel& model);   // edgeSel to eCount + 2 entries
void InitGroupSelection(TKGLModel& model);  // groupSel to gCount + 2 entries
void InitFaceSelection(TKGLModel& model);   // faceSel to fCount + 2 entries

// ---- picking ----
// x, y: framebuffer pixels (the caller scales logical pointer positions by the
// device-pixel ratio), origin top-left of the viewport, y down. mode: 0 select,
// 1 deselect, 2 toggle, anything else changes nothing.
// Each pick: viewport read; a position outside it returns at once (nothing drawn,
// PickPixel kept). Otherwise clear colour (0, 0, 0, 1), clear colour and depth,
// blending, line and polygon smoothing, texturing, dithering and multisampling off
// (so codes read back exactly), draw the codes, read the pixel at row h - 1 - y into
// PickPixel, decode and apply mode to the entry when it is in the model's range and
// below the list's last entry (a shorter list is never written past its end).
// Codes: edge i -> i + 1, group g -> g + 1, face with running number n -> n
// (running numbers count every face slot in walk order, hidden ones too).
// Left behind: blending, line and polygon smoothing and texturing off, clear colour
// black, filled polygons, depth function GL_LESS (the face-filling passes also turn
// the depth test on); PickEdge also line width 3.
// Dithering, multisampling and the pack alignment are put back as they were.

// Edge under (x, y) into edgeSel (indices 0 .. eCount). Does nothing at all while
// edgeSel is empty. occlude: the visible faces first fill the depth buffer in black
// so edges behind the front surface cannot be picked; edges are drawn with GL_LEQUAL
// so those on it can. Every active edge is a candidate, visible faces or not; among
// edges on one pixel the higher position wins.
void PickEdge(TKGLModel& model, int32_t x, int32_t y, bool occlude, uint8_t mode);
// Group under (x, y) into groupSel (0 .. gCount); filled faces with depth test,
// GL_LESS. fCount < 1: nothing. With groupSel empty it still draws and reads back.
void PickGroup(TKGLModel& model, int32_t x, int32_t y, uint8_t mode);
// Face under (x, y) into faceSel (running numbers 1 .. fCount); at equal depth the
// face drawn first keeps the pixel. fCount < 1: nothing.
void PickFace(TKGLModel& model, int32_t x, int32_t y, uint8_t mode);

// ---- selection displays (end of each frame, for the current mode) ----

// Selected active edges whose face or face2 is visible, in selColor, smoothed lines of
// width 1.5 with GL_LEQUAL. Nothing while edgeSel is empty. Leaves line smoothing on,
// line width 1.5, texturing off, filled polygons, GL_LESS.
void DrawSelectedEdges(TKGLModel& model);
// Outlines of the visible faces of selected groups in selColor (GL_LEQUAL, width 1.5),
// counted. Nothing when fCount < 1 or groupSel is empty. Leaves texturing off, filled
// polygons, GL_LESS.
void DrawSelectedGroups(TKGLModel& model);
// Visible selected faces in selColor through a one-pixel checkerboard stipple (every
// other pixel), depth test on with GL_LEQUAL, counted; hidden faces keep their
// selection and show it again once visible. Nothing when fCount < 1 or faceSel is
// empty. Leaves blending and texturing disabled, stipple off, GL_LESS.
void DrawSelectedFaces(TKGLModel& model);

// ---- the frame ----
// One picture of the editor's view, shared by the window (every frame) and kglmodel
// render (one frame offscreen). The window reads the view state from its controls.

// Which selection display ends the frame: the checked selection mode of the window.
enum class TSelectionDisplay : uint8_t { kNone, kEdges, kGroups, kFaces };

// The camera in hand, on top of what the track bars and the spin set: a turn about the
// model's centre and a shift across the view. All zero: the view as the controls say,
// and the frame issues exactly the calls it issues without it.
struct TOrbit {
    double yaw = 0;    // degrees about the view's vertical axis, turned with pitch (a turntable)
    double pitch = 0;  // degrees about the view's horizontal axis (positive: the top comes nearer)
    double panX = 0;   // model units along the view's X (right) and Y (up)
    double panY = 0;
    double dolly = 0;  // model units the camera came nearer by the wheel (WheelStep)
    bool AtRest() const { return yaw == 0 && pitch == 0 && panX == 0 && panY == 0 && dolly == 0; }
};

struct TFrameView {
    double rotationAngle = 0.0;  // spin about the model's Y axis, degrees ("rotate")
    int32_t pull = 0;            // first track bar, 0 .. 100: the camera backs off by pull x diagonal / 10
    int32_t push = 0;            // second track bar, 0 .. 200: the camera comes one unit nearer a step
    bool xRot = true;            // "x rot: 90": a quarter turn about X (model +Y to +Z)
    bool wireframe = true;       // "Wireframe": the outline overlay
    bool boxes = true;           // "Bunding Box": the model's and the groups' boxes
    bool axes = true;            // the coordinate axes (always on in the window)
    bool projection = true;      // the frame sets the projection (step 2); false: the caller's stays
    uint32_t texture = 0;        // texture name laid on the model; 0 draws it untextured
    TSelectionDisplay selection = TSelectionDisplay::kFaces;  // "Face" is checked at start
    TOrbit orbit;                                             // the middle button's camera
};

// ---- camera arithmetic (no GL) ----

// Degrees the orbit turns per logical pixel the pointer moves.
constexpr double kOrbitDegreesPerPixel = 0.5;
// The eye-space z of the model's centre before the orbit's turns: push - d - pull x d / 10
// + orbit.dolly with d the diagonal, in double (the frame rounds it to float).
double CameraZ(const TKGLModel& model, const TFrameView& view);
// Where notches of the wheel (positive: nearer) put the camera, one notch after the
// other: a step of the second track bar (push, within pushMin .. pushMax: none at its
// ends) while the camera stands more than one and at most kWheelBarReach units from the
// model's centre (the samples' sizes: a step is 1% to 100% of the way), else kWheelShare
// of the way to
// the centre through the orbit's dolly (nearer by that share, farther by as much again),
// so that a notch moves a model of diagonal 0.05 or 5000 as it moves the samples. A
// camera at or past the centre moves by kWheelShare of the diagonal a notch.
struct TWheelStep {
    int32_t push = 0;
    double dolly = 0;
};
constexpr double kWheelBarReach = 100.0;
constexpr double kWheelShare = 0.1;
TWheelStep WheelStep(const TKGLModel& model, const TFrameView& view, long long notches, int32_t pushMin,
                     int32_t pushMax);
// orbit turned by a pointer move of (dx, dy) logical pixels, y down: right turns the
// model right (yaw), down brings its top nearer (pitch); each angle kept in -180 .. 180.
TOrbit Orbited(const TOrbit& orbit, double dx, double dy);
// orbit shifted so that what lies at the depth of the model's centre follows a pointer
// move of (dx, dy) pixels, y down, in a view viewHeight pixels high (the 45 degree field
// of view spans 2 tan(22.5) x depth units). depth: the centre's distance from the eye,
// -CameraZ; a centre at or behind the eye pans as one at its distance in front. A height
// below 1, or a depth of 0, moves nothing.
TOrbit Panned(const TOrbit& orbit, double dx, double dy, double viewHeight, double depth);

// The planes a frame's projection clips at, eye-space distances in front of the eye.
struct TDepthPlanes {
    double nearPlane = kFixedNear;
    double farPlane = kFixedFar;
    static constexpr double kFixedNear = 1.0, kFixedFar = 500.0;
    // The farthest the near plane stays from the far one: depth keeps 12 of a 24-bit
    // buffer's bits for the outline overlay even when the eye is inside the model.
    static constexpr double kMostFarOverNear = 4096.0;
    // The room left before the nearest and beyond the farthest corner.
    static constexpr double kMargin = 0.05;
    friend bool operator==(const TDepthPlanes&, const TDepthPlanes&) = default;
};
// The planes for the model's box under modelView (column-major, as GL keeps it): 1.0 and
// 500.0 whenever the eight corners of the box all lie between them (so every picture of
// a model that the fixed planes show stays exactly as it was), and for an empty model or
// one wholly behind the eye; otherwise the nearest corner's depth less, and the farthest
// one's more, kMargin of the box's depth span (at least kMargin of the farthest depth),
// near never closer than far / kMostFarOverNear.
TDepthPlanes FramePlanes(const TKGLModel& model, const double modelView[16]);

// Viewport on (0, 0, width, height) and the view's projection: gluPerspective with 45
// degrees, aspect width / height, near 1.0, far 500.0. A height below 1 has no aspect:
// the viewport is set and the projection kept. Leaves the model-view matrix current.
// DrawFrame sets the planes that fit the model each frame (FramePlanes).
void SetFrameProjection(int32_t width, int32_t height);

// The frame, on the projection already set:
//  1. clear colour (0, 0, 0, 1), clear colour and depth;
//  2. model-view: identity, then translate (orbit.panX, orbit.panY, CameraZ) (rounded to
//     float); unless yaw and pitch are both 0, the orbit's turns (pitch about X, then yaw
//     about Y); the quarter turn about X when xRot, the spin about Y, translate by the
//     negated bounding-box centre; then, when projection, the projection:
//     gluPerspective(45, the viewport's aspect, FramePlanes of that model-view) (kept as
//     it was while the viewport has no height);
//  3. DrawAxes at the model-space origin, length 100, when axes;
//  4. colour white, texture bound, line and polygon smoothing and blending on; DrawModel;
//  5. texture 0 bound; DrawWireframe when wireframe; DrawBoundingBoxes(margin 0) when boxes;
//  6. texture bound again; the selection display chosen by view.selection.
// Leaves the model-view and projection matrices as step 2 set them (picks between frames
// use them).
void DrawFrame(TKGLModel& model, const TFrameView& view);

// Coordinate axes from origin, each length long: a wide half-transparent grey halo
// under thin red (X), green (Y) and blue (Z) lines, with the depth test off so
// everything drawn later covers them. Texture state is left alone: they are drawn
// under whatever binding the previous frame left. Leaves lighting off, depth test on,
// line width 1 and the matrix as it was.
void DrawAxes(const TVec3& origin, float length);

// Puts a fresh context into the state the editor's view has when it draws a frame of
// this model: what the panel and the window set at start (depth test with GL_LESS,
// clear depth 1, smooth shading, nicest perspective and line-smoothing hints, no
// culling, blend function GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, texturing on), and
// what the window's previous frame leaves for the axes of the next one: view.texture
// bound and the current texture coordinate the last one DrawModel sends. Drawing one
// DrawFrame after it gives the picture the window shows (kglmodel render).
void SetEditorFrameState(const TKGLModel& model, const TFrameView& view);

}  // namespace kgl
