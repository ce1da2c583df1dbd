#include "OpenGlPanel.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QResizeEvent>
#include <QSurfaceFormat>
#include <QWheelEvent>

#include <GL/gl.h>

#include <cmath>
#include <exception>
#include <string>

#include "Application.h"
#include "KGLDisplay.h"

namespace {

QSurfaceFormat PanelFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    // The drawing code is OpenGL 1.1 fixed function: a compatibility profile.
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setVersion(2, 1);
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    format.setAlphaBufferSize(8);
    format.setDepthBufferSize(24);
    format.setSamples(0);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    return format;
}

// A zero-interval timer for a program that runs a plain QApplication: the panel
// then drives its own idle passes.
class TFallbackIdle : public QObject {
public:
    explicit TFallbackIdle(TOpenGlBasePanel* panel) : QObject(panel) {
        timer_.setInterval(0);
        connect(&timer_, &QTimer::timeout, this, [panel] {
            bool done = true;
            panel->IdleHandler(QCoreApplication::instance(), done);
        });
        timer_.start();
    }

private:
    QTimer timer_;
};

}  // namespace

namespace {
// The idle handler a panel installs; a named type so that the panel can tell, when
// it goes, whether the application's handler is still its own.
struct TPanelIdle {
    TOpenGlBasePanel* panel;
    void operator()(QObject* sender, bool& done) const { panel->IdleHandler(sender, done); }
};
}  // namespace

TOpenGlBasePanel::TOpenGlBasePanel(QWidget* owner) : QOpenGLWidget(owner) {
    setFormat(PanelFormat());
    // Delphi-style mouse moves: reported with or without a held button.
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    // The frame is redrawn whole every pass, so what the previous one left is of no use.
    setUpdateBehavior(QOpenGLWidget::NoPartialUpdate);
}

TOpenGlBasePanel::~TOpenGlBasePanel() {
    if (TApplication* app = TApplication::Instance()) {
        const TPanelIdle* idle = app->OnIdle().target<TPanelIdle>();
        if (idle && idle->panel == this) app->SetOnIdle({});
    }
    if (FOffscreen) {
        makeCurrent();
        delete FOffscreen;
        FOffscreen = nullptr;
        doneCurrent();
    }
}

int TOpenGlBasePanel::PixelWidth() const { return static_cast<int>(std::lround(width() * devicePixelRatioF())); }
int TOpenGlBasePanel::PixelHeight() const { return static_cast<int>(std::lround(height() * devicePixelRatioF())); }

void TOpenGlBasePanel::EnsureContext() {
    if (context()) return;
    // QOpenGLWidget makes its context on its first resize event, which Qt holds
    // back from a hidden widget until the window is first shown. Delivering that
    // event ourselves makes the context now; but the top-level window must have its
    // native window (and with it the compositor's GL context) first, or the panel's
    // context does not share with the compositor and its frames never reach the
    // screen. Both steps leave the window hidden (Qt 6.4, xcb).
    window()->winId();
    if (size().isEmpty()) resize(qMax(width(), 1), qMax(height(), 1));
    QResizeEvent event(size(), size());
    QCoreApplication::sendEvent(this, &event);
}

void TOpenGlBasePanel::InitGL() {
    FInitialized = true;
    EnsureContext();
    makeCurrent();
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glShadeModel(GL_SMOOTH);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glEnable(GL_TEXTURE_2D);
    Resize();
    if (TApplication* app = TApplication::Instance()) {
        app->SetOnIdle(TPanelIdle{this});
    } else if (!FFallbackIdle) {
        FFallbackIdle = new TFallbackIdle(this);
    }
}

void TOpenGlBasePanel::initializeGL() {
    // Nothing of the fixed state here: InitGL sets it once, as the owner asks for it.
}

void TOpenGlBasePanel::resizeGL(int, int) {
    // Called by Qt with the context current after the framebuffer has been resized.
    if (FInitialized) Resize();
}

void TOpenGlBasePanel::Resize() {
    if (!context()) return;
    const int w = PixelWidth();
    const int h = PixelHeight();
    kgl::SetFrameProjection(w, h);
    if (OnResize) OnResize();
}

void TOpenGlBasePanel::Paint() {}

void TOpenGlBasePanel::paintGL() {
    Guarded(
        [this] {
            Paint();
            if (FInitialized && glDraw) {
                TApplication* app = TApplication::Instance();
                // While the error dialog of a previous frame is up, draw nothing: a
                // handler that fails every frame would only fail again.
                if (!app || !app->ShowingException()) {
                    glDraw(this);
                    FPresented = true;
                }
            }
        },
        true);
}

