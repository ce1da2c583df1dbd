#pragma once
// The OpenGL view control: owns the context, keeps viewport and projection matched
// to its size in device pixels, and drives the continuous redraw from the
// application's idle event (one glDraw per idle pass, then a presented frame).
#include <QOpenGLWidget>
#include <functional>

class QMouseEvent;
class QKeyEvent;

class TOpenGlBasePanel : public QOpenGLWidget {
    Q_OBJECT
public:
    explicit TOpenGlBasePanel(QWidget* owner = nullptr);
    ~TOpenGlBasePanel() override;

    // Creates the context (even before the window is shown), makes it current,
    // sets the fixed state, calls Resize and installs IdleHandler as the
    // application's idle handler. Called once by the owner.
    virtual void InitGL();
    // Raised once per idle pass with the panel as sender; draws the scene.
    std::function<void(TOpenGlBasePanel* sender)> glDraw;
    std::function<void(QKeyEvent* event)> Onkeydown;
    std::function<void(QMouseEvent* event)> OnMouseDown;
    std::function<void(QMouseEvent* event)> OnMouseMove;

    void IdleHandler(QObject* sender, bool& done);

    // Makes the context current and runs fn with an offscreen framebuffer of the
    // view's device-pixel size bound (viewport as the view's), so a pick image is
    // never presented; restores the view's framebuffer afterwards.
    void RunOffscreen(const std::function<void()>& fn);

    bool Initialized() const { return FInitialized; }

protected:
    void Resize();
    virtual void Paint();

    bool FInitialized = false;
};

class TOpenGlPanel : public TOpenGlBasePanel {
    Q_OBJECT
public:
    explicit TOpenGlPanel(QWidget* owner = nullptr);
    bool WireFrame() const { return FWireFrame; }
    void SetWireFrame(bool value);

protected:
    void Paint() override;
    bool FWireFrame = false;
};
