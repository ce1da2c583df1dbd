// The camera in hand: the orbit and pan arithmetic, and where the frame puts the
// model's centre once they are applied.
#include <GL/glu.h>

#include <algorithm>
#include <cmath>

#include "display_fixture.h"

using namespace kgl;
using namespace kgl::test;

TEST(Camera, OrbitTurnsByHalfADegreeAPixelAndWraps) {
    struct TCase {
        TOrbit from;
        double dx, dy;
        double yaw, pitch;
    };
    for (const TCase& c : {TCase{{}, 10, -4, 5, -2}, TCase{{170, 0, 0, 0}, 40, 0, -170, 0},
                           TCase{{0, -175, 0, 0}, 0, -20, 0, 175}, TCase{{30, 40, 1, 2}, 0, 0, 30, 40}}) {
        const TOrbit o = Orbited(c.from, c.dx, c.dy);
        EXPECT_DOUBLE_EQ(o.yaw, c.yaw);
        EXPECT_DOUBLE_EQ(o.pitch, c.pitch);
        EXPECT_EQ(o.panX, c.from.panX);  // a turn moves nothing across the view
    }
    // A pan at depth 10 in a view 100 pixels high: 2 tan(22.5) x 10 / 100 units a pixel.
    const double k = 2 * std::tan(22.5 * M_PI / 180) * 10 / 100;
    TOrbit p = Panned({}, 10, 20, 100, 10);
    EXPECT_DOUBLE_EQ(p.panX, 10 * k);
    EXPECT_DOUBLE_EQ(p.panY, -20 * k);                                    // down the screen is down the view
    EXPECT_DOUBLE_EQ(Panned({}, 10, 0, 100, 0.05).panX, 10 * k * 0.005);  // a tiny model pans at its own depth
    EXPECT_DOUBLE_EQ(Panned({}, 10, 0, 100, -3).panX, 10 * k * 0.3);      // a centre behind the eye as in front
    EXPECT_TRUE(Panned({}, 10, 20, 0, 10).AtRest());
}

