#pragma once
// Long work (a load, an import, a save, a bake) on the user-interface thread, with a
// progress dialog and Cancel once it has run for a while.
//
// While a TWorkProgress lives it is the model core's progress handler (progress.h).
// The first report after ShowAfterMs opens a modal QProgressDialog over owner; from
// then on every report moves the bar and handles the events pending (the dialog and
// its Cancel), so the window is painted but takes no input. The idle redraw pauses
// meanwhile (a frame of a big model costs as much as the work). Cancel makes the next
// report answer "stop": the core throws ECancelled, the work ends without a message and
// leaves the model and every file as they were. Nothing else may start long work while
// one runs (Running()): a call queued before it, run by those pending events, must not
// start a second one inside the first.
#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <functional>

#include "progress.h"

// The busy cursor over the whole program while a handler works (the loop is held
// meanwhile, so nothing else tells the user that the program is at work); put back when
// the handler ends, by an exception too. A short operation is over too soon for the
// change to be noticed.
class TBusyCursor {
public:
    TBusyCursor();
    ~TBusyCursor();
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// Under the busy cursor, which turns into the arrow with a busy sign while the dialog
// is up (Cancel can be pressed).
class TWorkProgress {
public:
    // Milliseconds of work before the dialog opens (tests set 0).
    static inline int ShowAfterMs = 500;
    // Raised once the dialog has opened (tests press Cancel here).
    static inline std::function<void(QProgressDialog& dialog)> OnShown;
    // Whether a TWorkProgress is alive.
    static bool Running() { return FRunning > 0; }

    // label: what the work is, shown above the bar ("Opening torus.obj").
    TWorkProgress(QWidget* owner, const QString& label);
    ~TWorkProgress();
    TWorkProgress(const TWorkProgress&) = delete;
    TWorkProgress& operator=(const TWorkProgress&) = delete;

    // The next step of the same work ("Writing ..."), on the same dialog.
    void SetLabel(const QString& label);
    // Whether the user pressed Cancel.
    bool Cancelled() const { return FCancelled; }

private:
    bool Report(uint64_t done, uint64_t total);

    static inline int FRunning = 0;
    TBusyCursor FBusy;
    QWidget* FOwner;
    QString FLabel;
    QElapsedTimer FClock;
    QPointer<QProgressDialog> FDialog;
    bool FCancelled = false;
    kgl::TProgressHandler FPrevious;
    std::function<void(QObject*, bool&)> FPausedIdle;
};
