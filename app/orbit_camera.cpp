#include "orbit_camera.h"

void TOrbitCamera::Press(QPointF at, bool pan) {
    FDragging = true;
    FPan = pan;
    FLast = at;
}

void TOrbitCamera::Move(QPointF at, double viewHeight, double depth) {
    if (!FDragging) return;
    const QPointF d = at - FLast;
    FLast = at;
    FOrbit = FPan ? kgl::Panned(FOrbit, d.x(), d.y(), viewHeight, depth) : kgl::Orbited(FOrbit, d.x(), d.y());
}
