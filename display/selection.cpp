// The selection displays drawn over the model at the end of each frame. Entries past
// the end of a list (left short by a reload) read as not selected.
#include <GL/gl.h>

#include <algorithm>

#include "KGLDisplay.h"
#include "gl_face.h"
#include "pick_math.h"

namespace kgl {

using namespace detail;

namespace {

// Sends the visible faces for which selected(group, running face number) holds, and
// counts their triangles into drawCount.
template <class TSelected>
void SendSelectedFaces(TKGLModel& model, TSelected selected) {
    int32_t triangles = 0;
    detail::WalkVisibleFaces(model, [&](const TFace& face, int32_t g, int64_t n) {
        if (!selected(g, n)) return;
        const uint32_t corners = ReadableCorners(face);
        if (corners == 3) ++triangles;
        detail::SendFacePositions(model, face, corners);
    });
    model.drawCount += triangles;
}

}  // namespace

void DrawSelectedEdges(TKGLModel& model) {
    if (model.edgeSel.empty()) return;
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glDepthFunc(GL_LEQUAL);
    glLineWidth(1.5f);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_LINE_SMOOTH);  // blending is the frame's, so the lines come out smoothed
    if (model.eCount > 0) {
        const int64_t last = std::min<int64_t>(model.eCount, static_cast<int64_t>(model.edges.size()) - 1);
        glColor4fv(model.selColor.data());
        glBegin(GL_LINES);
        for (int64_t i = 0; i <= last; ++i) {
            const TEdge& edge = model.edges[static_cast<size_t>(i)];
            if (!edge.active || !SelFlag(model.edgeSel, i)) continue;
            // Shown while one of its faces is: an edge whose faces the reduction hid
            // stays selected but out of sight. face2 beyond the group counts as absent.
            const TFace* f1 = FaceAt(model, edge.group, edge.face);
            const TFace* f2 = edge.face2 != kNoFace ? FaceAt(model, edge.group, edge.face2) : nullptr;
            if (!(f1 && f1->visible) && !(f2 && f2->visible)) continue;
            SendEdgeEnds(model, edge);
        }
        glEnd();
    }
    glDepthFunc(GL_LESS);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
}

void DrawSelectedGroups(TKGLModel& model) {
    if (model.fCount < 1 || model.groupSel.empty()) return;
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glDepthFunc(GL_LEQUAL);
    glLineWidth(1.5f);
    glDisable(GL_TEXTURE_2D);
    glColor4fv(model.selColor.data());
    SendSelectedFaces(model, [&](int32_t g, int64_t) { return SelFlag(model.groupSel, g); });
    glDepthFunc(GL_LESS);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
}

void DrawSelectedFaces(TKGLModel& model) {
    if (model.fCount < 1 || model.faceSel.empty()) return;
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glColor4fv(model.selColor.data());
    glPolygonStipple(kSelectionStipple.data());
    glEnable(GL_POLYGON_STIPPLE);
    // A hidden face keeps its running number and its entry, so it shows as selected
    // again once a reduction makes it visible.
    SendSelectedFaces(model, [&](int32_t, int64_t n) { return SelFlag(model.faceSel, n); });
    glDisable(GL_POLYGON_STIPPLE);
    glDepthFunc(GL_LESS);
}

}  // namespace kgl
