#include "thumbnail.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "face_table.h"
#include "offscreen.h"
#include "render.h"

namespace kgl {

namespace {

struct TRotation {
    double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
};

// this x (the turn of `degrees` about axis 0 (X) or 1 (Y), as glRotated makes it)
TRotation Turned(const TRotation& r, double degrees, int axis) {
    const double a = degrees * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
    TRotation turn;
    if (axis == 0) {
        turn.m[1][1] = c, turn.m[1][2] = -s, turn.m[2][1] = s, turn.m[2][2] = c;
    } else {
        turn.m[0][0] = c, turn.m[0][2] = s, turn.m[2][0] = -s, turn.m[2][2] = c;
    }
    TRotation out;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            out.m[i][j] = 0;
            for (int k = 0; k < 3; ++k) out.m[i][j] += r.m[i][k] * turn.m[k][j];
        }
    return out;
}

// The eye-space position of the sample at column x, row y (top first) of a side x side
// picture drawn through frustum, from its depth-buffer value.
struct TEye {
    const TFrustum& f;
    double side;
    void At(double x, double y, float depth, double p[3]) const {
        const double n = f.zNear, r = f.zFar;
        const double distance = 2 * r * n / ((r + n) - (r - n) * (2.0 * depth - 1.0));
        p[0] = (f.left + (x + 0.5) / side * (f.right - f.left)) * distance / n;
        p[1] = (f.top - (y + 0.5) / side * (f.top - f.bottom)) * distance / n;
        p[2] = -distance;
    }
};

// How bright the surface at sample (x, y) is lit from above left, by its normal worked
// out from the depths of its neighbours: the frame draws without lighting, and a model
// without texture coordinates would be a flat silhouette. Of the two differences along
// each axis the one that stays on the same surface (the smaller change in depth) is taken.
double Light(const std::vector<float>& depth, size_t side, size_t x, size_t y, const TEye& eye) {
    auto covered = [&](size_t cx, size_t cy) { return depth[(side - 1 - cy) * side + cx] < 1.0f; };
    double p[3], a[3], b[3], dx[3], dy[3];
    eye.At(double(x), double(y), depth[(side - 1 - y) * side + x], p);
    auto difference = [&](bool alongX, double d[3]) {
        bool have = false;
        for (int step : {-1, 1}) {
            const long nx = long(x) + (alongX ? step : 0), ny = long(y) + (alongX ? 0 : step);
            if (nx < 0 || ny < 0 || size_t(nx) >= side || size_t(ny) >= side || !covered(size_t(nx), size_t(ny)))
                continue;
            eye.At(double(nx), double(ny), depth[(side - 1 - size_t(ny)) * side + size_t(nx)], a);
            for (int i = 0; i < 3; ++i) b[i] = (a[i] - p[i]) * step;
            if (!have || std::fabs(b[2]) < std::fabs(d[2])) std::copy(b, b + 3, d);
            have = true;
        }
        return have;
    };
    if (!difference(true, dx) || !difference(false, dy)) return 1.0;
    double normal[3] = {dx[1] * dy[2] - dx[2] * dy[1], dx[2] * dy[0] - dx[0] * dy[2], dx[0] * dy[1] - dx[1] * dy[0]};
    const double length = std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    if (!(length > 0)) return 1.0;
    // towards the eye, which looks from the origin at p
    const double facing = -(normal[0] * p[0] + normal[1] * p[1] + normal[2] * p[2]);
    const double sign = facing < 0 ? -1.0 : 1.0;
    static const double kLight[3] = {-0.38, 0.56, 0.74};  // unit length
    const double lit = sign * (normal[0] * kLight[0] + normal[1] * kLight[1] + normal[2] * kLight[2]) / length;
    return 0.35 + 0.65 * std::max(lit, 0.0);
}

}  // namespace

TFrameView ThumbnailView() {
    TFrameView view;
    view.xRot = false;
    view.wireframe = false;
    view.boxes = false;
    view.axes = false;
    view.projection = false;  // its own frustum, which fills the picture
    view.selection = TSelectionDisplay::kNone;
    view.pull = 4;
    view.orbit.yaw = kThumbnailYaw;
    view.orbit.pitch = kThumbnailPitch;
    return view;
}

