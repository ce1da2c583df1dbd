#pragma once
// Internal to the display unit: sending one face of the walk to OpenGL.
#include <GL/gl.h>

#include "face_walk.h"

namespace kgl::detail {

// One primitive per face by its corner count: 3 triangles, 4 a quad, anything else
// one polygon (faces are never split).
inline GLenum FacePrimitive(uint32_t corners) {
    return corners == 3 ? GL_TRIANGLES : corners == 4 ? GL_QUADS : GL_POLYGON;
}

// The face's corner positions only (picking passes, outlines, the black pass).
inline void SendFacePositions(const TKGLModel& model, const TFace& face, uint32_t corners) {
    glBegin(FacePrimitive(corners));
    for (uint32_t k = 0; k < corners; ++k) glVertex3fv(&CornerVertex(model, face.vIdx[k]).x);
    glEnd();
}

// The two end points of an edge inside an open GL_LINES primitive.
inline void SendEdgeEnds(const TKGLModel& model, const TEdge& edge) {
    glVertex3fv(&EdgeEndVertex(model, EdgeVertexA(model, edge)).x);
    glVertex3fv(&EdgeEndVertex(model, EdgeVertexB(model, edge)).x);
}

}  // namespace kgl::detail
