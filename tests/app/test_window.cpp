// The editor window under a real (virtual) X display: the controls, start-up, the
// file list, the information text, the track bars, the frame and the mouse. Messages
// are recorded, never shown, so nothing here waits on a dialog.
#include <GL/gl.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <memory>

#include "Application.h"
#include "KGLDisplay.h"
#include "KGLModel.h"
#include "OpenGlPanel.h"
#include "Unit1.h"
#include "errors.h"
#include "test_support.h"

using kgl::test::TMessageRecorder;
using kgl::test::TTempDir;
using kgl::test::WriteFile;

namespace {

const char* kCubeObj =
    "g default\n"
    "g cube\n"
    "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\n"
    "v -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\n"
    "f 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\nf 4 1 5 8\n";

const char* kTriangleObj =
    "g default\n"
    "g tri\n"
    "v 0 0 0\nv 1 0 0\nv 0 1 0\n"
    "f 1 2 3\n";

// Four quads in the plane z = 0 covering [-1, 1]^2, row by row from y = -1: face 1
// lower left, 2 lower right, 3 upper left, 4 upper right.
const char* kPlaneObj =
    "g default\n"
    "g plane\n"
    "v -1 -1 0\nv 0 -1 0\nv 1 -1 0\n"
    "v -1 0 0\nv 0 0 0\nv 1 0 0\n"
    "v -1 1 0\nv 0 1 0\nv 1 1 0\n"
    "f 1 2 5 4\nf 2 3 6 5\nf 4 5 8 7\nf 5 6 9 8\n";

// A quad whose eight texture-coordinate lines hold four distinct pairs.
const char* kDuplicateTexObj =
    "g default\n"
    "g quad\n"
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
    "f 1/1 2/2 3/3\nf 1/5 3/7 4/8\n";

// An n x n grid of triangle pairs, enough faces for the reduction to show.
std::string GridObj(int n) {
    std::string s = "g default\ng grid\n";
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i)
            s += "v " + std::to_string(i) + " " + std::to_string(j) + " " + std::to_string((i * j) % 3) + "\n";
    auto at = [n](int i, int j) { return std::to_string(j * (n + 1) + i + 1); };
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            s += "f " + at(i, j) + " " + at(i + 1, j) + " " + at(i + 1, j + 1) + "\n";
            s += "f " + at(i, j) + " " + at(i + 1, j + 1) + " " + at(i, j + 1) + "\n";
        }
    return s;
}

void WriteKgm(const std::string& path, const char* objText) {
    kgl::TKGLModel m;
    if (!kgl::LoadOBJFromMemory(m, objText)) throw std::runtime_error("fixture did not load");
    kgl::SaveToKGM(m, path);
}

int VisibleFaces(const kgl::TKGLModel& m) {
    int n = 0;
    for (int g = 0; g <= m.gCount && g < static_cast<int>(m.groups.size()); ++g)
        for (int f = 1; f <= m.groups[g].fCount; ++f) n += m.groups[g].faces[f].visible ? 1 : 0;
    return n;
}

QStringList ListEntries(const TFileListBox* list) {
    QStringList names;
    for (int i = 0; i < list->count(); ++i) names << list->item(i)->text();
    return names;
}

QStringList InfoLines(const TForm1& form) { return form.Label1->Caption().split(QChar('\r')); }

void ClickButton(QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(8, b->height() / 2)); }

void ClickEntry(TFileListBox* list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}

void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

}  // namespace

class TWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTempDir> FTemp;
    std::unique_ptr<TMessageRecorder> FMessages;
    std::vector<std::string> FErrors;  // texts the toolkit's error dialog would show
    std::unique_ptr<TForm1> FForm;
    QString FStartDir;

    std::string ObjDir() const { return FTemp->file("prog/obj"); }
    std::string Obj(const std::string& name) const { return ObjDir() + "/" + name; }

    // A program folder prog/ (with obj/ unless told otherwise) and a start folder
    // run/ holding checker.jpg unless told otherwise.
    void Prepare(bool withObj = true, bool withChecker = true) {
        FTemp = std::make_unique<TTempDir>();
        std::filesystem::create_directories(FTemp->file("prog"));
        std::filesystem::create_directories(FTemp->file("run"));
        if (withObj) std::filesystem::create_directories(ObjDir());
        if (withChecker)
            std::filesystem::copy_file(KGL_BIN_DIR "/checker.jpg", FTemp->file("run/checker.jpg"));
    }

    TForm1& Open() {
        QDir::setCurrent(QString::fromStdString(FTemp->file("run")));
        ResetUnit1State();
        FForm = std::make_unique<TForm1>(QString::fromStdString(FTemp->file("prog")) + "/");
        Form1 = FForm.get();
        FForm->show();
        if (!QTest::qWaitForWindowExposed(FForm.get())) qWarning("window not exposed");
        return *FForm;
    }

    // Waits until frames are drawn, so the view's matrices are those of a real frame.
    void WaitForFrames(TForm1& form) {
        QTRY_VERIFY_WITH_TIMEOUT(form.windowTitle().endsWith(" FPS"), 5000);
        QTest::qWait(100);
    }