bool FrameModel(const TKGLModel& model, const TFrameView& view, double margin, TFrustum& frustum) {
    if (!(model.diagonal > 0) || !std::isfinite(model.diagonal)) return false;
    // The model-view of DrawFrame's step 2, in double.
    TRotation r;
    r = Turned(r, view.orbit.pitch, 0);
    r = Turned(r, view.orbit.yaw, 1);
    if (view.xRot) r = Turned(r, 90, 0);
    r = Turned(r, view.rotationAngle, 1);
    const double shift[3] = {view.orbit.panX, view.orbit.panY, CameraZ(model, view)};
    const double centre[3] = {model.center.x, model.center.y, model.center.z};

    constexpr double kHuge = std::numeric_limits<double>::infinity();
    double uMin = kHuge, uMax = -kHuge, vMin = kHuge, vMax = -kHuge, dMin = kHuge, dMax = -kHuge;
    bool behind = false;
    const size_t vertices = model.vertices.size();
    ForEachFace(model, 1, [&](const TGroup&, int32_t, const TFace& face, int32_t) {
        if (!face.visible) return;
        const uint32_t corners = ReadableCorners(face);
        for (uint32_t k = 0; k < corners; ++k) {
            const int32_t v = face.vIdx[k];
            if (v < 0 || static_cast<size_t>(v) >= vertices) continue;
            const TVertex& p = model.vertices[static_cast<size_t>(v)];
            const double q[3] = {p.x - centre[0], p.y - centre[1], p.z - centre[2]};
            double e[3];
            for (int i = 0; i < 3; ++i) e[i] = r.m[i][0] * q[0] + r.m[i][1] * q[1] + r.m[i][2] * q[2] + shift[i];
            const double depth = -e[2];
            if (!(depth > 0)) {
                behind = true;
                continue;
            }
            const double u = e[0] / depth, w = e[1] / depth;
            uMin = std::min(uMin, u), uMax = std::max(uMax, u);
            vMin = std::min(vMin, w), vMax = std::max(vMax, w);
            dMin = std::min(dMin, depth), dMax = std::max(dMax, depth);
        }
    });
    if (behind || !(dMin <= dMax)) return false;
    // Half the window's side in tangents of the view angle; never nothing, so that a
    // model seen edge-on still gets a window (and draws nothing, which is refused later).
    const double span = std::max(uMax - uMin, vMax - vMin);
    const double half = std::max(span / 2 / (1 - 2 * margin), 1e-9);
    const double cu = (uMin + uMax) / 2, cv = (vMin + vMax) / 2;
    frustum.zNear = dMin * 0.9;
    frustum.zFar = dMax * 1.1;
    frustum.left = (cu - half) * frustum.zNear;
    frustum.right = (cu + half) * frustum.zNear;
    frustum.bottom = (cv - half) * frustum.zNear;
    frustum.top = (cv + half) * frustum.zNear;
    return true;
}

bool RenderThumbnail(TKGLModel& model, int32_t size, const std::string& checkerFolder, TRgbaPicture& picture,
                     std::string& why) {
    TFrameView view = ThumbnailView();
    TFrustum frustum;
    if (!FrameModel(model, view, kThumbnailMargin, frustum)) {
        why = "the model has no visible face of any extent to picture";
        return false;
    }
    // Samples per side of a pixel: four, as long as the drawing stays within 2048 a side.
    const int32_t k = std::clamp(2048 / size, 1, 4);
    const int32_t side = size * k;
    TOffscreenContext context(side, side);
    if (!context.ok()) {
        why = "no offscreen OpenGL context (OSMesa) of " + std::to_string(side) + " x " + std::to_string(side) +
              " could be made";
        return false;
    }
    context.setViewProjection();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(frustum.left, frustum.right, frustum.bottom, frustum.top, frustum.zNear, frustum.zFar);
    glMatrixMode(GL_MODELVIEW);
    TRenderOptions options;
    options.checkerFolder = checkerFolder;
    view.texture = MakeRenderTexture(options);
    SetEditorFrameState(model, view);
    DrawFrame(model, view);

    const std::vector<uint8_t> rgb = context.rowsTopFirst();
    const size_t n = static_cast<size_t>(side);
    // The depth buffer tells the model from the background exactly (the clear depth is
    // 1, the far plane lies behind the model); its rows run from the bottom.
    std::vector<float> depth(n * n);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, side, side, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());

    const TEye eye{frustum, double(side)};
    TRgbaPicture out;
    out.width = out.height = size;
    out.rgba.assign(static_cast<size_t>(size) * static_cast<size_t>(size) * 4, 0);
    bool drawn = false;
    const uint32_t samples = static_cast<uint32_t>(k * k);
    for (int32_t oy = 0; oy < size; ++oy)
        for (int32_t ox = 0; ox < size; ++ox) {
            uint32_t covered = 0, sum[3] = {0, 0, 0};
            for (int32_t sy = 0; sy < k; ++sy) {
                const size_t y = static_cast<size_t>(oy * k + sy);
                for (int32_t sx = 0; sx < k; ++sx) {
                    const size_t x = static_cast<size_t>(ox * k + sx);
                    if (!(depth[(n - 1 - y) * n + x] < 1.0f)) continue;
                    ++covered;
                    const double light = Light(depth, n, x, y, eye);
                    for (int c = 0; c < 3; ++c)
                        sum[c] += static_cast<uint32_t>(rgb[(y * n + x) * 3 + static_cast<size_t>(c)] * light + 0.5);
                }
            }
            if (covered == 0) continue;
            drawn = true;
            uint8_t* px =
                &out.rgba[(static_cast<size_t>(oy) * static_cast<size_t>(size) + static_cast<size_t>(ox)) * 4];
            for (int c = 0; c < 3; ++c) px[c] = static_cast<uint8_t>((sum[c] + covered / 2) / covered);
            px[3] = static_cast<uint8_t>((255 * covered + samples / 2) / samples);
        }
    if (!drawn) {
        why = "nothing of the model was drawn";
        return false;
    }
    picture = std::move(out);
    return true;
}

}  // namespace kgl
