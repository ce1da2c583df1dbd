// Demo kept as a test: the panel opens, the window's create path loads a checker
// JPEG made here, every idle pass draws a textured quad with it, and the picture
// that reaches the screen is checked for the checker.
//   demo_checker [--hold SECONDS] [--save FILE.png]
// --hold keeps the window up that long (for an outside screenshot); --save writes
// what the X server shows of the window.
#include <QCommandLineParser>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <GL/gl.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Application.h"
#include "OpenGlPanel.h"
#include "Textures.h"
#include "image_builders.h"
#include "messages.h"
#include "test_support.h"

namespace {

constexpr int kSide = 256;   // image side in pixels
constexpr int kSquare = 32;  // checker square side: 8 x 8 squares
constexpr uint8_t kLight = 230, kDark = 40;

std::vector<uint8_t> CheckerSamples() {
    std::vector<uint8_t> rgb;
    rgb.reserve(size_t(kSide) * kSide * 3);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const bool light = ((x / kSquare) + (y / kSquare)) % 2 == 0;
            // Light squares warm white, dark ones deep blue: a wrong channel order shows.
            rgb.push_back(light ? kLight : 0);
            rgb.push_back(light ? kLight : 0);
            rgb.push_back(light ? kLight : kDark * 4);
        }
    return rgb;
}

// The quad in front of the camera, filling the middle of the 45-degree view.
void DrawQuad(GLuint texture) {
    glClearColor(0.2f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -3.0f);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    glColor3f(1.0f, 1.0f, 1.0f);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex3f(-1, -1, 0);
    glTexCoord2f(1, 0);
    glVertex3f(1, -1, 0);
    glTexCoord2f(1, 1);
    glVertex3f(1, 1, 0);
    glTexCoord2f(0, 1);
    glVertex3f(-1, 1, 0);
    glEnd();
}

}  // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    QCommandLineParser args;
    args.addOption({"hold", "seconds to keep the window up", "seconds", "0"});
    args.addOption({"save", "write the window as shown to this PNG file", "file"});
    args.process(app);

    int messages = 0;
    kgl::SetMessageHandler([&](const std::string& caption, const std::string& text) {
        ++messages;
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    });

    kgl::test::TTempDir dir;
    const std::string jpeg = dir.file("checker.jpg");
    kgl::test::WriteFile(jpeg, kgl::test::JpegBytes(kSide, kSide, 3, CheckerSamples()));

    QWidget window;
    window.setWindowTitle("checker demo");
    auto* panel = new TOpenGlPanel(&window);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(panel);
    window.resize(400, 400);

    // As the editor's create handler does: InitGL, then the texture, before the window shows.
    panel->InitGL();
    uint32_t texture = 0;
    if (!kgl::LoadTexture(jpeg, texture, false) || messages) {
        std::fprintf(stderr, "demo_checker: no texture\n");
        return 1;
    }
    int frames = 0;
    panel->glDraw = [&](TOpenGlBasePanel*) {
        ++frames;
        DrawQuad(texture);
    };
    window.move(0, 0);
    window.show();

    int status = 0;
    const int holdMs = static_cast<int>(args.value("hold").toDouble() * 1000);
    QTimer::singleShot(500 + holdMs, [&] {
        QPixmap shot = panel->screen()->grabWindow(window.winId());
        if (args.isSet("save")) shot.save(args.value("save"));
        QImage image = shot.toImage();
        // The quad covers the middle of the view: sample the centres of four squares
        // around the middle; neighbours must differ, diagonals match.
        const QPoint c = panel->mapTo(&window, panel->rect().center()) * shot.devicePixelRatio();
        const int step = panel->height() / 24;  // squares are about a tenth of the view high
        QColor a = image.pixelColor(c + QPoint(-step, -step)), b = image.pixelColor(c + QPoint(step, -step));
        QColor d = image.pixelColor(c + QPoint(step, step)), e = image.pixelColor(c + QPoint(-step, step));
        auto light = [](QColor q) { return q.red() > 150 && q.green() > 150 && q.blue() > 150; };
        auto dark = [](QColor q) { return q.red() < 60 && q.green() < 60 && q.blue() > 100; };
        const bool checker = light(a) == light(d) && light(b) == light(e) && light(a) != light(b) &&
                             (light(a) ? dark(b) : dark(a)) && (light(d) ? dark(e) : dark(d));
        std::printf("frames %d, samples %s %s %s %s\n", frames, qPrintable(a.name()), qPrintable(b.name()),
                    qPrintable(d.name()), qPrintable(e.name()));
        if (frames < 10 || !checker) status = 1;
        // Quit from a queued call, never from inside a paint.
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    });
    app.exec();
    std::printf("%s\n", status == 0 ? "checker shown" : "checker NOT shown");
    return status;
}
