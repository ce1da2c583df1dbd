#pragma once
// The toolkit services the program relies on, on top of Qt 6 Widgets:
// - the application object, whose event dispatch catches every exception that
//   escapes a handler, shows its message in the standard error dialog and goes on;
// - the idle event with its done flag;
// - the modal message dialog behind the model core's message service.
// Everything here runs on the user-interface thread.
#include <QApplication>
#include <QTimer>

#include <functional>
#include <string>

// Handler of the idle event. sender is the application object. The handler sets
// done; left false, the event is raised again at once after pending messages are
// handled, so frames follow each other as fast as drawing allows.
using TIdleEvent = std::function<void(QObject* sender, bool& done)>;
// Shows the text of an escaped exception. The default is a modal QMessageBox
// (icon "critical", caption the application name, one OK button).
using TErrorDialog = std::function<void(const std::string& text)>;

class TApplication : public QApplication {
    Q_OBJECT
public:
    // Also installs the modal message dialog as the model core's message handler
    // (tests replace it with a recorder afterwards, and the error dialog with
    // SetErrorDialog, so that no test ever waits on a dialog).
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    // The running application object, or nullptr when the program made a plain
    // QApplication (or none).
    static TApplication* Instance();

    // Dispatches one event; an exception escaping the receiver's handler is shown
    // with ShowException and the event counts as not handled. No exception ever
    // leaves this function, so none crosses Qt's event loop.
    bool notify(QObject* receiver, QEvent* event) override;

    // Replaces the idle handler (an empty one stops the idle event) and returns
    // the previous one. The idle event is raised by a zero-interval timer on every
    // pass of the event loop while the handler leaves done false; after a pass that
    // sets done true it is raised again after the next event is handled.
    TIdleEvent SetOnIdle(TIdleEvent handler);
    const TIdleEvent& OnIdle() const { return FOnIdle; }

    // Shows text in the error dialog, modally. While an error dialog is up the idle
    // event pauses and further exceptions are dropped, so a handler that throws on
    // every frame yields one dialog at a time rather than an endless cascade.
    void ShowException(const std::string& text);
    // As ShowException, from a queued call: for handlers that run inside a paint
    // (a modal loop opened from within paintGL is unsafe).
    void PostException(const std::string& text);
    bool ShowingException() const { return FShowingException; }
    // Runs fn, showing whatever it throws with ShowException; returns whether fn
    // ended normally.
    bool Guard(const std::function<void()>& fn);

    // Replaces the error dialog (empty restores the QMessageBox) and returns the previous one.
    TErrorDialog SetErrorDialog(TErrorDialog dialog);

    // The modal message dialog: caption (the application name when empty), text,
    // one OK button; returns when the user dismisses it.
    static void ShowMessageDialog(const std::string& caption, const std::string& text);

    // Number of idle events raised so far (diagnostics and tests).
    long long IdlePasses() const { return FIdlePasses; }

private:
    void RaiseIdle();

    QTimer FIdleTimer;
    TIdleEvent FOnIdle;
    TErrorDialog FErrorDialog;
    bool FShowingException = false;
    bool FExceptionPending = false;
    bool FInsideIdle = false;
    long long FIdlePasses = 0;
};

// The text shown for an exception that carries no message of its own.
inline constexpr const char* kUnknownExceptionText = "Unknown exception";
