// The window's undo history on a big model (default the 1M-triangle benchmark model),
// on the real window under a (virtual) display: for each kind of step, what it holds
// and what taking it back and doing it again cost.
//  - a selection stroke: a press, moves, a release over the view in "Face" mode (every
//    pick draws the model once, so the stroke itself is slow in software GL; the step's
//    own costs are the copy of the selection lists at the press and their comparison at
//    the release);
//  - a settled reduction track bar (TrackBar3 to 30);
//  - the texture-coordinate rewrite.
//   xvfb-run -a bench_undo [TRIANGLES] [--runs N]
#include <QDir>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QUndoStack>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "Application.h"
#include "OpenGlPanel.h"
#include "Unit1.h"
#include "bench_models.h"
#include "messages.h"
#include "undo_history.h"

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Median milliseconds of runs calls of step.
double Ms(int runs, const std::function<void()>& step) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        step();
        t.push_back(clock.nsecsElapsed() / 1e6);
    }
    return Median(t);
}

void Send(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent e(type, QPointF(at), QPointF(w->mapToGlobal(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// Undo and redo of the step on top, each median of runs; what it holds beyond its fixed
// size (about 100 bytes: the command and its fields).
void Report(const char* what, TForm1& form, int runs, size_t heldBefore) {
    TUndoHistory& h = form.History();
    const size_t held = h.HeldBytes() - heldBefore;
    std::vector<double> undo, redo;
    for (int i = 0; i < runs; ++i) {
        undo.push_back(Ms(1, [&] { form.Undo(); }));
        redo.push_back(Ms(1, [&] { form.Redo(); }));
    }
    std::printf("%-34s holds %10zu bytes   undo %9.3f ms   redo %9.3f ms\n", what, held, Median(undo), Median(redo));
}

}  // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    kgl::SetMessageHandler([](const std::string& caption, const std::string& text) {
        std::fprintf(stderr, "message: %s %s\n", caption.c_str(), text.c_str());
    });
    long long triangles = 1000000;
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            triangles = std::atoll(argv[i]);
    }
    const kgl::bench::TBenchModel bm = kgl::bench::EnsureBenchModel(triangles);
    QTemporaryDir prog;  // a program folder with an empty list: nothing loads at start
    QDir(prog.path()).mkdir("obj");
    TForm1 form(prog.path() + "/");
    form.show();
    QElapsedTimer load;
    load.start();
    if (!form.OpenPath(QString::fromStdString(bm.path))) return 1;
    std::printf("model: %s, %d faces, %d vertices, %d texture coordinates (load %.2f s)\n", bm.path.c_str(),
                Model.fCount, Model.vCount, Model.tCount, load.nsecsElapsed() / 1e9);
    while (!form.OpenGlPanel->PresentedFrame().width()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

    // A stroke of a press, four moves and a release across the middle of the view.
    form.RadioButton6->click();
    QWidget* view = form.OpenGlPanel;
    const QPoint centre(view->width() / 2, view->height() / 2);
    size_t held = form.History().HeldBytes();
    Send(view, QEvent::MouseMove, centre, Qt::NoButton, Qt::NoButton);
    const double press = Ms(1, [&] { Send(view, QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton); });
    QElapsedTimer picks;
    picks.start();
    for (int i = 1; i <= 4; ++i)
        Send(view, QEvent::MouseMove, centre + QPoint(6 * i, 3 * i), Qt::NoButton, Qt::LeftButton);
    const double moves = picks.nsecsElapsed() / 1e6;
    // A model whose diagonal passes the far plane (the big benchmark models) shows
    // nothing to pick: what a hundred picks would select is selected by hand.
    const long long picked = std::count(Model.faceSel.begin(), Model.faceSel.end(), 1);
    for (size_t i = 1; picked == 0 && i <= 100; ++i) Model.faceSel[i * (Model.faceSel.size() / 101)] = 1;
    const double release = Ms(1, [&] { Send(view, QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton); });
    const long long selected = std::count(Model.faceSel.begin(), Model.faceSel.end(), 1);
    std::printf(
        "\nstroke: press (one pick, the lists copied) %.1f ms, 4 moves (picks) %.1f ms, release (the lists "
        "compared) %.1f ms; %lld faces picked, %lld selected\n",
        press, moves, release, picked, selected);
    Report("selection stroke", form, runs, held);

    held = form.History().HeldBytes();
    const double settle = Ms(1, [&] { form.TrackBar3->SetPosition(30); });
    std::printf("track bar to 30 (Reduce and the step): %.1f ms\n", settle);
    Report("reduction track bar", form, runs, held);

    held = form.History().HeldBytes();
    const double rewrite = Ms(1, [&] { form.Button1Click(form.Button1); });
    std::printf("texture-coordinate rewrite (with its saved state): %.1f ms, %d coordinates left\n", rewrite,
                Model.tCount);
    Report("texture-coordinate rewrite", form, runs, held);
    std::printf("steps in the history: %d, holding %zu bytes in all\n", form.History().Stack().count(),
                form.History().HeldBytes());
    form.close();
    return 0;
}
