#pragma once
// Bounding boxes of the model core (private to it).
#include "KGLModel.h"

namespace kgl {

// Widens the box lo .. hi to hold p (anything with x, y, z), axis by axis; a coordinate
// that is not a number widens nothing.
template <class TPoint>
inline void WidenBox(TVec3& lo, TVec3& hi, const TPoint& p) {
    if (p.x < lo.x) lo.x = p.x;
    if (p.x > hi.x) hi.x = p.x;
    if (p.y < lo.y) lo.y = p.y;
    if (p.y > hi.y) hi.y = p.y;
    if (p.z < lo.z) lo.z = p.z;
    if (p.z > hi.z) hi.z = p.z;
}

}  // namespace kgl
