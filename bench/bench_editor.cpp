// The editor window's own figures, on the real window under a (virtual) display:
//  - time from program start to the first frame drawn, with the largest bundled
//    sample selected at start-up, and how much of it the load takes;
//  - frames per second as the caption shows them, with "Wireframe" and "Bunding Box"
//    on and off;
//  - the spin speed with "rotate" checked, in degrees per second, with the frame rate
//    it ran at (the spin follows the timer's ticks, not the frames).
//   bench_editor [SAMPLE.kgm] [SECONDS]
// SAMPLE defaults to obj/torus.kgm beside the programs.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <GL/gl.h>

#include "Application.h"
#include "OpenGlPanel.h"
#include "Unit1.h"
#include "messages.h"

namespace {

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

long long g_frames = 0;  // frames drawn, counted by the bench's glDraw wrapper
double g_exactFps = 0;   // frames / elapsed time over the last CaptionFps run

// Runs the loop for seconds and collects the frame counts the caption showed.
std::vector<double> CaptionFps(TForm1& form, int seconds) {
    std::vector<double> shown;
    const long long frames0 = g_frames;
    QString last = form.windowTitle();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000 + 200) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (form.windowTitle() != last) {
            last = form.windowTitle();
            shown.push_back(ShownFps);
        }
    }
    g_exactFps = (g_frames - frames0) * 1000.0 / clock.elapsed();
    if (shown.size() > 1) shown.erase(shown.begin());  // the first interval starts mid-way
    return shown;
}

}  // namespace

int main(int argc, char** argv) {
    const auto start = std::chrono::steady_clock::now();
    TApplication app(argc, argv);  // as the program runs it
    kgl::SetMessageHandler([](const std::string& caption, const std::string& text) {
        std::fprintf(stderr, "message: %s %s\n", caption.c_str(), text.c_str());
    });
    const QString bin = QCoreApplication::applicationDirPath() + "/../bin";
    const QString sample =
        QFileInfo(argc > 1 ? QString::fromLocal8Bit(argv[1]) : bin + "/obj/torus.kgm").absoluteFilePath();
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (!QFile::exists(sample)) {
        std::fprintf(stderr, "bench_editor: %s not found\n", qPrintable(sample));
        return 1;
    }
    // A program folder whose list has the sample as its second entry, as at start-up.
    QTemporaryDir prog;
    QDir(prog.path()).mkdir("obj");
    QFile::copy(bin + "/obj/cube.kgm", prog.path() + "/obj/a.kgm");
    QFile::copy(sample, prog.path() + "/obj/b.kgm");
    QDir::setCurrent(bin);  // checker.jpg

    double firstFrameMs = -1, firstDrawMs = -1;
    TForm1 form(prog.path() + "/");
    const double createdMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    form.OpenGlPanel->glDraw = [&](TOpenGlBasePanel* sender) {
        const auto before = std::chrono::steady_clock::now();
        form.OpenGlPanelglDraw(sender);
        ++g_frames;
        if (firstFrameMs < 0) {
            glFinish();
            const auto after = std::chrono::steady_clock::now();
            firstFrameMs = std::chrono::duration<double, std::milli>(after - start).count();
            firstDrawMs = std::chrono::duration<double, std::milli>(after - before).count();
        }
    };
    form.show();
    while (firstFrameMs < 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

    // The load alone, as a click on the entry runs it.
    QElapsedTimer load;
    load.start();
    form.FileListBoxClick(form.FileListBox);
    const double loadMs = load.nsecsElapsed() / 1e6;

    // The same model from its OBJ text, when it lies beside the KGM file.
    double objMs = -1;
    const QString objSibling = sample.left(sample.size() - 4) + ".obj";
    if (QFile::exists(objSibling)) {
        kgl::TKGLModel fromText;
        QElapsedTimer t;
        t.start();
        kgl::LoadFromFile(fromText, QFile::encodeName(objSibling).toStdString());
        objMs = t.nsecsElapsed() / 1e6;
    }

    const int faces = Model.fCount;
    std::printf("sample %s: %d faces, %d vertices\n", qPrintable(QFileInfo(sample).fileName()), faces, Model.vCount);
    std::printf("start to window created (incl. load): %.1f ms\n", createdMs);
    std::printf("start to first frame:                 %.1f ms\n", firstFrameMs);
    std::printf("drawing the first frame:              %.1f ms\n", firstDrawMs);
    std::printf("load of the selected file alone:      %.1f ms (%.0f%% of start-up)\n", loadMs,
                100.0 * loadMs / firstFrameMs);

    if (objMs >= 0)
        std::printf("the same model from OBJ text:         %.1f ms (KGM / OBJ load %.2f)\n", objMs, loadMs / objMs);

    const double withOverlays = Median(CaptionFps(form, seconds));
    const double exactOn = g_exactFps;
    form.CheckBox3->setChecked(false);
    form.CheckBox4->setChecked(false);
    const double plain = Median(CaptionFps(form, seconds));
    const double exactOff = g_exactFps;
    std::printf("caption FPS, wireframe + boxes on:    %.0f (median of %d s; %.2f frames/s counted)\n", withOverlays,
                seconds, exactOn);
    std::printf("caption FPS, wireframe + boxes off:   %.0f (%.2f frames/s counted)\n", plain, exactOff);
    if (exactOff > 0) std::printf("ratio overlays on / off:              %.2f\n", exactOn / exactOff);
    std::printf("triangles per second, overlays on:    %.2f M\n", exactOn * Model.drawCount / 1e6);

    // The spin as the user sees it, overlays on as at start.
    form.CheckBox3->setChecked(true);
    form.CheckBox4->setChecked(true);
    form.CheckBox1->setChecked(true);
    const double angle0 = RotationAngle;
    const long long spinFrames0 = g_frames;
    QElapsedTimer spin;
    spin.start();
    while (spin.elapsed() < seconds * 1000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double spinS = spin.nsecsElapsed() / 1e9;
    std::printf("spin with \"rotate\" checked:           %.1f degrees/s (%.1f ticks/s at %.1f frames/s)\n",
                (RotationAngle - angle0) / spinS, (RotationAngle - angle0) / 0.8 / spinS,
                (g_frames - spinFrames0) / spinS);
    form.close();
    return 0;
}
