#include "Application.h"

#include <QMessageBox>
#include <QMetaObject>

#include <exception>

#include "messages.h"

namespace {

// A dialog raised from inside a long operation (a load that fails) comes up while the
// busy cursor is set: the pointer is an arrow again for as long as the dialog is up.
class TArrowCursor {
public:
    TArrowCursor() : FSet(QGuiApplication::overrideCursor() != nullptr) {
        if (FSet) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~TArrowCursor() {
        if (FSet) QGuiApplication::restoreOverrideCursor();
    }
    TArrowCursor(const TArrowCursor&) = delete;
    TArrowCursor& operator=(const TArrowCursor&) = delete;

private:
    bool FSet;
};

void DefaultErrorDialog(const std::string& text) {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), QString::fromStdString(text),
                    QMessageBox::Ok);
    TArrowCursor arrow;
    box.exec();
}

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // Zero interval: the timer fires once per pass of the event loop, after the
    // events that were pending have been handled.
    FIdleTimer.setInterval(0);
    connect(&FIdleTimer, &QTimer::timeout, this, [this] { RaiseIdle(); });
    kgl::SetMessageHandler(&TApplication::ShowMessageDialog);
}

TApplication::~TApplication() {
    FIdleTimer.stop();
    kgl::SetMessageHandler({});
}

TApplication* TApplication::Instance() { return qobject_cast<TApplication*>(QCoreApplication::instance()); }

bool TApplication::notify(QObject* receiver, QEvent* event) {
    // After a pass that set done, the next event handled brings the idle event back.
    if (FOnIdle && !FIdleTimer.isActive() && !FInsideIdle) FIdleTimer.start();
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException(kUnknownExceptionText);
    }
    return false;
}

TIdleEvent TApplication::SetOnIdle(TIdleEvent handler) {
    TIdleEvent previous = std::move(FOnIdle);
    FOnIdle = std::move(handler);
    if (FOnIdle)
        FIdleTimer.start();
    else
        FIdleTimer.stop();
    return previous;
}

void TApplication::RaiseIdle() {
    if (!FOnIdle || FShowingException || FInsideIdle) return;
    bool done = true;
    FInsideIdle = true;
    ++FIdlePasses;
    // Copied so that a handler replacing itself does not destroy the running closure.
    TIdleEvent handler = FOnIdle;
    // Caught here rather than in notify, so the exception never unwinds through
    // QTimer's frames; the idle event goes on after the dialog.
    const bool ok = Guard([&] { handler(this, done); });
    FInsideIdle = false;
    if (!ok) return;
    if (done) FIdleTimer.stop();
}

void TApplication::ShowException(const std::string& text) {
    if (FShowingException) return;
    FShowingException = true;
    try {
        if (FErrorDialog)
            FErrorDialog(text);
        else
            DefaultErrorDialog(text);
    } catch (...) {
        // The dialog itself failed; there is nothing left to report it with.
    }
    FShowingException = false;
}

void TApplication::PostException(const std::string& text) {
    // One report outstanding at a time: a paint that fails on every frame would
    // otherwise queue one per frame until the first is shown.
    if (FExceptionPending || FShowingException) return;
    FExceptionPending = true;
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            FExceptionPending = false;
            ShowException(text);
        },
        Qt::QueuedConnection);
}

bool TApplication::Guard(const std::function<void()>& fn) {
    try {
        fn();
        return true;
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException(kUnknownExceptionText);
    }
    return false;
}

TErrorDialog TApplication::SetErrorDialog(TErrorDialog dialog) {
    TErrorDialog previous = std::move(FErrorDialog);
    FErrorDialog = std::move(dialog);
    return previous;
}

void TApplication::ShowMessageDialog(const std::string& caption, const std::string& text) {
    QString title = caption.empty() ? QApplication::applicationName() : QString::fromStdString(caption);
    QMessageBox box(QMessageBox::NoIcon, title, QString::fromStdString(text), QMessageBox::Ok);
    TArrowCursor arrow;
    box.exec();
}
