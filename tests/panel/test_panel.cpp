// The OpenGL panel and the toolkit services on a real window under X (Xvfb in CI).
#include <QMessageBox>
#include <QOpenGLContext>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWidget>

#include <GL/gl.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "Application.h"
#include "OpenGlPanel.h"
#include "messages.h"

namespace {

// gluPerspective's matrix, column-major as glGetDoublev returns it.
std::vector<double> Perspective(double fovy, double aspect, double zNear, double zFar) {
    const double f = 1.0 / std::tan(fovy * M_PI / 360.0);
    std::vector<double> m(16, 0.0);
    m[0] = f / aspect;
    m[5] = f;
    m[10] = (zFar + zNear) / (zNear - zFar);
    m[11] = -1.0;
    m[14] = 2.0 * zFar * zNear / (zNear - zFar);
    return m;
}

std::vector<double> Projection() {
    std::vector<double> m(16);
    glGetDoublev(GL_PROJECTION_MATRIX, m.data());
    return m;
}

bool SameMatrix(const std::vector<double>& a, const std::vector<double>& b) {
    for (int i = 0; i < 16; ++i)
        if (std::fabs(a[i] - b[i]) > 1e-5) return false;
    return true;
}

std::vector<int> Viewport() {
    std::vector<int> v(4);
    glGetIntegerv(GL_VIEWPORT, v.data());
    return v;
}

// A top-level window holding one panel that fills it, as the editor lays it out.
struct TWindow {
    QWidget top;
    TOpenGlPanel* panel;
    TWindow() : panel(new TOpenGlPanel(&top)) {
        auto* layout = new QVBoxLayout(&top);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(panel);
        top.resize(320, 240);
    }
};

// Colour of the pixel at (x, y) of what the X server shows for widget w.
QColor ScreenPixel(QWidget* w, int x, int y) {
    QPixmap shot = w->screen()->grabWindow(w->window()->winId());
    QPoint p = w->mapTo(w->window(), QPoint(x, y)) * shot.devicePixelRatio();
    return shot.toImage().pixelColor(p);
}

}  // namespace

class TPanelTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        recorded.clear();
        TApplication::Instance()->SetErrorDialog([this](const std::string& text) { recorded.push_back(text); });
    }
    void cleanup() { TApplication::Instance()->SetErrorDialog({}); }

    void initGLMakesACurrentContextBeforeTheWindowIsShown() {
        TWindow w;
        QVERIFY(!w.panel->context());
        w.panel->InitGL();
        QVERIFY(!w.top.isVisible());
        QVERIFY(w.panel->context());
        QCOMPARE(QOpenGLContext::currentContext(), w.panel->context());
        QSurfaceFormat f = w.panel->context()->format();
        QVERIFY(f.depthBufferSize() >= 24);
        QCOMPARE(f.redBufferSize(), 8);
        QVERIFY(f.profile() != QSurfaceFormat::CoreProfile);
        // Fixed state of InitGL.
        QVERIFY(glIsEnabled(GL_DEPTH_TEST));
        QVERIFY(glIsEnabled(GL_TEXTURE_2D));
        QVERIFY(!glIsEnabled(GL_BLEND));
        GLint v = 0;
        glGetIntegerv(GL_DEPTH_FUNC, &v);
        QCOMPARE(v, GL_LESS);
        glGetIntegerv(GL_BLEND_DST, &v);
        QCOMPARE(v, GL_ONE);
        glGetIntegerv(GL_SHADE_MODEL, &v);
        QCOMPARE(v, GL_SMOOTH);
        glGetIntegerv(GL_MATRIX_MODE, &v);
        QCOMPARE(v, GL_MODELVIEW);
        // Viewport and projection from the size in device pixels.
        const int pw = w.panel->PixelWidth(), ph = w.panel->PixelHeight();
        QVERIFY(pw > 0 && ph > 0);
        QCOMPARE(Viewport(), (std::vector<int>{0, 0, pw, ph}));
        QVERIFY(SameMatrix(Projection(), Perspective(45.0, double(pw) / ph, 1.0, 500.0)));
    }

    // Regression: a context made while hidden must survive the first show, with the
    // texture the owner made in it right after InitGL.
    void aTextureMadeBeforeShowSurvivesTheShow() {
        TWindow w;
        w.panel->InitGL();
        QOpenGLContext* before = w.panel->context();
        GLuint tex = 0;
        glGenTextures(1, &tex);
        glBindTexture(GL_TEXTURE_2D, tex);
        const unsigned char texel[4] = {1, 2, 3, 4};
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
        w.panel->glDraw = [](TOpenGlBasePanel*) {
            glClearColor(1.0f, 0.0f, 1.0f, 1.0f);
            glClear(GL_COLOR_BUFFER_BIT);
        };
        w.top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.top));
        // What it draws reaches the screen ...
        QTRY_COMPARE(ScreenPixel(w.panel, 10, 10), QColor(255, 0, 255));
        // ... from the context made before the show.
        QCOMPARE(w.panel->context(), before);
        w.panel->makeCurrent();
        QVERIFY(glIsTexture(tex));
    }

    void resizingUpdatesViewportAndProjection() {
        TWindow w;
        w.panel->InitGL();
        w.top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.top));
        w.top.resize(400, 200);
        QTRY_COMPARE(w.panel->width(), 400);
        const int pw = w.panel->PixelWidth(), ph = w.panel->PixelHeight();
        auto viewport = [&w] {
            w.panel->makeCurrent();
            return Viewport();
        };
        QTRY_COMPARE(viewport(), (std::vector<int>{0, 0, pw, ph}));
        QVERIFY(SameMatrix(Projection(), Perspective(45.0, double(pw) / ph, 1.0, 500.0)));
        GLint mode = 0;
        glGetIntegerv(GL_MATRIX_MODE, &mode);
        QCOMPARE(mode, GL_MODELVIEW);
    }

    // Regression: a zero height used to divide by zero in the aspect ratio.
    void zeroHeightKeepsTheLastProjection() {
        TWindow w;
        w.panel->InitGL();
        std::vector<double> last = Projection();
        w.panel->setMinimumHeight(0);
        w.panel->resize(w.panel->width(), 0);
        w.panel->makeCurrent();
        w.panel->Resize();
        QCOMPARE(Viewport()[3], 0);
        std::vector<double> now = Projection();
        QVERIFY(SameMatrix(now, last));
        for (double x : now) QVERIFY(std::isfinite(x));
    }

    void glDrawIsRaisedOnEveryIdlePassAndPresented() {
        TWindow w;
        int draws = 0;
        w.panel->glDraw = [&](TOpenGlBasePanel* sender) {
            QCOMPARE(sender, static_cast<TOpenGlBasePanel*>(w.panel));
            ++draws;
            glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        };
        w.top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.top));
        // Without InitGL the panel raises nothing, even when made to paint, and has no
        // frame to give.
        w.panel->grabFramebuffer();
        QCOMPARE(draws, 0);
        QVERIFY(w.panel->PresentedFrame().isNull());
        w.panel->InitGL();
        TApplication* app = TApplication::Instance();
        long long passes0 = app->IdlePasses();
        QTRY_VERIFY(draws > 10);
        long long passes = app->IdlePasses() - passes0;
        // One glDraw per idle pass; window-system repaints may add a few.
        QVERIFY2(draws >= passes - 1, qPrintable(QString("%1 draws, %2 passes").arg(draws).arg(passes)));
        QVERIFY2(draws <= passes + 5, qPrintable(QString("%1 draws, %2 passes").arg(draws).arg(passes)));
        QTRY_COMPARE(ScreenPixel(w.panel, 10, 10), QColor(0, 255, 0));
        // The frame as presented, read back without drawing another.
        const int drawn = draws;
        const QImage frame = w.panel->PresentedFrame();
        QCOMPARE(draws, drawn);
        QCOMPARE(frame.size(), QSize(w.panel->PixelWidth(), w.panel->PixelHeight()));
        QCOMPARE(frame.pixelColor(10, 10), QColor(0, 255, 0));
    }

    void wireFrameSwitchesThePolygonModeAtOnce() {
        TWindow w;
        w.panel->SetWireFrame(true);  // before InitGL: only recorded
        QVERIFY(w.panel->WireFrame());
        w.panel->InitGL();
        w.panel->SetWireFrame(true);
        GLint modes[2] = {0, 0};
        glGetIntegerv(GL_POLYGON_MODE, modes);
        QCOMPARE(modes[0], GL_LINE);
        QCOMPARE(modes[1], GL_LINE);
        w.panel->SetWireFrame(false);
        glGetIntegerv(GL_POLYGON_MODE, modes);
        QCOMPARE(modes[0], GL_FILL);
        QCOMPARE(modes[1], GL_LINE);  // back faces stay as they were
    }

    void runOffscreenIsNeverPresented() {
        TWindow w;
        int draws = 0;
        w.panel->glDraw = [&draws](TOpenGlBasePanel*) {
            ++draws;
            glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        };
        w.panel->InitGL();
        w.top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.top));
        QTRY_COMPARE(ScreenPixel(w.panel, 5, 5), QColor(0, 0, 255));
        unsigned char px[4] = {0, 0, 0, 0};
        GLint depthBits = 0, samples = -1;
        std::vector<int> vp;
        w.panel->RunOffscreen([&] {
            vp = Viewport();
            glGetIntegerv(GL_DEPTH_BITS, &depthBits);
            glGetIntegerv(GL_SAMPLES, &samples);
            glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
            glClear(GL_COLOR_BUFFER_BIT);
            glReadPixels(5, 5, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
        });
        QCOMPARE(vp, (std::vector<int>{0, 0, w.panel->PixelWidth(), w.panel->PixelHeight()}));
        QCOMPARE(int(px[0]), 255);
        QCOMPARE(int(px[2]), 0);
        QVERIFY(depthBits >= 24);
        QCOMPARE(samples, 0);
        // Frames drawn after it still show the view's blue.
        const int drawn = draws;
        QTRY_VERIFY(draws >= drawn + 3);
        QCOMPARE(ScreenPixel(w.panel, 5, 5), QColor(0, 0, 255));
        // An exception inside fn still restores the view's framebuffer.
        bool thrown = false;
        try {
            w.panel->RunOffscreen([] { throw std::runtime_error("pick failed"); });
        } catch (const std::runtime_error&) {
            thrown = true;
        }
        QVERIFY(thrown);
        GLint fbo = -1;
        glGetIntegerv(GL_FRAMEBUFFER_BINDING, &fbo);
        QCOMPARE(GLuint(fbo), w.panel->defaultFramebufferObject());
    }

    // The real dialog, closed by the test: an exception escaping a handler shows its
    // message in a modal box and the loop goes on.
    void anEscapedExceptionShowsTheErrorDialogAndTheLoopGoesOn() {
        TApplication::Instance()->SetErrorDialog({});
        QString shown;
        QTimer closer;
        closer.setInterval(10);
        connect(&closer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                box->accept();
            }
        });
        closer.start();
        QTimer::singleShot(0, [] { throw std::runtime_error("Range check error"); });
        QTRY_COMPARE(shown, QString("Range check error"));
        int later = 0;
        QTimer::singleShot(0, [&] { ++later; });
        QTRY_COMPARE(later, 1);
    }

    void aThrowingGlDrawIsReportedOnceAndDrawingResumes() {
        TWindow w;
        int draws = 0;
        w.panel->glDraw = [&](TOpenGlBasePanel*) {
            if (++draws == 3) throw std::runtime_error("draw failed");
        };
        w.panel->InitGL();
        w.top.show();
        QTRY_VERIFY(draws > 20);
        QCOMPARE(recorded.size(), size_t(1));
        QCOMPARE(recorded[0], std::string("draw failed"));
    }

    void aThrowingMouseHandlerIsReported() {
        TWindow w;
        w.panel->OnMouseDown = [](QMouseEvent*) { throw 42; };
        w.panel->InitGL();
        w.top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.top));
        QTest::mousePress(w.panel, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(recorded.size(), size_t(1));
        QCOMPARE(recorded[0], std::string(kUnknownExceptionText));
        w.panel->OnMouseWheel = [](QWheelEvent*) { throw 42; };
        QWheelEvent wheel(QPointF(10, 10), w.panel->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(w.panel, &wheel);
        QCOMPARE(recorded.size(), size_t(2));
    }

    void theIdleEventStopsWhenDoneIsSetAndComesBackAfterAnEvent() {
        TApplication* app = TApplication::Instance();
        int raised = 0;
        TIdleEvent previous = app->SetOnIdle([&](QObject* sender, bool& done) {
            QCOMPARE(sender, static_cast<QObject*>(app));
            ++raised;
            done = true;
        });
        QTRY_VERIFY(raised >= 1);
        const int settled = raised;
        QTimer::singleShot(0, [] {});
        QTRY_VERIFY(raised > settled);
        app->SetOnIdle(std::move(previous));
    }

    void theLastPanelInitialisedDrivesTheLoop() {
        TApplication* app = TApplication::Instance();
        TWindow second;
        int firstDraws = 0, secondDraws = 0;
        second.panel->glDraw = [&](TOpenGlBasePanel*) { ++secondDraws; };
        {
            TWindow first;
            first.panel->glDraw = [&](TOpenGlBasePanel*) { ++firstDraws; };
            first.panel->InitGL();
            second.panel->InitGL();
            first.top.show();
            second.top.show();
            QVERIFY(QTest::qWaitForWindowExposed(&second.top));
            QTRY_VERIFY(secondDraws > 10);
            QVERIFY(firstDraws < 5);  // only window-system repaints
        }                             // the first goes; the loop is not its to stop
        QVERIFY(app->OnIdle());
        const int before = secondDraws;
        QTRY_VERIFY(secondDraws > before + 3);
    }

    void aThrowingIdleHandlerIsReportedAndTheIdleEventGoesOn() {
        TApplication* app = TApplication::Instance();
        int raised = 0;
        TIdleEvent previous = app->SetOnIdle([&](QObject*, bool& done) {
            done = false;
            if (++raised == 2) throw std::runtime_error("idle failed");
        });
        QTRY_VERIFY(raised > 10);
        app->SetOnIdle(std::move(previous));
        QCOMPARE(recorded.size(), size_t(1));
        QCOMPARE(recorded[0], std::string("idle failed"));
    }

    void messagesGoToTheInstalledHandler() {
        std::vector<std::string> seen;
        kgl::TMessageHandler previous =
            kgl::SetMessageHandler([&](const std::string& c, const std::string& t) { seen.push_back(c + "|" + t); });
        kgl::ShowMessage("Error opening x.bmp", "BMP Unit");
        kgl::SetMessageHandler(std::move(previous));
        QCOMPARE(seen.size(), size_t(1));
        QCOMPARE(seen[0], std::string("BMP Unit|Error opening x.bmp"));
    }

private:
    std::vector<std::string> recorded;
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TPanelTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_panel.moc"
