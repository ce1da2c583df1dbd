// The editor's frame: camera, axes, model, outline, boxes and the selection display,
// shared by the window and kglmodel render so that both draw the same picture.
#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>

#include "KGLDisplay.h"
#include "face_walk.h"

namespace kgl {

TDepthPlanes FramePlanes(const TKGLModel& model, const double m[16]) {
    const TDepthPlanes fixed;
    const TVec3 lo = model.boxMin, hi = model.boxMax;
    if (!(lo.x <= hi.x && lo.y <= hi.y && lo.z <= hi.z)) return fixed;  // no vertex (reset box) or not a number
    double nearest = INFINITY, farthest = -INFINITY;
    for (int c = 0; c < 8; ++c) {
        const double x = c & 1 ? hi.x : lo.x, y = c & 2 ? hi.y : lo.y, z = c & 4 ? hi.z : lo.z;
        const double depth = -(m[2] * x + m[6] * y + m[10] * z + m[14]);  // the eye looks along -z
        nearest = std::min(nearest, depth);
        farthest = std::max(farthest, depth);
    }
    if (!std::isfinite(nearest) || !std::isfinite(farthest) || farthest <= 0) return fixed;
    if (nearest >= fixed.nearPlane && farthest <= fixed.farPlane) return fixed;
    const double margin = std::max(farthest - nearest, farthest) * TDepthPlanes::kMargin;
    TDepthPlanes planes;
    planes.farPlane = farthest + margin;
    planes.nearPlane = std::max(nearest - margin, planes.farPlane / TDepthPlanes::kMostFarOverNear);
    return planes;
}

void SetFrameProjection(int32_t width, int32_t height) {
    glViewport(0, 0, width, height);
    // A zero height has no aspect ratio: keep the last projection until it grows.
    if (height > 0) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(45.0, static_cast<double>(width) / static_cast<double>(height), TDepthPlanes::kFixedNear,
                       TDepthPlanes::kFixedFar);
    }
    glMatrixMode(GL_MODELVIEW);
}

double CameraZ(const TKGLModel& model, const TFrameView& view) {
    const double d = model.diagonal;
    return static_cast<double>(view.push) - d - view.pull * d / 10.0 + view.orbit.dolly;
}

TWheelStep WheelStep(const TKGLModel& model, const TFrameView& view, long long notches, int32_t pushMin,
                     int32_t pushMax) {
    TFrameView v = view;
    const long long n = std::min<long long>(std::llabs(notches), 1000);
    const int sign = notches > 0 ? 1 : -1;
    for (long long i = 0; i < n; ++i) {
        const double distance = -CameraZ(model, v);
        const int32_t push = v.push + sign;
        if (distance > 1.0 && distance <= kWheelBarReach) {
            if (push >= pushMin && push <= pushMax) v.push = push;  // at its end: no farther, as always
        } else if (distance > 0) {
            v.orbit.dolly += sign > 0 ? kWheelShare * distance : -kWheelShare / (1 - kWheelShare) * distance;
        } else {
            v.orbit.dolly += sign * kWheelShare * (model.diagonal > 0 ? model.diagonal : 1.0);
        }
    }
    return {v.push, v.orbit.dolly};
}

TOrbit Orbited(const TOrbit& orbit, double dx, double dy) {
    TOrbit o = orbit;
    o.yaw = std::remainder(o.yaw + dx * kOrbitDegreesPerPixel, 360.0);
    o.pitch = std::remainder(o.pitch + dy * kOrbitDegreesPerPixel, 360.0);
    return o;
}

TOrbit Panned(const TOrbit& orbit, double dx, double dy, double viewHeight, double depth) {
    TOrbit o = orbit;
    if (!(viewHeight >= 1)) return o;
    const double unitsPerPixel = 2.0 * std::tan(22.5 * M_PI / 180.0) * std::fabs(depth) / viewHeight;
    o.panX += dx * unitsPerPixel;
    o.panY -= dy * unitsPerPixel;  // the pointer's y runs down, the view's up
    return o;
}

