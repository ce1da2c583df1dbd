#include "work_progress.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include "Application.h"

TBusyCursor::TBusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
TBusyCursor::~TBusyCursor() { QGuiApplication::restoreOverrideCursor(); }

TWorkProgress::TWorkProgress(QWidget* owner, const QString& label) : FOwner(owner), FLabel(label) {
    ++FRunning;
    FClock.start();
    FPrevious = kgl::SetProgressHandler([this](uint64_t done, uint64_t total) { return Report(done, total); });
    if (TApplication* app = TApplication::Instance()) FPausedIdle = app->SetOnIdle({});
}

TWorkProgress::~TWorkProgress() {
    delete FDialog.data();
    kgl::SetProgressHandler(std::move(FPrevious));
    if (TApplication* app = TApplication::Instance(); app && FPausedIdle) app->SetOnIdle(std::move(FPausedIdle));
    --FRunning;
}

void TWorkProgress::SetLabel(const QString& label) {
    FLabel = label;
    if (FDialog) FDialog->setLabelText(label);
}

bool TWorkProgress::Report(uint64_t done, uint64_t total) {
    if (FCancelled) return false;
    if (!FDialog) {
        if (FClock.elapsed() < ShowAfterMs) return true;
        FDialog = new QProgressDialog(FLabel, QStringLiteral("Cancel"), 0, 1000, FOwner);
        FDialog->setWindowTitle(QStringLiteral("Working"));
        FDialog->setWindowModality(Qt::ApplicationModal);
        FDialog->setMinimumDuration(0);
        FDialog->setAutoClose(false);
        FDialog->setAutoReset(false);
        // the wait cursor would say Cancel cannot be pressed
        QGuiApplication::changeOverrideCursor(Qt::BusyCursor);
        FDialog->show();
        if (OnShown) OnShown(*FDialog);
    }
    if (FDialog && !FDialog->wasCanceled()) {
        // total 0: how much is left is unknown, the bar runs back and forth
        FDialog->setMaximum(total > 0 ? 1000 : 0);
        FDialog->setValue(total > 0 ? static_cast<int>(done * 1000 / total) : 0);
        QCoreApplication::processEvents();
    }
    FCancelled = !FDialog || FDialog->wasCanceled();
    return !FCancelled;
}
