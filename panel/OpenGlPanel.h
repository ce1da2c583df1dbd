#pragma once
// The OpenGL view control: owns the context, keeps viewport and projection matched
// to its size in device pixels, and drives the continuous redraw from the
// application's idle event (one glDraw per idle pass, then a presented frame).
//
// Mapping onto QOpenGLWidget:
// - The context is the widget's own (compatibility profile, 8-bit RGBA, 24-bit
//   depth, no multisampling); "the back buffer" is the widget's framebuffer object,
//   which Qt composes into the window when the widget is repainted.
// - InitGL creates that context at once, even while the window is still hidden,
//   and leaves it current: the owner may make GL calls (load a texture, set state)
//   right after it. Qt would otherwise create it only when the window is first shown.
// - Each idle pass repaints the widget synchronously: paintGL applies the polygon
//   mode (Paint) and raises glDraw, and Qt presents the frame. A repaint that the
//   window system asks for (expose) draws a frame the same way, so the screen never
//   shows a stale picture. glDraw is never raised before InitGL or while hidden.
// - glDraw runs inside paintGL: a handler must not quit the application or close
//   the window from there directly (Qt 6.4's xcb backend crashes); it queues the
//   call instead (QMetaObject::invokeMethod(..., Qt::QueuedConnection)).
// - An exception thrown by glDraw or by one of the input events below never
//   crosses Qt's frames: it is shown by the application's error dialog
//   (TApplication::ShowException, queued when raised inside a paint) and the loop
//   goes on.
#include <QImage>
#include <QOpenGLWidget>
#include <functional>

class QMouseEvent;
class QKeyEvent;
class QWheelEvent;
class QOpenGLFramebufferObject;

class TOpenGlBasePanel : public QOpenGLWidget {
    Q_OBJECT
public:
    // No GL call: the context is made by InitGL.
    explicit TOpenGlBasePanel(QWidget* owner = nullptr);
    // Clears the application's idle handler if this panel installed it, then
    // releases the offscreen framebuffer and the context.
    ~TOpenGlBasePanel() override;

    // Creates the context (even before the window is shown), makes it current,
    // sets the fixed state (clear colour black, smooth shading, clear depth 1,
    // depth test GL_LESS, nicest perspective hint, blend function GL_SRC_ALPHA,
    // GL_ONE with blending off, texturing on), calls Resize and installs
    // IdleHandler as the application's idle handler (replacing any other).
    // Called once by the owner; a second call only makes the context current.
    virtual void InitGL();
    // Raised once per idle pass (and on window-system repaints) with the panel as
    // sender, the context current and the view's framebuffer bound; draws the scene.
    std::function<void(TOpenGlBasePanel* sender)> glDraw;
    // Input events over the panel. Mouse moves are reported with or without a held
    // button (mouse tracking is on); the handler looks at event->buttons().
    std::function<void(QKeyEvent* event)> Onkeydown;
    std::function<void(QMouseEvent* event)> OnMouseDown;
    std::function<void(QMouseEvent* event)> OnMouseMove;
    // A button released over the panel (or wherever, after a press over it).
    std::function<void(QMouseEvent* event)> OnMouseUp;
    // The second press of a double click: raised after OnMouseDown, which sees it as a
    // press like any other.
    std::function<void(QMouseEvent* event)> OnMouseDoubleClick;
    // The wheel over the panel; the handler accepts the event or leaves it to the owner.
    std::function<void(QWheelEvent* event)> OnMouseWheel;
    // Raised by Resize after the viewport and projection are set (the control's own
    // resize event).
    std::function<void()> OnResize;

    // The idle handler: repaints the panel (raising glDraw and presenting the
    // frame) when it is visible and initialised, then sets done to false.
    void IdleHandler(QObject* sender, bool& done);

    // Makes the context current and runs fn with an offscreen framebuffer of the
    // view's device-pixel size bound (plain RGBA8 colour plus 24-bit depth, no
    // multisampling) and the viewport set to that size, so a pick image is never
    // presented; the view's framebuffer and viewport are restored afterwards, also
    // when fn throws (the exception then propagates). Does nothing before InitGL.
    void RunOffscreen(const std::function<void()>& fn);

    // The frame last presented, as the user sees it: the view's framebuffer read as
    // it stands (nothing is drawn for it; the pick images never reach that buffer),
    // device-pixel size, opaque RGB, top row first. A null image before InitGL or
    // before the first frame.
    QImage PresentedFrame();

    bool Initialized() const { return FInitialized; }
    // The size in device pixels (width() and height() times devicePixelRatio()).
    int PixelWidth() const;
    int PixelHeight() const;

    // glViewport(0, 0, PixelWidth, PixelHeight); when PixelHeight is not zero, the
    // projection is rebuilt from identity with gluPerspective(45, w / h, 1, 500);
    // the matrix mode is left at GL_MODELVIEW. Then raises OnResize. Called by
    // InitGL and after every change of size; needs the context current.
    void Resize();
    // Applies what the panel keeps in GL state at paint time; the base panel keeps
    // none. Needs the context current.
    virtual void Paint();

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

    bool FInitialized = false;

private:
    // Makes the widget create its context and framebuffer now, if it has none yet.
    void EnsureContext();
    // Runs fn, routing an exception to the application's error dialog.
    void Guarded(const std::function<void()>& fn, bool insidePaint);

    QOpenGLFramebufferObject* FOffscreen = nullptr;
    bool FPresented = false;           // a frame has been drawn into the view's framebuffer
    QObject* FFallbackIdle = nullptr;  // the panel's own idle timer, without a TApplication
};

class TOpenGlPanel : public TOpenGlBasePanel {
    Q_OBJECT
public:
    // Hides the mouse pointer over the panel (Qt::BlankCursor); an owner that
    // wants one sets it with setCursor.
    explicit TOpenGlPanel(QWidget* owner = nullptr);
    bool WireFrame() const { return FWireFrame; }
    // Stores value and applies the polygon mode at once (through Paint) when the
    // context exists; before InitGL it only records the value.
    void SetWireFrame(bool value);

    // WireFrame: glPolygonMode(GL_FRONT_AND_BACK, GL_LINE); otherwise
    // glPolygonMode(GL_FRONT, GL_FILL), leaving the back-face mode as it was.
    void Paint() override;

protected:
    bool FWireFrame = false;
};