void TOpenGlBasePanel::IdleHandler(QObject*, bool& done) {
    // A synchronous repaint: paintGL raises glDraw and Qt composes and presents the
    // frame before the next pass. Hidden or not yet initialised, nothing is drawn.
    if (FInitialized && isVisible() && context()) repaint();
    done = false;
}

void TOpenGlBasePanel::RunOffscreen(const std::function<void()>& fn) {
    if (!context()) return;
    makeCurrent();
    const QSize pixels(qMax(PixelWidth(), 1), qMax(PixelHeight(), 1));
    if (!FOffscreen || FOffscreen->size() != pixels) {
        delete FOffscreen;
        QOpenGLFramebufferObjectFormat format;
        // Depth and stencil as one 24 + 8 renderbuffer: the only way to be sure of 24 depth bits.
        format.setAttachment(QOpenGLFramebufferObject::CombinedDepthStencil);
        format.setSamples(0);
        format.setInternalTextureFormat(GL_RGBA8);
        FOffscreen = new QOpenGLFramebufferObject(pixels, format);
    }
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    FOffscreen->bind();
    glViewport(0, 0, pixels.width(), pixels.height());
    struct TRestore {
        TOpenGlBasePanel* panel;
        GLint* viewport;
        ~TRestore() {
            QOpenGLContext::currentContext()->functions()->glBindFramebuffer(GL_FRAMEBUFFER,
                                                                             panel->defaultFramebufferObject());
            glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
        }
    } restore{this, viewport};
    fn();
}

QImage TOpenGlBasePanel::PresentedFrame() {
    if (!context() || !FPresented) return QImage();
    makeCurrent();
    const int w = qMax(PixelWidth(), 1), h = qMax(PixelHeight(), 1);
    QImage rgba(w, h, QImage::Format_RGBA8888);
    GLint bound = 0, alignment = 4;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
    QOpenGLFunctions* gl = context()->functions();
    gl->glBindFramebuffer(GL_FRAMEBUFFER, defaultFramebufferObject());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);  // QImage rows are 32-bit aligned
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.bits());
    glPixelStorei(GL_PACK_ALIGNMENT, alignment);
    gl->glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(bound));
    // GL rows run bottom up; the blending leaves alpha below 1 where translucent lines
    // were drawn, which the window does not show: the picture is opaque.
    return rgba.mirrored().convertToFormat(QImage::Format_RGB888);
}

void TOpenGlBasePanel::Guarded(const std::function<void()>& fn, bool insidePaint) {
    std::string failure;
    try {
        fn();
        return;
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = kUnknownExceptionText;
    }
    TApplication* app = TApplication::Instance();
    if (!app) return;  // no error dialog without the application object; the loop goes on
    if (insidePaint)
        app->PostException(failure);
    else
        app->ShowException(failure);
}

void TOpenGlBasePanel::keyPressEvent(QKeyEvent* event) {
    if (Onkeydown)
        Guarded([&] { Onkeydown(event); }, false);
    else
        QOpenGLWidget::keyPressEvent(event);
}

void TOpenGlBasePanel::mousePressEvent(QMouseEvent* event) {
    if (OnMouseDown)
        Guarded([&] { OnMouseDown(event); }, false);
    else
        QOpenGLWidget::mousePressEvent(event);
}

void TOpenGlBasePanel::mouseMoveEvent(QMouseEvent* event) {
    if (OnMouseMove)
        Guarded([&] { OnMouseMove(event); }, false);
    else
        QOpenGLWidget::mouseMoveEvent(event);
}

void TOpenGlBasePanel::mouseReleaseEvent(QMouseEvent* event) {
    if (OnMouseUp)
        Guarded([&] { OnMouseUp(event); }, false);
    else
        QOpenGLWidget::mouseReleaseEvent(event);
}

void TOpenGlBasePanel::mouseDoubleClickEvent(QMouseEvent* event) {
    QOpenGLWidget::mouseDoubleClickEvent(event);  // a press as well, as it always was
    if (OnMouseDoubleClick) Guarded([&] { OnMouseDoubleClick(event); }, false);
}

void TOpenGlBasePanel::wheelEvent(QWheelEvent* event) {
    if (OnMouseWheel)
        Guarded([&] { OnMouseWheel(event); }, false);
    else
        QOpenGLWidget::wheelEvent(event);
}

TOpenGlPanel::TOpenGlPanel(QWidget* owner) : TOpenGlBasePanel(owner) { setCursor(Qt::BlankCursor); }

void TOpenGlPanel::SetWireFrame(bool value) {
    FWireFrame = value;
    if (!context()) return;
    makeCurrent();
    Paint();
}

void TOpenGlPanel::Paint() {
    TOpenGlBasePanel::Paint();
    if (FWireFrame)
        glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    else
        glPolygonMode(GL_FRONT, GL_FILL);
}
