// The camera in hand: the orbit and pan arithmetic, and where the frame puts the
// model's centre once they are applied.
#include <GL/glu.h>

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
    EXPECT_DOUBLE_EQ(p.panY, -20 * k);                               // down the screen is down the view
    EXPECT_DOUBLE_EQ(Panned({}, 10, 0, 100, -3).panX, 10 * k / 10);  // nearer than the near plane
    EXPECT_TRUE(Panned({}, 10, 20, 0, 10).AtRest());
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
