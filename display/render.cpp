// Drawing the model, its outline overlay, its boxes and the black depth pass, in
// immediate mode: one begin/end per face, the whole model sent every frame.
#include <GL/gl.h>

#include "KGLDisplay.h"
#include "gl_face.h"
#include "pick_math.h"

namespace kgl {

using namespace detail;

void DrawModel(TKGLModel& model) {
    if (model.fCount < 1) return;
    glEnable(GL_TEXTURE_2D);
    model.drawCount = 0;
    int32_t triangles = 0;
    WalkVisibleFaces(model, [&](const TFace& face, int32_t, int64_t) {
        const uint32_t corners = ReadableCorners(face);
        if (corners == 3) ++triangles;
        const uint32_t normals = face.nIdx.size();
        const uint32_t texs = face.tIdx.size();
        glBegin(FacePrimitive(corners));
        for (uint32_t k = 0; k < corners; ++k) {
            bool merged = false;
            const TVertex& position = CornerVertex(model, face.vIdx[k], merged);
            // A corner without a normal or texture index sends none and so keeps the
            // one the previous corner left current.
            if (k < normals) {
                if (const TVec3* n = CornerNormal(model, face.nIdx[k])) glNormal3fv(&n->x);
            }
            if (k < texs) {
                if (const TTexCoord* t = CornerTexCoord(model, face.tIdx[k], merged)) glTexCoord2fv(&t->u);
            }
            glVertex3fv(&position.x);
        }
        glEnd();
    });
    model.drawCount = triangles;
}

void DrawWireframe(TKGLModel& model) {
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glDepthFunc(GL_LEQUAL);  // outlines at the depth of the filled faces pass
    glLineWidth(1.5f);
    glColor4fv(model.wireColor.data());
    DrawModel(model);
    glDepthFunc(GL_LESS);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
}

namespace {

// One GL_LINES primitive with the box's twelve edges: LLL-HLL, LLL-LHL, LLL-LLH,
// HHH-LHH, HHH-HLH, HHH-HHL, HLL-HHL, HLL-HLH, LHL-HHL, LHL-LHH, LLH-HLH, LLH-LHH.
void DrawBox(const TVec3& lo, const TVec3& hi) {
    const float L[3] = {lo.x, lo.y, lo.z};
    const float H[3] = {hi.x, hi.y, hi.z};
    static constexpr char kEdges[12][2][4] = {{"LLL", "HLL"}, {"LLL", "LHL"}, {"LLL", "LLH"}, {"HHH", "LHH"},
                                              {"HHH", "HLH"}, {"HHH", "HHL"}, {"HLL", "HHL"}, {"HLL", "HLH"},
                                              {"LHL", "HHL"}, {"LHL", "LHH"}, {"LLH", "HLH"}, {"LLH", "LHH"}};
    glBegin(GL_LINES);
    for (const auto& edge : kEdges)
        for (const char* end : edge)
            glVertex3f(end[0] == 'L' ? L[0] : H[0], end[1] == 'L' ? L[1] : H[1], end[2] == 'L' ? L[2] : H[2]);
    glEnd();
}

// The box grown by margin on every side; sums in double, then rounded to float.
void DrawGrownBox(const TVec3& lo, const TVec3& hi, double margin) {
    const TVec3 l{static_cast<float>(double(lo.x) - margin), static_cast<float>(double(lo.y) - margin),
                  static_cast<float>(double(lo.z) - margin)};
    const TVec3 h{static_cast<float>(double(hi.x) + margin), static_cast<float>(double(hi.y) + margin),
                  static_cast<float>(double(hi.z) + margin)};
    DrawBox(l, h);
}

}  // namespace

void DrawBoundingBoxes(const TKGLModel& model, double margin) {
    if (model.fCount < 1) return;
    glLineWidth(1.0f);
    // The model's box shows the selection only when it is the box of the one group.
    const bool onlyGroupSelected = model.gCount == 0 && SelFlag(model.groupSel, 0);
    glColor4fv(onlyGroupSelected ? model.selColor.data() : model.unselColor.data());
    DrawGrownBox(model.boxMin, model.boxMax, margin);
    if (model.groupSel.empty()) return;  // the Group mode has not been entered yet
    const int32_t lastGroup = LastGroup(model);
    for (int32_t g = 0; g <= lastGroup; ++g) {
        const TGroup& group = model.groups[static_cast<size_t>(g)];
        glColor4fv(SelFlag(model.groupSel, static_cast<int64_t>(g)) ? model.selColor.data() : model.unselColor.data());
        DrawGrownBox(group.boxMin, group.boxMax, margin);
    }
}

void DrawModelBlack(const TKGLModel& model) {
    if (model.fCount < 1) return;
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_FOG);
    glDisable(GL_LIGHTING);
    glColor4f(0, 0, 0, 1);
    WalkVisibleFaces(
        model, [&](const TFace& face, int32_t, int64_t) { SendFacePositions(model, face, ReadableCorners(face)); });
}

}  // namespace kgl
