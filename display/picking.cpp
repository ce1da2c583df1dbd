// Colour-code picking: clear, draw every candidate in the colour of its code, read
// back the one pixel under the pointer, decode it and change one selection entry.
// The caller binds a framebuffer that is never presented (the view's offscreen one),
// so a pick image can never be seen.
#include <GL/gl.h>

#include <algorithm>

#include "KGLDisplay.h"
#include "gl_face.h"
#include "pick_math.h"

namespace kgl {

using namespace detail;

std::array<uint8_t, 3> PickPixel{};
int32_t MouseX = 0;
int32_t MouseY = 0;

void InitEdgeSelection(TKGLModel& model) { model.edgeSel.resize(SelectionLength(model.eCount), 0); }
void InitGroupSelection(TKGLModel& model) { model.groupSel.resize(SelectionLength(model.gCount), 0); }
void InitFaceSelection(TKGLModel& model) { model.faceSel.resize(SelectionLength(model.fCount), 0); }

namespace {

void SetCodeColor(uint32_t code) {
    const TRGB c = CodeToRGB(code);
    glColor4f(c[0] / 255.0f, c[1] / 255.0f, c[2] / 255.0f, 1.0f);
}

// Viewport of the bound framebuffer; false (and nothing touched) when the pick
// position lies outside it, so such a pick changes nothing, PickPixel included.
bool PickViewport(int32_t x, int32_t y, GLint viewport[4]) {
    glGetIntegerv(GL_VIEWPORT, viewport);
    return PickInside(x, y, viewport[2], viewport[3]);
}

// One pick image: cleared to the background code, with everything off that could
// alter a code on its way to the framebuffer. Blending, smoothing and texturing stay
// off afterwards (the next frame turns on what it needs); dithering and
// multisampling, which no frame turns on again, are put back as they were.
class TPickImage {
public:
    TPickImage() : dither_(glIsEnabled(GL_DITHER)), multisample_(glIsEnabled(GL_MULTISAMPLE)) {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glDisable(GL_BLEND);
        glDisable(GL_LINE_SMOOTH);
        glDisable(GL_POLYGON_SMOOTH);
        glDisable(GL_TEXTURE_2D);
        glDisable(GL_DITHER);
        glDisable(GL_MULTISAMPLE);
    }
    ~TPickImage() {
        if (dither_) glEnable(GL_DITHER);
        if (multisample_) glEnable(GL_MULTISAMPLE);
    }
    TPickImage(const TPickImage&) = delete;
    TPickImage& operator=(const TPickImage&) = delete;

    // The pixel under (x, y) into PickPixel, rows counted from the bottom: h - 1 - y.
    uint32_t Read(int32_t x, int32_t y, const GLint viewport[4]) {
        GLint alignment = 4;
        glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(viewport[0] + x, viewport[1] + PickRow(y, viewport[3]), 1, 1, GL_RGB, GL_UNSIGNED_BYTE,
                     PickPixel.data());
        glPixelStorei(GL_PACK_ALIGNMENT, alignment);
        return RGBToCode(PickPixel);
    }

private:
    GLboolean dither_, multisample_;
};

void ApplyPick(std::vector<TBool>& list, int64_t index, int64_t first, int64_t last, uint8_t mode) {
    if (PickIndexAccepted(index, first, last, list.size())) ApplyPickMode(list, static_cast<size_t>(index), mode);
}

// Face-filling pick passes draw filled faces against the depth buffer, whatever
// polygon mode the view left.
void FillWithDepth() {
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
}

// Draws every visible face in the colour code codeOf(group, running face number) gives
// it and reads the code under the pointer; false, with nothing drawn, when the position
// lies outside the viewport.
template <class CodeOf>
bool ReadFaceCode(TKGLModel& model, int32_t x, int32_t y, CodeOf codeOf, uint32_t& code) {
    GLint viewport[4];
    if (!PickViewport(x, y, viewport)) return false;
    TPickImage image;
    FillWithDepth();
    int32_t triangles = 0;
    bool started = false;
    uint32_t current = 0;
    WalkVisibleFaces(model, [&](const TFace& face, int32_t g, int64_t n) {
        const uint32_t c = codeOf(g, n);
        if (!started || c != current) {  // runs of one code (a group's faces) set it once
            SetCodeColor(c);
            current = c;
            started = true;
        }
        const uint32_t corners = ReadableCorners(face);
        if (corners == 3) ++triangles;
        SendFacePositions(model, face, corners);
    });
    model.drawCount += triangles;
    code = image.Read(x, y, viewport);
    return true;
}

}  // namespace

void PickEdge(TKGLModel& model, int32_t x, int32_t y, bool occlude, uint8_t mode) {
    if (model.edgeSel.empty()) return;  // Edge mode not entered since the last load
    GLint viewport[4];
    if (!PickViewport(x, y, viewport)) return;
    TPickImage image;
    if (occlude) {
        FillWithDepth();
        DrawModelBlack(model);  // the model's front surface into the depth buffer
    }
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glDepthFunc(GL_LEQUAL);  // edges lying on the black surface pass
    glLineWidth(3.0f);
    if (model.eCount > 0) {
        const int64_t last = std::min<int64_t>(model.eCount, static_cast<int64_t>(model.edges.size()) - 1);
        glBegin(GL_LINES);
        for (int64_t i = 0; i <= last; ++i) {
            const TEdge& edge = model.edges[static_cast<size_t>(i)];
            if (!edge.active) continue;
            SetCodeColor(EdgeCode(static_cast<int32_t>(i)));
            SendEdgeEnds(model, edge);
        }
        glEnd();
    }
    glDepthFunc(GL_LESS);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    const uint32_t code = image.Read(x, y, viewport);
    ApplyPick(model.edgeSel, EdgeIndexOfCode(code), 0, model.eCount, mode);
}

void PickGroup(TKGLModel& model, int32_t x, int32_t y, uint8_t mode) {
    if (model.fCount < 1) return;
    uint32_t code = 0;
    if (!ReadFaceCode(
            model, x, y, [](int32_t g, int64_t) { return GroupCode(g); }, code))
        return;
    ApplyPick(model.groupSel, GroupIndexOfCode(code), 0, model.gCount, mode);
}

void PickFace(TKGLModel& model, int32_t x, int32_t y, uint8_t mode) {
    if (model.fCount < 1) return;
    uint32_t code = 0;
    if (!ReadFaceCode(
            model, x, y, [](int32_t, int64_t n) { return FaceCode(static_cast<int32_t>(n)); }, code))
        return;
    // Code 0, the background, is below the first face number and changes nothing.
    ApplyPick(model.faceSel, FaceIndexOfCode(code), 1, model.fCount, mode);
}

}  // namespace kgl
