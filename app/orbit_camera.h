#pragma once
// The camera in the user's hand: a middle-button drag over the view orbits the model
// about its centre, with Shift held it pans; the arithmetic is display's (Orbited,
// Panned). The frame draws the orbit on top of what the track bars and the spin set,
// and picks use the frame's matrices, so they stay exact.
#include <QPointF>

#include "KGLDisplay.h"

class TOrbitCamera {
public:
    const kgl::TOrbit& Orbit() const { return FOrbit; }
    // The view as the track bars say (Home, a middle double-click, a new model).
    void Reset() { FOrbit = {}; }
    // The wheel's share of the camera distance (kgl::WheelStep).
    void SetDolly(double dolly) { FOrbit.dolly = dolly; }

    // A drag begins at at (logical pixels); pan: Shift was held.
    void Press(QPointF at, bool pan);
    bool Dragging() const { return FDragging; }
    // The pointer moved to at; viewHeight in logical pixels, depth the eye's distance
    // to the model's centre (for the pan).
    void Move(QPointF at, double viewHeight, double depth);
    void Release() { FDragging = false; }

private:
    kgl::TOrbit FOrbit;
    bool FDragging = false;
    bool FPan = false;
    QPointF FLast;
};