namespace {

// A model that is its box: one square of side `side` in the x-y plane about the origin,
// measures as a load gives them.
TKGLModel Square(float side) {
    TModelBuilder b;
    b.Group();
    b.Rect(-side / 2, -side / 2, side / 2, side / 2);
    TKGLModel m = b.Finish();
    m.center = {0, 0, 0};
    m.diagonal = m.scale = std::sqrt(2.0) * side;
    return m;
}

// The start view's model-view: the camera one diagonal in front (and dz nearer).
std::array<double, 16> StartView(const TKGLModel& m, double dz = 0) {
    std::array<double, 16> mv{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    mv[14] = -m.diagonal + dz;
    return mv;
}

}  // namespace

// The planes stay 1 and 500 while the model's box lies between them, and otherwise hold
// the box with room to spare, near never below far / 4096.
TEST(Camera, PlanesFollowTheModelOnlyWhereTheFixedOnesCannotShowIt) {
    const TDepthPlanes fixed;
    for (const float side : {1.5f, 2.0f, 300.0f})
        EXPECT_EQ(FramePlanes(Square(side), StartView(Square(side)).data()), fixed) << side;
    struct TCase {
        float side;
        double dz;  // the camera this much nearer than the start view
    };
    for (const TCase c :
         {TCase{0.05f, 0}, TCase{0.5f, 0}, TCase{5000, 0}, TCase{1e6f, 0}, TCase{2, 2.5}, TCase{1, 0.5}}) {
        const TKGLModel m = Square(c.side);
        const double depth = m.diagonal - c.dz;  // the square lies flat at the centre's depth
        const TDepthPlanes p = FramePlanes(m, StartView(m, c.dz).data());
        EXPECT_FALSE(p == fixed) << c.side;
        EXPECT_LT(p.nearPlane, std::max(depth, p.farPlane / TDepthPlanes::kMostFarOverNear) + 1e-12) << c.side;
        EXPECT_GT(p.farPlane, depth) << c.side;
        EXPECT_GE(p.nearPlane * TDepthPlanes::kMostFarOverNear, p.farPlane * (1 - 1e-12)) << c.side;
    }
    // nothing to frame: an empty model, a model wholly behind the eye
    TKGLModel empty;
    InitModel(empty);
    EXPECT_EQ(FramePlanes(empty, StartView(Square(1)).data()), fixed);
    EXPECT_EQ(FramePlanes(Square(1), StartView(Square(1), 10).data()), fixed);
}

// A notch moves the samples by a step of the second track bar, as it always did, and a
// model of diagonal 0.05 or 5000 by a tenth of the way, both ways.
TEST(Camera, TheWheelMovesEveryModelSizeBySteps) {
    struct TCase {
        float side;
        int32_t push;       // the second track bar before
        long long notches;  // up: nearer
        int32_t pushAfter;
        double distanceAfter;  // of the model's centre from the eye
    };
    const double d2 = Square(2.45f).diagonal, d05 = Square(0.05f).diagonal, d5000 = Square(5000).diagonal;
    const TCase cases[] = {
        {2.45f, 0, 1, 1, d2 - 1},                     // a sample: the track bar
        {2.45f, 1, -1, 0, d2},                        // and back
        {0.05f, 0, 3, 0, d05 * 0.9 * 0.9 * 0.9},      // tiny: a tenth nearer a notch
        {0.05f, 0, -2, 0, d05 / 0.9 / 0.9},           // and as much farther
        {5000, 0, 2, 0, d5000 * 0.81},                // huge: the same shares
        {5000, 0, 40, 0, d5000 * std::pow(0.9, 40)},  // never past the centre
        {2.45f, 200, 1, 200, 0},                      // past the centre: a share of the diagonal
    };
    for (const TCase& c : cases) {
        const TKGLModel m = Square(c.side);
        TFrameView view;
        view.push = c.push;
        const TWheelStep step = WheelStep(m, view, c.notches, 0, 200);
        view.push = step.push;
        view.orbit.dolly = step.dolly;
        EXPECT_EQ(step.push, c.pushAfter) << c.side << " " << c.notches;
        if (c.push == 200)
            EXPECT_NEAR(step.dolly, kWheelShare * m.diagonal, 1e-9);
        else
            EXPECT_NEAR(-CameraZ(m, view), c.distanceAfter, 1e-9 * c.distanceAfter) << c.side << " " << c.notches;
    }
}

class CameraFrame : public DisplayTest {
protected:
    // Window position (x right, y up, z depth) of a model-space point in the frame as
    // last drawn.
    std::array<double, 3> Project(TVec3 p) {
        std::array<double, 16> mv{}, pr{};
        std::array<GLint, 4> vp{};
        glGetDoublev(GL_MODELVIEW_MATRIX, mv.data());
        glGetDoublev(GL_PROJECTION_MATRIX, pr.data());
        glGetIntegerv(GL_VIEWPORT, vp.data());
        std::array<double, 3> w{};
        gluProject(p.x, p.y, p.z, mv.data(), pr.data(), vp.data(), &w[0], &w[1], &w[2]);
        return w;
    }
};

TEST_F(CameraFrame, TheCentreFollowsThePanAndTheOrbitTurnsAboutIt) {
    TModelBuilder b;
    b.Group();
    b.Rect(1, 2, 3, 4);
    TKGLModel& m = b.Finish();
    m.center = {2, 3, 0};
    m.diagonal = 10;
    SetFrameProjection(kW, kH);
    TFrameView view;
    view.xRot = false;
    view.wireframe = view.boxes = false;
    auto near = [](double x, double y) { return std::fabs(x - y) < 1e-3; };

    DrawFrame(m, view);
    auto c = Project(m.center);
    EXPECT_TRUE(near(c[0], kW / 2.0) && near(c[1], kH / 2.0));

    // The centre moves with the pointer, pixel for pixel.
    view.orbit = Panned({}, 7, 5, kH, -CameraZ(m, view));
    DrawFrame(m, view);
    c = Project(m.center);
    EXPECT_TRUE(near(c[0], kW / 2.0 + 7)) << c[0];
    EXPECT_TRUE(near(c[1], kH / 2.0 - 5)) << c[1];

    // A quarter turn either way puts the point one unit right (or up) of the centre in
    // front of it: straight on the centre, nearer the eye.
    for (const auto& [dx, dy, offset] :
         {std::tuple{180.0, 0.0, TVec3{-1, 0, 0}}, std::tuple{0.0, 180.0, TVec3{0, 1, 0}}}) {
        view.orbit = Orbited({}, dx, dy);
        DrawFrame(m, view);
        const auto centre = Project(m.center);
        const auto p = Project({m.center.x + offset.x, m.center.y + offset.y, m.center.z + offset.z});
        EXPECT_TRUE(near(p[0], centre[0]) && near(p[1], centre[1])) << dx << " " << dy;
        EXPECT_LT(p[2], centre[2]);
    }
}

// Through the frame: a square of side 0.05 and one of side 5000 fill the middle of the
// picture, and one of side 2 or 300 is drawn with the projection the view always had.
TEST_F(CameraFrame, EveryModelSizeFillsTheViewAndTheFixedPlanesStay) {
    for (const float side : {0.05f, 5000.0f, 2.0f, 300.0f}) {
        TKGLModel m = Square(side);
        SetFrameProjection(kW, kH);
        TFrameView view;
        view.xRot = false;
        view.wireframe = view.boxes = false;
        DrawFrame(m, view);
        glFinish();
        EXPECT_EQ(At(kW / 2, kH / 2), kWhite) << side;  // the square, untextured
        EXPECT_EQ(At(kW / 2 + 8, kH / 2 + 8), kWhite) << side;
        std::array<double, 16> drawn{}, fixed{};
        glGetDoublev(GL_PROJECTION_MATRIX, drawn.data());
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(45.0, static_cast<double>(kW) / kH, 1.0, 500.0);
        glGetDoublev(GL_PROJECTION_MATRIX, fixed.data());
        glMatrixMode(GL_MODELVIEW);
        EXPECT_EQ(drawn == fixed, side == 2.0f || side == 300.0f) << side;
    }
}