private slots:
    void init() {
        FStartDir = QDir::currentPath();
        FMessages = std::make_unique<TMessageRecorder>();
        FErrors.clear();
        TApplication::Instance()->SetErrorDialog([this](const std::string& text) { FErrors.push_back(text); });
    }
    void cleanup() {
        FForm.reset();
        Form1 = nullptr;
        FMessages.reset();
        QDir::setCurrent(FStartDir);
        FTemp.reset();
    }

    void ControlsAsDesigned() {
        Prepare();
        TForm1& form = Open();
        QCOMPARE(form.size(), QSize(774, 452));
        QCOMPARE(form.Panel1->width(), 129);
        QCOMPARE(form.Panel3->width(), 182);
        QCOMPARE(form.Panel2->height(), 41);
        QCOMPARE(form.Panel2->width(), form.width());  // the bottom strip spans the window
        QVERIFY(form.OpenGlPanel->x() >= 129 && form.OpenGlPanel->x() + form.OpenGlPanel->width() <= 774 - 182);
        QCOMPARE(form.RadioButton1->text(), QString("OBJ"));
        QVERIFY(!form.RadioButton1->isChecked());
        QVERIFY(form.RadioButton2->isChecked());
        QCOMPARE(form.FileListBox->Mask(), QString("*.kgm"));
        QCOMPARE(form.Label4->text(), QString("Info:"));
        QVERIFY(QFontInfo(form.Label1->font()).fixedPitch());
        QCOMPARE(form.GroupBox1->title(), QString(" Select "));
        QVERIFY(form.Edit1->text().isEmpty());
        QCOMPARE(form.RadioButton3->text(), QString("Point"));
        QCOMPARE(form.RadioButton4->text(), QString("Edge"));
        QCOMPARE(form.RadioButton5->text(), QString("Group"));
        QCOMPARE(form.RadioButton6->text(), QString("Face"));
        QVERIFY(form.RadioButton6->isChecked() && !form.RadioButton3->isChecked());
        QCOMPARE(form.Label6->text(), QString("Label6"));
        QVERIFY(form.Label5->isHidden() && form.Label3->isHidden());
        QCOMPARE(form.Label5->text(), QString("Color Code:"));
        QCOMPARE(form.Button1->text(), QString("TextureCoord optimalisation"));
        QVERIFY(form.Button1->isVisible());
        QVERIFY(form.Button2->isHidden() && form.Button3->isHidden());
        QCOMPARE(form.Button2->text(), QString("Save To OBJ"));
        QCOMPARE(form.Button3->text(), QString("Save To KGM"));
        QCOMPARE(form.CheckBox1->text(), QString("rotate"));
        QVERIFY(!form.CheckBox1->isChecked());
        QCOMPARE(form.CheckBox2->text(), QString("x rot: 90"));
        QCOMPARE(form.CheckBox3->text(), QString("Wireframe"));
        QCOMPARE(form.CheckBox4->text(), QString("Bunding Box"));
        QVERIFY(form.CheckBox2->isChecked() && form.CheckBox3->isChecked() && form.CheckBox4->isChecked());
        QCOMPARE(form.TrackBar1->Max(), 100);
        QCOMPARE(form.TrackBar2->Max(), 200);
        QCOMPARE(form.TrackBar3->Max(), 100);
        QCOMPARE(form.TrackBar1->Position() + form.TrackBar2->Position() + form.TrackBar3->Position(), 0);
        QCOMPARE(form.Timer1->interval(), 1);
        QVERIFY(form.Timer1->isActive());
        QVERIFY(!form.OpenGlPanel->WireFrame());
    }

    void StartupLoadsSecondKgm() {
        Prepare();
        WriteKgm(Obj("a.kgm"), kCubeObj);
        WriteKgm(Obj("b.kgm"), kTriangleObj);
        WriteFile(Obj("c.obj"), kCubeObj);
        TForm1& form = Open();
        QCOMPARE(ListEntries(form.FileListBox), (QStringList{"a.kgm", "b.kgm"}));
        QCOMPARE(form.FileListBox->ItemIndex(), 1);
        QCOMPARE(Model.vCount, 3);
        QCOMPARE(InfoLines(form).value(0), QString("name: TRI"));
        QVERIFY(TextureId != 0);
        QCOMPARE(FMessages->count(), size_t(0));
        // The list's folder has become the current folder.
        QCOMPARE(QDir::currentPath(), QDir(QString::fromStdString(ObjDir())).absolutePath());
    }

    void EmptyListShowsEmptyModel() {
        Prepare();
        WriteKgm(Obj("only.kgm"), kCubeObj);
        TForm1& form = Open();
        QCOMPARE(form.FileListBox->ItemIndex(), -1);
        QCOMPARE(InfoLines(form), (QStringList{"name: ", "vCount: 0", "nCount: 0", "tCount: 0", "gCount: 0",
                                               "fCount: 0", "eCount: 0", "minArea: 0.00", "maxArea: 0.00",
                                               "scale: 0.00"}));
        WaitForFrames(form);  // an empty model draws only the axes
    }

    void InfoTextOfCube() {
        Prepare();
        WriteFile(Obj("cube.obj"), kCubeObj);
        TForm1& form = Open();
        ClickButton(form.RadioButton1);
        QCOMPARE(ListEntries(form.FileListBox), QStringList{"cube.obj"});
        ClickEntry(form.FileListBox, 0);
        QCOMPARE(InfoLines(form), (QStringList{"name: CUBE", "vCount: 8", "nCount: 0", "tCount: 0", "gCount: 1",
                                               "fCount: 6", "eCount: 12", "minArea: 2.00", "maxArea: 2.00",
                                               "scale: 3.46"}));
    }

    void ObjMaskAnyCaseKeepsModel() {
        Prepare();
        WriteKgm(Obj("a.kgm"), kCubeObj);
        WriteKgm(Obj("b.kgm"), kTriangleObj);
        for (const char* name : {"C.OBJ", "d.obj", "e.Obj", "f.txt", "g.objx", "h.kgm.bak"})
            WriteFile(Obj(name), kCubeObj);
        std::filesystem::create_directories(Obj("dir.obj"));  // a folder is not a file
        TForm1& form = Open();
        QCOMPARE(Model.vCount, 3);
        const QString shown = form.Label1->Caption();
        ClickButton(form.RadioButton1);
        QVERIFY(form.RadioButton1->isChecked());
        QCOMPARE(ListEntries(form.FileListBox), (QStringList{"C.OBJ", "d.obj", "e.Obj"}));
        QCOMPARE(form.FileListBox->ItemIndex(), -1);
        QCOMPARE(Model.vCount, 3);  // nothing loaded or cleared
        QCOMPARE(form.Label1->Caption(), shown);
        ClickButton(form.RadioButton2);
        QCOMPARE(ListEntries(form.FileListBox), (QStringList{"a.kgm", "b.kgm"}));
        QCOMPARE(Model.vCount, 3);
    }

    void KeyboardSelectionLoads() {
        Prepare();
        WriteKgm(Obj("a.kgm"), kCubeObj);
        WriteKgm(Obj("b.kgm"), kTriangleObj);
        TForm1& form = Open();
        QCOMPARE(Model.vCount, 3);
        form.FileListBox->setFocus();
        QTest::keyClick(form.FileListBox, Qt::Key_Up);
        QCOMPARE(form.FileListBox->ItemIndex(), 0);
        QCOMPARE(Model.vCount, 8);
        // Clicking the selected entry again loads it again (the reduction is undone).
        form.TrackBar1->SetPosition(50);
        QVERIFY(VisibleFaces(Model) < 6);
        ClickEntry(form.FileListBox, 0);
        QCOMPARE(VisibleFaces(Model), 6);
    }

    void SelectingResetsTrackBar2And3NotTrackBar1() {
        Prepare();
        WriteFile(Obj("grid.obj"), GridObj(20));
        WriteFile(Obj("plane.obj"), kPlaneObj);
        TForm1& form = Open();
        ClickButton(form.RadioButton1);
        ClickEntry(form.FileListBox, 0);
        QCOMPARE(Model.fCount, 800);
        form.TrackBar1->SetPosition(40);
        form.TrackBar2->SetPosition(50);
        form.TrackBar3->SetPosition(40);
        QVERIFY(VisibleFaces(Model) < 800);
        ClickEntry(form.FileListBox, 0);
        QCOMPARE(form.TrackBar1->Position(), 40);
        QCOMPARE(form.TrackBar2->Position(), 0);
        QCOMPARE(form.TrackBar3->Position(), 0);
        QCOMPARE(VisibleFaces(Model), 800);  // shown unreduced though TrackBar1 stays at 40
        WaitForFrames(form);
    }

    void TrackBar3HidesAndShowsFaces() {
        Prepare();
        WriteFile(Obj("grid.obj"), GridObj(20));
        TForm1& form = Open();
        ClickButton(form.RadioButton1);
        ClickEntry(form.FileListBox, 0);
        const QString info = form.Label1->Caption();
        form.TrackBar3->SetPosition(50);
        const int half = VisibleFaces(Model);
        QVERIFY2(half > 300 && half < 500, qPrintable(QString::number(half)));
        form.TrackBar3->SetPosition(0);
        QCOMPARE(VisibleFaces(Model), 800);
        QCOMPARE(form.Label1->Caption(), info);  // the track bars leave the text alone
        form.TrackBar3->SetPosition(500);        // clamped to Max
        QCOMPARE(form.TrackBar3->Position(), 100);
        WaitForFrames(form);
    }

    void FacePickSelectsDeselectsAndDragPaints() {
        Prepare();
        WriteFile(Obj("plane.obj"), kPlaneObj);
        TForm1& form = Open();
        ClickButton(form.RadioButton1);
        ClickEntry(form.FileListBox, 0);
        form.CheckBox2->setChecked(false);  // look straight down -Z onto the plane
        form.CheckBox3->setChecked(false);
        form.CheckBox4->setChecked(false);
        QVERIFY(Model.faceSel.empty());  // "Face" checked at start, but not yet clicked
        ClickButton(form.RadioButton6);
        QCOMPARE(Model.faceSel.size(), size_t(Model.fCount + 2));
        WaitForFrames(form);

        QWidget* view = form.OpenGlPanel;
        const int w = view->width(), h = view->height();
        const QPoint upperLeft(w * 3 / 10, h * 3 / 10), upperRight(w * 7 / 10, h * 3 / 10),
            lowerRight(w * 7 / 10, h * 7 / 10);
        SendMouse(view, QEvent::MouseMove, upperLeft, Qt::NoButton, Qt::NoButton);
        QCOMPARE(kgl::MouseX, upperLeft.x());
        SendMouse(view, QEvent::MouseButtonPress, upperLeft, Qt::LeftButton, Qt::LeftButton);
        QVERIFY(Model.faceSel[3]);
        QCOMPARE(int(Model.faceSel[1] + Model.faceSel[2] + Model.faceSel[4]), 0);
        SendMouse(view, QEvent::MouseButtonPress, upperLeft, Qt::RightButton, Qt::RightButton);
        QVERIFY(!Model.faceSel[3]);

        // A drag with the left button held paints every face it passes.
        SendMouse(view, QEvent::MouseButtonPress, upperLeft, Qt::LeftButton, Qt::LeftButton);
        SendMouse(view, QEvent::MouseMove, upperRight, Qt::NoButton, Qt::LeftButton);
        SendMouse(view, QEvent::MouseMove, lowerRight, Qt::NoButton, Qt::LeftButton);
        SendMouse(view, QEvent::MouseButtonRelease, lowerRight, Qt::LeftButton, Qt::NoButton);
        QVERIFY(Model.faceSel[3] && Model.faceSel[4] && Model.faceSel[2]);
        QVERIFY(!Model.faceSel[1]);
        // ... and with the right button it wipes them.
        SendMouse(view, QEvent::MouseMove, upperRight, Qt::NoButton, Qt::RightButton);
        QVERIFY(!Model.faceSel[4] && Model.faceSel[2]);

        // Held outside the view: no pick, nothing read back.
        kgl::PickPixel = {7, 7, 7};
        SendMouse(view, QEvent::MouseMove, QPoint(-5, h / 2), Qt::NoButton, Qt::LeftButton);
        SendMouse(view, QEvent::MouseMove, QPoint(w + 3, h + 9), Qt::NoButton, Qt::RightButton);
        QCOMPARE(kgl::MouseX, w + 3);  // stored unchanged all the same
        QVERIFY((kgl::PickPixel == std::array<uint8_t, 3>{7, 7, 7}));
        QVERIFY(Model.faceSel[2] && Model.faceSel[3]);

        // "Point" selects nothing.
        ClickButton(form.RadioButton3);
        SendMouse(view, QEvent::MouseMove, lowerRight, Qt::NoButton, Qt::RightButton);
        QVERIFY(Model.faceSel[2]);
        QVERIFY((kgl::PickPixel == std::array<uint8_t, 3>{7, 7, 7}));
    }

    void GroupPickSelects() {
        Prepare();
        WriteFile(Obj("plane.obj"), kPlaneObj);
        TForm1& form = Open();
        ClickButton(form.RadioButton1);
        ClickEntry(form.FileListBox, 0);
        form.CheckBox2->setChecked(false);
        ClickButton(form.RadioButton5);
        QCOMPARE(Model.groupSel.size(), size_t(Model.gCount + 2));
        WaitForFrames(form);
        QWidget* view = form.OpenGlPanel;
        const QPoint centre(view->width() * 3 / 10, view->height() / 2);
        SendMouse(view, QEvent::MouseMove, centre, Qt::NoButton, Qt::NoButton);
        SendMouse(view, QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton);
        QVERIFY(Model.groupSel[1]);  // the plane's group
        QVERIFY(!Model.groupSel[0]);
    }

    void EdgeAfterLoadNeedsClickAgain() {
        Prepare();
        WriteFile(Obj("cube.obj"), kCubeObj);
        WriteFile(Obj("plane.obj"), kPlaneObj);
        TForm1& form = Open();
        ClickButton(form.RadioButton1);
        ClickEntry(form.FileListBox, 1);
        ClickButton(form.RadioButton4);
        QCOMPARE(Model.edgeSel.size(), size_t(Model.eCount + 2));
        Model.edgeSel[2] = 1;
        ClickButton(form.RadioButton4);  // a second click keeps the selection
        QVERIFY(Model.edgeSel[2]);
        ClickButton(form.RadioButton6);
        ClickButton(form.RadioButton4);
        QVERIFY(Model.edgeSel[2]);
        ClickEntry(form.FileListBox, 0);
        QVERIFY(Model.edgeSel.empty());
        WaitForFrames(form);
        QWidget* view = form.OpenGlPanel;
        const QPoint centre(view->width() / 2, view->height() / 2);
        SendMouse(view, QEvent::MouseMove, centre, Qt::NoButton, Qt::NoButton);
        SendMouse(view, QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton);
        QVERIFY(Model.edgeSel.empty());
        ClickButton(form.RadioButton4);
        QCOMPARE(Model.edgeSel.size(), size_t(Model.eCount + 2));
    }

    void CameraFollowsTrackBars() {
        Prepare();
        WriteFile(Obj("cube.obj"), kCubeObj);
        TForm1& form = Open();
        ClickButton(form.RadioButton1);
        ClickEntry(form.FileListBox, 0);
        form.CheckBox2->setChecked(false);
        form.TrackBar1->SetPosition(50);
        WaitForFrames(form);
        auto modelView = [&form] {
            form.OpenGlPanel->makeCurrent();
            std::array<float, 16> m{};
            glGetFloatv(GL_MODELVIEW_MATRIX, m.data());
            return m;
        };
        const double d = Model.diagonal;
        QVERIFY(std::fabs(d - 2 * std::sqrt(3.0)) < 1e-5);
        std::array<float, 16> m = modelView();
        QVERIFY(std::fabs(m[14] - static_cast<float>(-d - 50 * d / 10)) < 1e-4);
        QCOMPARE(m[0], 1.0f);  // no quarter turn, no spin
        form.TrackBar2->SetPosition(10);
        QTest::qWait(100);
        m = modelView();
        QVERIFY(std::fabs(m[14] - static_cast<float>(10 - d - 50 * d / 10)) < 1e-4);
        // The quarter turn about X takes the model's +Y to the eye's +Z.
        form.CheckBox2->setChecked(true);
        QTest::qWait(100);
        m = modelView();
        QVERIFY(std::fabs(m[6] - 1.0f) < 1e-6);
    }

    void FrameShowsModelAndAxes() {
        Prepare();
        WriteFile(Obj("cube.obj"), kCubeObj);
        TForm1& form = Open();
        ClickButton(form.RadioButton1);
        ClickEntry(form.FileListBox, 0);
        form.CheckBox2->setChecked(false);
        form.CheckBox3->setChecked(false);
        form.CheckBox4->setChecked(false);
        WaitForFrames(form);
        const QImage frame = form.OpenGlPanel->grabFramebuffer();
        const int w = frame.width(), h = frame.height();
        // The textured cube fills the middle of the view.
        const QColor middle = frame.pixelColor(w / 2, h / 2);
        QVERIFY2(middle.red() + middle.green() + middle.blue() > 150, qPrintable(middle.name()));
        // Right of the cube, the red X axis runs along the middle row.
        bool red = false;
        for (int y = h / 2 - 2; y <= h / 2 + 2; ++y) {
            const QColor c = frame.pixelColor(w - 8, y);
            red = red || (c.red() > 100 && c.red() > c.green() + 50 && c.red() > c.blue() + 50);
        }
        QVERIFY(red);
        // Above it, nothing but the black background.
        QCOMPARE(frame.pixelColor(w - 8, h / 4), QColor(0, 0, 0));
    }

    void CaptionShowsFrameCount() {
        Prepare();
        WriteFile(Obj("plane.obj"), kPlaneObj);
        TForm1& form = Open();
        QTRY_VERIFY_WITH_TIMEOUT(form.windowTitle().startsWith("Kestivan Graphics Library OBJ/KGM editor  "), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(ShownFps > 0, 5000);
        QCOMPARE(form.windowTitle(), QString("Kestivan Graphics Library OBJ/KGM editor  %1 FPS").arg(ShownFps));
    }

    void RotateAddsPerTick() {
        Prepare();
        TForm1& form = Open();
        WaitForFrames(form);
        const double before = RotationAngle;
        QCOMPARE(before, 0.0);
        for (int i = 0; i < 100; ++i) form.Timer1Timer(form.Timer1);
        QCOMPARE(RotationAngle, 0.0);  // "rotate" unchecked
        form.CheckBox1->setChecked(true);
        for (int i = 0; i < 100; ++i) form.Timer1Timer(form.Timer1);
        QVERIFY(std::fabs(RotationAngle - 80.0) < 1e-9);
        // The real timer keeps adding 0.8 a tick.
        QTRY_VERIFY_WITH_TIMEOUT(RotationAngle > 81.0, 3000);
        const double ticks = RotationAngle / 0.8;
        QVERIFY(std::fabs(ticks - std::round(ticks)) < 1e-6);
        form.CheckBox1->setChecked(false);
        const double stopped = RotationAngle;
        QTest::qWait(30);
        QCOMPARE(RotationAngle, stopped);
        QCOMPARE(form.Label2->Caption(), QString::number(Model.drawCount));
    }

    void TriangleCountShown() {
        Prepare();
        WriteFile(Obj("grid.obj"), GridObj(10));
        TForm1& form = Open();
        ClickButton(form.RadioButton1);
        ClickEntry(form.FileListBox, 0);
        WaitForFrames(form);
        QTRY_COMPARE_WITH_TIMEOUT(form.Label2->Caption(), QString::number(Model.drawCount), 2000);
        QVERIFY(Model.drawCount >= 200);
    }

    void Button1RefreshesTCount() {
        Prepare();
        WriteFile(Obj("quad.obj"), kDuplicateTexObj);
        TForm1& form = Open();
        ClickButton(form.RadioButton1);
        ClickEntry(form.FileListBox, 0);
        QCOMPARE(InfoLines(form).value(3), QString("tCount: 8"));
        QTest::mouseClick(form.Button1, Qt::LeftButton);
        QCOMPARE(InfoLines(form).value(3), QString("tCount: 4"));
        QCOMPARE(Model.tCount, 4);
    }

    void SaveHandlersWriteBesideSelected() {
        Prepare();
        WriteFile(Obj("cube.obj"), kCubeObj);
        TForm1& form = Open();
        ClickButton(form.RadioButton1);
        ClickEntry(form.FileListBox, 0);
        form.Button2Click(form.Button2);
        form.Button3Click(form.Button3);
        QVERIFY(std::filesystem::exists(Obj("cube_.obj")));
        QVERIFY(std::filesystem::exists(Obj("cube.kgm")));
        kgl::TKGLModel back;
        QVERIFY(kgl::LoadKGM(back, Obj("cube.kgm")));
        QCOMPARE(back.vCount, 8);
        QCOMPARE(back.fCount, 6);
        kgl::TKGLModel text;
        QVERIFY(kgl::LoadOBJ(text, Obj("cube_.obj")));
        QCOMPARE(text.fCount, 6);
        QCOMPARE(FMessages->count(), size_t(0));

        // A KGM that cannot be written: the failure leaves the handler and reaches the
        // toolkit's error dialog; the loop goes on.
        std::filesystem::remove(Obj("cube.kgm"));
        std::filesystem::create_directories(Obj("cube.kgm/inside"));
        bool thrown = false;
        try {
            form.Button3Click(form.Button3);
        } catch (const kgl::EModelError&) {
            thrown = true;
        }
        QVERIFY(thrown);
        QVERIFY(FErrors.empty());
        QMetaObject::invokeMethod(form.Button3, "click", Qt::QueuedConnection);
        QTRY_COMPARE(FErrors.size(), size_t(1));
        QVERIFY(std::filesystem::is_directory(Obj("cube.kgm/inside")));
        WaitForFrames(form);
    }

    void MissingObjFolderAndChecker() {
        Prepare(false, false);
        TForm1& form = Open();
        QCOMPARE(FMessages->count(), size_t(1));  // the texture loader's
        QCOMPARE(FErrors.size(), size_t(1));       // the folder's, as an escaped exception
        QVERIFY(FErrors[0].find("obj") != std::string::npos);
        QCOMPARE(TextureId, uint32_t(0));
        QCOMPARE(Model.fCount, 0);
        QVERIFY(form.isVisible());
        WaitForFrames(form);  // the window works all the same
        QCOMPARE(form.Label1->Caption(), QString("-"));  // creation stopped before the load
    }

    void MissingCheckerOnly() {
        Prepare(true, false);
        WriteKgm(Obj("a.kgm"), kCubeObj);
        WriteKgm(Obj("b.kgm"), kTriangleObj);
        TForm1& form = Open();
        QCOMPARE(FMessages->count(), size_t(1));
        QCOMPARE(TextureId, uint32_t(0));
        QCOMPARE(Model.vCount, 3);  // the model loads and is drawn untextured
        WaitForFrames(form);
    }

    void CloseReleasesModel() {
        Prepare();
        WriteKgm(Obj("a.kgm"), kCubeObj);
        WriteKgm(Obj("b.kgm"), kTriangleObj);
        TForm1& form = Open();
        QVERIFY(!Model.vertices.empty());
        form.close();
        QVERIFY(Model.vertices.empty() && Model.groups.empty() && Model.edges.empty());
        // Closing a window that never loaded anything releases nothing twice.
        FForm.reset();
        Prepare(true, true);
        TForm1& empty = Open();
        empty.close();
        empty.FormClose(&empty);
        QVERIFY(Model.vertices.empty());
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TWindowTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_window.moc"