void DrawAxes(const TVec3& o, float L) {
    glPushMatrix();
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_LINE_SMOOTH);
    glEnable(GL_BLEND);

    glLineWidth(2.0f);
    glBegin(GL_LINES);
    glColor4f(0.5f, 0.5f, 0.5f, 0.5f);
    glVertex3f(o.x, o.y, o.z);
    glVertex3f(o.x + L, o.y, o.z);
    glVertex3f(o.x, o.y, o.z);
    glVertex3f(o.x, o.y + L, o.z);
    glVertex3f(o.x, o.y, o.z);
    glVertex3f(o.x, o.y, o.z + L);
    glEnd();

    glLineWidth(1.0f);
    glBegin(GL_LINES);
    glColor4f(1, 0, 0, 1);
    glVertex3f(o.x, o.y, o.z);
    glVertex3f(o.x + L, o.y, o.z);
    glColor4f(0, 1, 0, 1);
    glVertex3f(o.x, o.y, o.z);
    glVertex3f(o.x, o.y + L, o.z);
    glColor4f(0, 0, 1, 1);
    glVertex3f(o.x, o.y, o.z);
    glVertex3f(o.x, o.y, o.z + L);
    glEnd();

    glLineWidth(1.0f);
    glEnable(GL_DEPTH_TEST);
    glPopMatrix();
}

void DrawFrame(TKGLModel& model, const TFrameView& view) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const TOrbit& o = view.orbit;
    glTranslatef(static_cast<float>(o.panX), static_cast<float>(o.panY), static_cast<float>(CameraZ(model, view)));
    // skipped at rest, so that the view as the controls say stays exactly as it was
    if (o.pitch != 0 || o.yaw != 0) {
        glRotated(o.pitch, 1, 0, 0);
        glRotated(o.yaw, 0, 1, 0);
    }
    if (view.xRot) glRotatef(90, 1, 0, 0);
    glRotated(view.rotationAngle, 0, 1, 0);
    glTranslatef(-model.center.x, -model.center.y, -model.center.z);
    // the planes that hold the model where it now stands; the fixed ones while they do
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (view.projection && viewport[3] > 0) {
        double modelView[16];
        glGetDoublev(GL_MODELVIEW_MATRIX, modelView);
        const TDepthPlanes planes = FramePlanes(model, modelView);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(45.0, static_cast<double>(viewport[2]) / static_cast<double>(viewport[3]), planes.nearPlane,
                       planes.farPlane);
        glMatrixMode(GL_MODELVIEW);
    }
    if (view.axes) DrawAxes(TVec3{0, 0, 0}, 100);

    glColor4f(1, 1, 1, 1);
    glBindTexture(GL_TEXTURE_2D, view.texture);
    glEnable(GL_LINE_SMOOTH);
    glEnable(GL_POLYGON_SMOOTH);
    glEnable(GL_BLEND);
    DrawModel(model);
    glBindTexture(GL_TEXTURE_2D, 0);
    if (view.wireframe) DrawWireframe(model);
    if (view.boxes) DrawBoundingBoxes(model, 0.0);
    glBindTexture(GL_TEXTURE_2D, view.texture);

    switch (view.selection) {
        case TSelectionDisplay::kGroups:
            DrawSelectedGroups(model);
            break;
        case TSelectionDisplay::kEdges:
            DrawSelectedEdges(model);
            break;
        case TSelectionDisplay::kFaces:
            DrawSelectedFaces(model);
            break;
        case TSelectionDisplay::kNone:
            break;
    }
}

void SetEditorFrameState(const TKGLModel& model, const TFrameView& view) {
    // As the panel makes its context ...
    glShadeModel(GL_SMOOTH);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glEnable(GL_TEXTURE_2D);
    // ... and as the window goes on at start.
    glDisable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
    // The axes come first in a frame and take the texture state the frame before left:
    // texturing on, the texture bound, the coordinate of the model's last corner current.
    glBindTexture(GL_TEXTURE_2D, view.texture);
    if (const TTexCoord* t = detail::LastSentTexCoord(model)) glTexCoord2fv(&t->u);
}

}  // namespace kgl
