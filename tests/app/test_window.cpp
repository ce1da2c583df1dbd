// The editor window under a real (virtual) X display: the controls, start-up, the
// file list, the information text, the track bars, the frame and the mouse; and what
// goes beyond the design: undo, the file dialogs, saves, progress, the orbit camera.
// Messages are recorded, never shown, and the dialogs are answered by the test, so
// nothing here waits on a dialog.
#include <GL/gl.h>
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QImage>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <QUndoStack>
#include <QUrl>
#include <QWheelEvent>
#include <cmath>
#include <csignal>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>

#include "Application.h"
#include "KGLDisplay.h"
#include "KGLModel.h"
#include "OpenGlPanel.h"
#include "Unit1.h"
#include "dialogs.h"
#include "errors.h"
#include "export.h"
#include "import.h"
#include "model_files.h"
#include "test_support.h"
#include "undo_history.h"
#include "work_progress.h"

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

// An n x n grid of triangle pairs, enough faces for the reduction to show. With
// texture coordinates, each vertex has two vt lines of one value: the first triangle of
// a pair uses the first, the second the other, so the rewrite halves the table.
std::string GridObj(int n, bool withTex = false) {
    std::string s = "g default\ng grid\n";
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i)
            s += "v " + std::to_string(i) + " " + std::to_string(j) + " " + std::to_string((i * j) % 3) + "\n";
    const int vertices = (n + 1) * (n + 1);
    for (int copy = 0; withTex && copy < 2; ++copy)
        for (int k = 0; k < vertices; ++k)
            s += "vt " + std::to_string(k % (n + 1)) + " " + std::to_string(k / (n + 1)) + "\n";
    auto at = [&](int i, int j, int copy) {
        const int v = j * (n + 1) + i + 1;
        return withTex ? std::to_string(v) + "/" + std::to_string(v + copy * vertices) : std::to_string(v);
    };
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            s += "f " + at(i, j, 0) + " " + at(i + 1, j, 0) + " " + at(i + 1, j + 1, 0) + "\n";
            s += "f " + at(i, j, 1) + " " + at(i + 1, j + 1, 1) + " " + at(i, j + 1, 1) + "\n";
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

void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons held,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, held, modifiers);
    QApplication::sendEvent(w, &e);
}

// A press at from, moves to each of through, the release at the last: one stroke or drag.
void Drag(QWidget* w, Qt::MouseButton button, QPoint from, std::initializer_list<QPoint> through,
          Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    SendMouse(w, QEvent::MouseMove, from, Qt::NoButton, Qt::NoButton, modifiers);
    SendMouse(w, QEvent::MouseButtonPress, from, button, button, modifiers);
    QPoint at = from;
    for (QPoint p : through) SendMouse(w, QEvent::MouseMove, at = p, Qt::NoButton, button, modifiers);
    SendMouse(w, QEvent::MouseButtonRelease, at, button, Qt::NoButton, modifiers);
}

// What a step of the history changes, as the user sees it.
struct TShown {
    std::vector<kgl::TBool> faceSel;
    int visible = 0, t1 = 0, t3 = 0, tCount = 0;
    friend bool operator==(const TShown&, const TShown&) = default;
};

// A wheel turned by dy eighths of a degree (120 a notch) over the middle of w.
void SendWheel(QWidget* w, int dy) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, dy), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                  false);
    QApplication::sendEvent(w, &e);
}

// Drags the given paths onto w and drops them there, as a file manager does; returns
// whether w took the drop.
bool DropPaths(QWidget* w, const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
    data.setUrls(urls);
    const QPoint at(w->width() / 2, w->height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &drop);
    return drop.isAccepted();
}

}  // namespace

class TWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTempDir> FTemp;
    std::unique_ptr<TMessageRecorder> FMessages;
    std::vector<std::string> FErrors;  // texts the toolkit's error dialog would show
    // The cursor shape in force when each message came (-1: none set): a message from
    // inside a load or a save shows what the user saw meanwhile.
    std::vector<int> FCursorAtMessage;
    kgl::TMessageHandler FRecorderHandler;
    std::unique_ptr<TForm1> FForm;
    QString FStartDir;
    // Answers to the dialogs the window runs, in order; a dialog without one is rejected
    // and counted.
    std::deque<std::function<int(QDialog&)>> FAnswers;
    int FUnanswered = 0;
    TDialogRunner FRunner;
    std::unique_ptr<QTemporaryDir> FSettings;  // the settings store of this test alone

    std::string ObjDir() const { return FTemp->file("prog/obj"); }
    std::string Obj(const std::string& name) const { return ObjDir() + "/" + name; }

    // A program folder prog/ (with obj/ unless told otherwise) and a start folder
    // run/ holding checker.jpg unless told otherwise.
    void Prepare(bool withObj = true, bool withChecker = true) {
        FTemp = std::make_unique<TTempDir>();
        std::filesystem::create_directories(FTemp->file("prog"));
        std::filesystem::create_directories(FTemp->file("run"));
        if (withObj) std::filesystem::create_directories(ObjDir());
        if (withChecker) std::filesystem::copy_file(KGL_BIN_DIR "/checker.jpg", FTemp->file("run/checker.jpg"));
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

    // Waits until frames are drawn, so the view's matrices are those of a real frame:
    // the caption's first count of them, then two more passes of the loop, each of
    // which draws one, so a frame has begun and ended since the call.
    void WaitForFrames(TForm1& form) {
        QTRY_VERIFY_WITH_TIMEOUT(form.windowTitle().endsWith(" FPS"), 5000);
        const long long passes = TApplication::Instance()->IdlePasses();
        QTRY_VERIFY(TApplication::Instance()->IdlePasses() >= passes + 2);
    }

    // A file for obj/: the OBJ text as it stands, or saved as KGM when the name ends
    // in ".kgm".
    struct TModelFile {
        std::string name;
        std::string obj;
    };
    // The folder most tests start from: the editor loads the second file at start.
    static std::vector<TModelFile> CubeAndTriangleKgm() { return {{"a.kgm", kCubeObj}, {"b.kgm", kTriangleObj}}; }

    // The window, opened on a program folder whose obj/ holds files and a start folder
    // run/ holding checker.jpg unless told otherwise.
    TForm1& OpenWith(const std::vector<TModelFile>& files, bool withChecker = true) {
        Prepare(true, withChecker);
        for (const TModelFile& f : files) {
            if (f.name.ends_with(".kgm"))
                WriteKgm(Obj(f.name), f.obj.c_str());
            else
                WriteFile(Obj(f.name), f.obj);
        }
        return Open();
    }

    // OBJ files in obj/, listed with "OBJ", and the one in the list's row loaded by a
    // click on it.
    TForm1& OpenObjs(const std::vector<TModelFile>& files, int row = 0) {
        TForm1& form = OpenWith(files);
        ClickButton(form.RadioButton1);
        ClickEntry(form.FileListBox, row);
        return form;
    }
    TForm1& OpenObj(const char* name, const std::string& text) { return OpenObjs({{name, text}}); }

    // One OBJ model alone, seen straight along -Z (no quarter turn, outline or boxes),
    // loaded by a click, with frames running.
    TForm1& OpenPlain(const char* name, const std::string& text) {
        TForm1& form = OpenObj(name, text);
        form.CheckBox2->setChecked(false);
        form.CheckBox3->setChecked(false);
        form.CheckBox4->setChecked(false);
        WaitForFrames(form);
        return form;
    }

private slots:
    void init() {
        kgl::SetImporterProgram(KGL_BIN_DIR "/kglmodel-import");
        kgl::SetExporterProgram(KGL_BIN_DIR "/kglmodel-export");
        FStartDir = QDir::currentPath();
        FMessages = std::make_unique<TMessageRecorder>();
        FCursorAtMessage.clear();
        FRecorderHandler = kgl::SetMessageHandler({});
        kgl::SetMessageHandler([this](const std::string& caption, const std::string& text) {
            const QCursor* c = QGuiApplication::overrideCursor();
            FCursorAtMessage.push_back(c ? static_cast<int>(c->shape()) : -1);
            FRecorderHandler(caption, text);
        });
        FErrors.clear();
        QLocale::setDefault(QLocale::c());
        TApplication::Instance()->SetErrorDialog([this](const std::string& text) { FErrors.push_back(text); });
        FSettings = std::make_unique<QTemporaryDir>();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, FSettings->path());
        FAnswers.clear();
        FUnanswered = 0;
        FRunner = SetDialogRunner([this](QDialog& dialog) {
            if (FAnswers.empty()) {
                ++FUnanswered;
                return int(QDialog::Rejected);
            }
            auto answer = std::move(FAnswers.front());
            FAnswers.pop_front();
            return answer(dialog);
        });
    }
    void cleanup() {
        FForm.reset();
        SetDialogRunner(FRunner);
        TWorkProgress::ShowAfterMs = 500;
        TWorkProgress::OnShown = {};
        Form1 = nullptr;
        kgl::SetMessageHandler(FRecorderHandler);
        FMessages.reset();
        QLocale::setDefault(QLocale::c());
        QDir::setCurrent(FStartDir);
        FTemp.reset();
    }

    void ControlsAsDesigned() {
        TForm1& form = OpenWith({});
        // the design's size below the menu bar
        QCOMPARE(form.size(), QSize(774, 452 + form.MenuBar->height()));
        QCOMPARE(form.MenuBar->geometry().bottom() + 1, form.Panel1->y());
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
        // What the user sees: a narrow and a wide letter take the same room.
        const QFontMetricsF info(form.Label1->font());
        QCOMPARE(info.horizontalAdvance(QChar('i')), info.horizontalAdvance(QChar('M')));
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
        QCOMPARE(form.Timer1->Interval(), 1);
        QVERIFY(form.Timer1->Enabled());
        QVERIFY(!form.OpenGlPanel->WireFrame());
    }

    void StartupLoadsSecondKgm() {
        TForm1& form = OpenWith({{"a.kgm", kCubeObj}, {"b.kgm", kTriangleObj}, {"c.obj", kCubeObj}});
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
        TForm1& form = OpenWith({{"only.kgm", kCubeObj}});
        QCOMPARE(form.FileListBox->ItemIndex(), -1);
        QCOMPARE(InfoLines(form),
                 (QStringList{"name: ", "vCount: 0", "nCount: 0", "tCount: 0", "gCount: 0", "fCount: 0", "eCount: 0",
                              "minArea: 0.00", "maxArea: 0.00", "scale: 0.00"}));
        WaitForFrames(form);  // an empty model draws only the axes
    }

    void InfoTextOfCube() {
        TForm1& form = OpenObj("cube.obj", kCubeObj);
        QCOMPARE(ListEntries(form.FileListBox), QStringList{"cube.obj"});
        QCOMPARE(InfoLines(form),
                 (QStringList{"name: CUBE", "vCount: 8", "nCount: 0", "tCount: 0", "gCount: 1", "fCount: 6",
                              "eCount: 12", "minArea: 2.00", "maxArea: 2.00", "scale: 3.46"}));
        // Under a German locale the three numbers take its decimal comma.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        ClickEntry(form.FileListBox, 0);
        QCOMPARE(InfoLines(form).mid(7), (QStringList{"minArea: 2,00", "maxArea: 2,00", "scale: 3,46"}));
        QLocale::setDefault(QLocale::c());
        // A name's bytes as the window shows them: UTF-8 where they are, Latin-1 where not
        // (the file and the record keep the bytes).
        const std::string obj = std::string(kCubeObj);
        const std::pair<std::string, QString> names[] = {
            {"\xD0\x9A\xD1\x83\xD0\xB1"
             "1",
             QString::fromUtf8("\u041A\u0443\u0431"
                               "1")},  // Куб1
            {"W\xFC"
             "RFEL",
             QString::fromUtf8("W\u00FCRFEL")},                                             // a Latin-1 exporter
            {"\xF0\x9F\x99\x82 \xC3", QString::fromUtf8("\U0001F642 \u00C3")},              // a cut sequence at the end
            {"\xC0\xAF\xED\xA0\x80", QString::fromUtf8("\u00C0\u00AF\u00ED\u00A0\u0080")},  // overlong, surrogate
        };
        for (const auto& [bytes, shown] : names) {
            WriteFile(Obj("cube.obj"), "g default\ng " + bytes + "\n" + obj.substr(obj.find('v')));
            ClickEntry(form.FileListBox, 0);
            QCOMPARE(Model.name, bytes);
            QCOMPARE(InfoLines(form).value(0), QString("name: ") + shown);
        }
    }

    void FixedPitchFaceWhateverTheFamilyMatches() {
        // Designed, proportional, generic and unknown families: the face chosen always
        // gives a narrow and a wide letter the same advance.
        for (const char* family : {"Courier New", "DejaVu Sans", "Sans Serif", "Serif", "No Such Family"}) {
            const QFont font = FixedPitchFont(QString::fromLatin1(family), 11);
            const QFontMetricsF m(font);
            QVERIFY2(m.horizontalAdvance(QChar('i')) == m.horizontalAdvance(QChar('M')), family);
            QVERIFY2(m.horizontalAdvance(QChar('.')) == m.horizontalAdvance(QChar('0')), family);
            QCOMPARE(font.pixelSize(), 11);
        }
    }

    void ObjMaskAnyCaseKeepsModel() {
        std::vector<TModelFile> files = CubeAndTriangleKgm();
        for (const char* name : {"C.OBJ", "d.obj", "e.Obj", "f.txt", "g.objx", "h.kgm.bak"})
            files.push_back({name, kCubeObj});
        TForm1& form = OpenWith(files);
        std::filesystem::create_directories(Obj("dir.obj"));  // a folder is not a file
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
        TForm1& form = OpenWith(CubeAndTriangleKgm());
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
        TForm1& form = OpenObjs({{"grid.obj", GridObj(20)}, {"plane.obj", kPlaneObj}});
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
        TForm1& form = OpenObj("grid.obj", GridObj(20));
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

    // Ctrl+E: the error order, with the reduction of the track bar moved last applied again.
    void CtrlEOrdersEdgesByErrorAndReducesAgain() {
        TForm1& form = OpenObj("grid.obj", GridObj(20));
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        kgl::TKGLModel expected;
        QVERIFY(kgl::LoadOBJFromMemory(expected, GridObj(20)));
        for (auto [bar, position] : {std::pair{form.TrackBar3, 50}, std::pair{form.TrackBar1, 30}}) {
            bar->SetPosition(position);
            QTest::keyClick(form.FileListBox, Qt::Key_E, Qt::ControlModifier);
            QCOMPARE(form.LastNotice(), QStringLiteral("Edges ordered by geometric error"));
            QCOMPARE(form.History().Stack().count(), 0);  // its steps named edges by their old places
            kgl::OrderEdgesByError(expected);
            kgl::Reduce(expected, position / 100.0);
            QCOMPARE(VisibleFaces(Model), VisibleFaces(expected));
            for (int32_t e = 0; e <= Model.eCount; ++e) {
                QCOMPARE(Model.edges[e].face, expected.edges[e].face);
                QCOMPARE(Model.edges[e].corner0, expected.edges[e].corner0);
            }
        }
        ClickEntry(form.FileListBox, 0);  // loaded anew at full detail, TrackBar1 still at 30
        QTest::keyClick(form.FileListBox, Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(VisibleFaces(Model), 800);
    }

    // Ctrl+E on a model that takes a while: with progress; cancelled, the table, the
    // reduction and the history stay.
    void CancelledEdgeOrderKeepsTheTable() {
        TForm1& form = OpenObj("grid.obj", GridObj(150));
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.TrackBar3->SetPosition(40);
        const std::string before = kgl::SaveToKGMBytes(Model);
        const int steps = form.History().Stack().count();
        TWorkProgress::ShowAfterMs = 0;
        int dialogs = 0;
        TWorkProgress::OnShown = [&](QProgressDialog& d) {
            ++dialogs;
            d.cancel();
        };
        QTest::keyClick(form.FileListBox, Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(dialogs, 1);
        QVERIFY(kgl::SaveToKGMBytes(Model) == before);
        QCOMPARE(form.History().Stack().count(), steps);
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    }

    // Ctrl+T: the quads cut into triangles and reduced as the bar shows, one undo step that
    // gives the very model back and redoes it; Ctrl+E tells once that a model of polygons
    // is better cut first; a model of triangles is no step; a cancel leaves the model.
    void CtrlTTriangulatesAsOneUndoStep() {
        TForm1& form = OpenPlain("plane.obj", kPlaneObj);
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(form.FileListBox, Qt::Key_E, Qt::ControlModifier);
        QVERIFY2(form.LastNotice().contains("Ctrl+T"), qPrintable(form.LastNotice()));
        QTest::keyClick(form.FileListBox, Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(form.LastNotice(), QStringLiteral("Edges ordered by geometric error"));  // told once

        form.TrackBar3->SetPosition(30);
        const std::string quads = kgl::SaveToKGMBytes(Model);
        const int steps = form.History().Stack().count();
        QTest::keyClick(form.FileListBox, Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(form.LastNotice(), QStringLiteral("4 faces cut into 8 triangles"));
        kgl::TKGLModel expected;
        QVERIFY(kgl::LoadOBJFromMemory(expected, kPlaneObj));
        QVERIFY(kgl::TriangulateFaces(expected));
        kgl::Reduce(expected, 0.3);
        const std::string triangles = kgl::SaveToKGMBytes(Model);
        QVERIFY(triangles == kgl::SaveToKGMBytes(expected));
        QCOMPARE(form.History().Stack().count(), steps + 1);
        QVERIFY(form.Label1->Caption().contains("fCount: 8"));
        form.Undo();
        QVERIFY(kgl::SaveToKGMBytes(Model) == quads);
        QVERIFY(form.Label1->Caption().contains("fCount: 4"));
        form.Redo();
        QVERIFY(kgl::SaveToKGMBytes(Model) == triangles);
        QTest::keyClick(form.FileListBox, Qt::Key_T, Qt::ControlModifier);  // nothing left to cut
        QCOMPARE(form.History().Stack().count(), steps + 1);
        QVERIFY(kgl::SaveToKGMBytes(Model) == triangles);
        QVERIFY(form.LastNotice().startsWith("No face has more than three corners"));

        // a cancel, on quads enough for the work to report
        constexpr int kSide = 300;  // 90,000 quads: the work reports every 65,536 faces
        std::string grid = "g quads\n";
        for (int j = 0; j <= kSide; ++j)
            for (int i = 0; i <= kSide; ++i) grid += "v " + std::to_string(i) + " " + std::to_string(j) + " 0\n";
        for (int j = 0; j < kSide; ++j)
            for (int i = 0; i < kSide; ++i) {
                const int v = j * (kSide + 1) + i + 1;
                grid += "f " + std::to_string(v) + " " + std::to_string(v + 1) + " " + std::to_string(v + kSide + 2) +
                        " " + std::to_string(v + kSide + 1) + "\n";
            }
        TForm1& big = OpenPlain("quads.obj", grid);
        big.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&big));
        const std::string before = kgl::SaveToKGMBytes(Model);
        TWorkProgress::ShowAfterMs = 0;
        int dialogs = 0;
        TWorkProgress::OnShown = [&](QProgressDialog& d) {
            ++dialogs;
            d.cancel();
        };
        QTest::keyClick(big.FileListBox, Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(dialogs, 1);
        QVERIFY(kgl::SaveToKGMBytes(Model) == before);
        QCOMPARE(big.History().Stack().count(), 0);
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    }

    void FacePickSelectsDeselectsAndDragPaints() {
        TForm1& form = OpenPlain("plane.obj", kPlaneObj);  // straight down -Z onto the plane
        QVERIFY(Model.faceSel.empty());                    // "Face" checked at start, but not yet clicked
        ClickButton(form.RadioButton6);
        QCOMPARE(Model.faceSel.size(), size_t(Model.fCount + 2));

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
        TForm1& form = OpenObj("plane.obj", kPlaneObj);
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
        TForm1& form = OpenObjs({{"cube.obj", kCubeObj}, {"plane.obj", kPlaneObj}}, 1);
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
        TForm1& form = OpenObj("cube.obj", kCubeObj);
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
        QTRY_VERIFY(std::fabs(modelView()[14] - static_cast<float>(10 - d - 50 * d / 10)) < 1e-4);
        // The quarter turn about X takes the model's +Y to the eye's +Z.
        form.CheckBox2->setChecked(true);
        QTRY_VERIFY(std::fabs(modelView()[6] - 1.0f) < 1e-6);
    }

    void FrameShowsModelAndAxes() {
        TForm1& form = OpenPlain("cube.obj", kCubeObj);
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
        TForm1& form = OpenWith({{"plane.obj", kPlaneObj}});
        QTRY_VERIFY_WITH_TIMEOUT(form.windowTitle().startsWith("Kestivan Graphics Library OBJ/KGM editor  "), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(ShownFps > 0, 5000);
        QCOMPARE(form.windowTitle(), QString("Kestivan Graphics Library OBJ/KGM editor  %1 FPS").arg(ShownFps));
    }

    void RotateAddsPerTick() {
        TForm1& form = OpenWith({});
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
        const long long ticks0 = form.Timer1->Ticks();
        QTRY_VERIFY(form.Timer1->Ticks() >= ticks0 + 2);  // ticks go on, adding nothing
        QCOMPARE(RotationAngle, stopped);
        QCOMPARE(form.Label2->Caption(), QString::number(Model.drawCount));
    }

    void SpinFollowsTheClockNotTheFrames() {
        // Started before the window, so before its timer: every tick it ever raised
        // fell due within this clock's time.
        QElapsedTimer clock;
        clock.start();
        TForm1& form = OpenObj("cube.obj", kCubeObj);
        long long frames = 0;  // frames drawn back to back, as fast as this context allows
        const auto draw = form.OpenGlPanel->glDraw;
        form.OpenGlPanel->glDraw = [&](TOpenGlBasePanel* sender) {
            draw(sender);
            ++frames;
        };
        WaitForFrames(form);
        form.CheckBox1->setChecked(true);
        const long long ticks0 = form.Timer1->Ticks();
        const double angle0 = RotationAngle;
        QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() >= 2000 && frames >= 20, 20000);
        const long long ticks = form.Timer1->Ticks();
        const double seconds = clock.nsecsElapsed() / 1e9;
        qInfo("%lld ticks and %lld frames in %.2f s", ticks, frames, seconds);
        // At most 64 ticks a second, however many frames were drawn meanwhile; a slow
        // pass of the loop (a busy machine) can only lower the count.
        QVERIFY2(ticks <= 64 * seconds + 1, qPrintable(QString::number(ticks)));
        QVERIFY(ticks > ticks0);
        QVERIFY(std::fabs(RotationAngle - angle0 - 0.8 * (ticks - ticks0)) < 1e-6);
    }

    void TriangleCountShown() {
        TForm1& form = OpenObj("grid.obj", GridObj(10));
        WaitForFrames(form);
        QTRY_COMPARE_WITH_TIMEOUT(form.Label2->Caption(), QString::number(Model.drawCount), 2000);
        QVERIFY(Model.drawCount >= 200);
    }

    void Button1RefreshesTCount() {
        TForm1& form = OpenObj("quad.obj", kDuplicateTexObj);
        QCOMPARE(InfoLines(form).value(3), QString("tCount: 8"));
        QTest::mouseClick(form.Button1, Qt::LeftButton);
        QCOMPARE(InfoLines(form).value(3), QString("tCount: 4"));
        QCOMPARE(Model.tCount, 4);
    }

    void SaveHandlersWriteBesideSelected() {
        TForm1& form = OpenObj("cube.obj", kCubeObj);
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
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);  // the busy cursor went with it
        QVERIFY(FErrors.empty());
        QMetaObject::invokeMethod(form.Button3, "click", Qt::QueuedConnection);
        QTRY_COMPARE(FErrors.size(), size_t(1));
        QVERIFY(std::filesystem::is_directory(Obj("cube.kgm/inside")));
        // An OBJ that cannot be written: its message comes while the save runs, under
        // the busy cursor, which is gone once the save is over.
        std::filesystem::remove(Obj("cube_.obj"));
        std::filesystem::create_directories(Obj("cube_.obj/inside"));
        form.Button2Click(form.Button2);
        QCOMPARE(FMessages->count(), size_t(1));
        QCOMPARE(FCursorAtMessage, std::vector<int>{int(Qt::WaitCursor)});
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        WaitForFrames(form);
    }

    void MissingObjFolderAndChecker() {
        Prepare(false, false);
        TForm1& form = Open();
        QCOMPARE(FMessages->count(), size_t(1));  // the texture loader's
        QCOMPARE(FErrors.size(), size_t(1));      // the folder's, as an escaped exception
        QVERIFY(FErrors[0].find("obj") != std::string::npos);
        QCOMPARE(TextureId, uint32_t(0));
        QCOMPARE(Model.fCount, 0);
        QVERIFY(form.isVisible());
        WaitForFrames(form);                             // the window works all the same
        QCOMPARE(form.Label1->Caption(), QString("-"));  // creation stopped before the load
    }

    void MissingCheckerOnly() {
        TForm1& form = OpenWith(CubeAndTriangleKgm(), false);
        QCOMPARE(FMessages->count(), size_t(1));
        QCOMPARE(TextureId, uint32_t(0));
        QCOMPARE(Model.vCount, 3);  // the model loads and is drawn untextured
        WaitForFrames(form);
    }

    void WheelMovesTheCameraTrackBar() {
        // a plane of diagonal 80: the track bar's steps suit it from 80 units away
        const std::string big =
            "g default\ng plane\nv -28.28 -28.28 0\nv 28.28 -28.28 0\nv 28.28 28.28 0\nv -28.28 28.28 0\nf 1 2 3 4\n";
        TForm1& form = OpenObjs({{"plane.obj", big}, {"tiny.obj", "v 0 0 0\nv 0.05 0 0\nv 0 0.05 0\nf 1 2 3\n"}});
        ClickButton(form.RadioButton6);
        QWidget* view = form.OpenGlPanel;
        // (wheel deltas, TrackBar2 after them): a notch is 120, up brings the camera nearer
        const std::vector<std::pair<std::vector<int>, int>> cases = {
            {{120}, 1},        {{120, 120, 120}, 4}, {{-120}, 3},  {{60}, 3},   {{60}, 4},
            {{40, 40, 40}, 5}, {{360}, 8},           {{-2400}, 0}, {{-120}, 0},  // stops at Min
        };
        for (const auto& [deltas, expected] : cases) {
            for (int d : deltas) SendWheel(view, d);
            QCOMPARE(form.TrackBar2->Position(), expected);
        }
        QCOMPARE(form.Orbit().dolly, 0.0);
        form.TrackBar2->SetPosition(75);  // five units from the centre
        SendWheel(view, 600);
        QCOMPARE(form.TrackBar2->Position(), 79);  // within a unit: a tenth of the way a notch
        QVERIFY(form.Orbit().dolly > 0 && form.Orbit().dolly < 1);
        // A model of diagonal 0.05 moves by a tenth of the way a notch, the bar never.
        ClickEntry(form.FileListBox, 1);
        const double d = Model.diagonal;
        SendWheel(view, 240);
        QCOMPARE(form.TrackBar2->Position(), 0);
        QVERIFY(std::fabs(form.Orbit().dolly - d * (1 - 0.81)) < 1e-6 * d);
        QTest::keyClick(form.OpenGlPanel, Qt::Key_Home);  // framed again
        QVERIFY(form.Orbit().AtRest());
        ClickEntry(form.FileListBox, 0);
        form.TrackBar2->SetPosition(40);
        WaitForFrames(form);
        // The middle button picks nothing and leaves the track bars alone (it orbits).
        kgl::PickPixel = {7, 7, 7};
        const QPoint centre(view->width() / 2, view->height() / 2);
        Drag(view, Qt::MiddleButton, centre, {centre + QPoint(3, 3)});
        QVERIFY((kgl::PickPixel == std::array<uint8_t, 3>{7, 7, 7}));
        QCOMPARE(form.TrackBar2->Position(), 40);
        QVERIFY(!form.Orbit().AtRest());
    }

    void DroppingOpensModelsAndFolders() {
        TForm1& form = OpenWith(CubeAndTriangleKgm());
        const std::string other = FTemp->file("other");
        std::filesystem::create_directories(other + "/empty");
        WriteFile(other + "/Plane.OBJ", kPlaneObj);
        WriteFile(other + "/z.obj", kCubeObj);
        WriteKgm(other + "/cube.KGM", kCubeObj);
        WriteFile(other + "/notes.txt", "not a model");
        WriteFile(other + "/broken.obj", "v 1 2\nf 1 2 3\n");
        const QString dir = QString::fromStdString(other);
        QCOMPARE(Model.vCount, 3);

        // A model file of either kind, any letter case: its folder, its kind, itself,
        // loaded as a click loads it (TrackBar2 back at 0, the information text anew).
        form.TrackBar2->SetPosition(30);
        QVERIFY(DropPaths(form.OpenGlPanel->window(), {dir + "/Plane.OBJ"}));
        QTRY_COMPARE(Model.fCount, 4);
        QCOMPARE(form.FileListBox->Directory(), dir);
        QVERIFY(form.RadioButton1->isChecked());
        QCOMPARE(ListEntries(form.FileListBox), (QStringList{"broken.obj", "Plane.OBJ", "z.obj"}));
        QCOMPARE(form.FileListBox->FileName(), dir + "/Plane.OBJ");
        QCOMPARE(InfoLines(form).value(0), QString("name: PLANE"));
        QCOMPARE(form.TrackBar2->Position(), 0);
        QVERIFY(DropPaths(&form, {dir + "/cube.KGM", dir + "/z.obj"}));  // the first of several
        QTRY_COMPARE(Model.vCount, 8);
        QVERIFY(form.RadioButton2->isChecked());
        QCOMPARE(form.FileListBox->Mask(), QString("*.KGM"));
        QCOMPARE(form.FileListBox->ItemIndex(), 0);

        // Another format: its folder with nothing selected, loaded through the importer.
        std::filesystem::copy_file("/usr/share/assimp/models/PLY/cube.ply", other + "/cube.PLY");
        Model.fCount = 0;
        QVERIFY(DropPaths(&form, {dir + "/cube.PLY"}));
        QTRY_COMPARE(Model.fCount, 6);
        QCOMPARE(form.FileListBox->Directory(), dir);
        QCOMPARE(form.FileListBox->FileName(), QString());
        QCOMPARE(InfoLines(form).value(5), QString("fCount: 6"));
        QVERIFY(DropPaths(&form, {dir + "/cube.KGM"}));
        QTRY_COMPARE(form.FileListBox->FileName(), dir + "/cube.KGM");

        // A folder: the list shows it, nothing is loaded.
        QVERIFY(DropPaths(&form, {dir + "/empty"}));
        QTRY_COMPARE(form.FileListBox->Directory(), dir + "/empty");
        QCOMPARE(form.FileListBox->count(), 0);
        QCOMPARE(Model.vCount, 8);
        QCOMPARE(FMessages->count(), size_t(0));

        // Anything else: one message of one line; the model on display stays.
        const QString missing = dir + "/gone.obj";
        for (const QString& path : {dir + "/notes.txt", missing}) {
            const size_t before = FMessages->count();
            QVERIFY(DropPaths(&form, {path}));
            QTRY_COMPARE(FMessages->count(), before + 1);
            QVERIFY(FMessages->lastText().find('\n') == std::string::npos);
            QVERIFY(FMessages->lastText().find(path.toStdString()) != std::string::npos);
            QCOMPARE(Model.vCount, 8);
        }
        // A file that does not load: the reader's message (shown under the busy
        // cursor, which goes once the load is over) and the model stays.
        const size_t before = FMessages->count();
        QVERIFY(DropPaths(&form, {dir + "/broken.obj"}));
        QTRY_COMPARE(FMessages->count(), before + 1);
        QVERIFY(FMessages->lastText().rfind("Exception Name: ", 0) == 0);
        QCOMPARE(FCursorAtMessage.back(), int(Qt::WaitCursor));
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        QCOMPARE(Model.vCount, 8);
        // What is not a local file is not taken.
        QMimeData text;
        text.setText("cube.obj");
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &enter);
        QVERIFY(!enter.isAccepted());
        WaitForFrames(form);
    }

    void CommandLinePathOpensAfterStartUp() {
        TForm1& form = OpenWith(CubeAndTriangleKgm());
        std::filesystem::create_directories(FTemp->file("run/models"));
        WriteFile(FTemp->file("run/models/plane.obj"), kPlaneObj);
        const QString run = QString::fromStdString(FTemp->file("run"));
        QVERIFY(TextureId != 0);  // the start-up found checker.jpg in the start folder
        // No argument: the start-up's choice stays.
        form.OpenArguments({"kgl-editor"}, run);
        QCOMPARE(Model.vCount, 3);
        QCOMPARE(FMessages->count(), size_t(0));
        // A relative path counts from the start folder, not from the list's.
        form.OpenArguments({"kgl-editor", "models/plane.obj"}, run);
        QCOMPARE(Model.fCount, 4);
        QCOMPARE(form.FileListBox->Directory(), run + "/models");
        QVERIFY(form.RadioButton1->isChecked());
        QCOMPARE(form.FileListBox->ItemIndex(), 0);
        form.OpenArguments({"kgl-editor", "."}, run);  // a folder
        QCOMPARE(form.FileListBox->Directory(), run);
        QCOMPARE(Model.fCount, 4);
        // More than one path, an empty one, a missing one: a message each, model kept.
        form.OpenArguments({"kgl-editor", "models", "models/plane.obj"}, run);
        form.OpenArguments({"kgl-editor", ""}, run);
        form.OpenArguments({"kgl-editor", "models/none.kgm"}, run);
        QCOMPARE(FMessages->count(), size_t(3));
        QCOMPARE(Model.fCount, 4);
        QCOMPARE(form.FileListBox->Directory(), run);
    }

    void F12SavesThePresentedFrameBesideTheModel() {
        TForm1& form = OpenPlain("cube.obj", kCubeObj);
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        const QImage seen = form.OpenGlPanel->grabFramebuffer();
        const QString first = QString::fromStdString(Obj("cube_view.png"));
        const QString second = QString::fromStdString(Obj("cube_view_2.png"));
        QTest::keyClick(form.FileListBox, Qt::Key_F12);  // wherever the focus is
        QTRY_VERIFY(QFile::exists(first));
        QVERIFY(form.LastNotice().contains(QDir::toNativeSeparators(first)));
        QTRY_VERIFY(QToolTip::isVisible());
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        QImage png(first);
        QCOMPARE(png.size(), QSize(form.OpenGlPanel->PixelWidth(), form.OpenGlPanel->PixelHeight()));
        QCOMPARE(png.size(), seen.size());
        const int w = png.width(), h = png.height();
        for (const QPoint p : {QPoint(w / 2, h / 2), QPoint(w - 8, h / 4)})
            QCOMPARE(png.pixelColor(p).rgb(), seen.pixelColor(p).rgb());
        QVERIFY(png.pixelColor(w / 2, h / 2) != QColor(Qt::black));  // the cube, not a blank
        // A second one does not replace the first.
        QTest::keyClick(form.OpenGlPanel, Qt::Key_F12);
        QTRY_VERIFY(QFile::exists(second));
        QCOMPARE(QImage(first).size(), png.size());
        // No file selected: the list's folder.
        ClickButton(form.RadioButton2);
        QCOMPARE(form.FileListBox->ItemIndex(), -1);
        QCOMPARE(form.SaveViewPicture(), QString::fromStdString(Obj("view.png")));
    }

    void UndoAndRedoEveryKindOfStep() {
        TForm1& form = OpenPlain("grid.obj", GridObj(20, true));
        ClickButton(form.RadioButton6);
        QWidget* view = form.OpenGlPanel;
        const QPoint centre(view->width() / 2, view->height() / 2), right = centre + QPoint(40, 0);
        auto shown = [&form] {
            return TShown{Model.faceSel, VisibleFaces(Model), form.TrackBar1->Position(), form.TrackBar3->Position(),
                          Model.tCount};
        };
        std::vector<TShown> states{shown()};
        // A stroke that paints, a right click that wipes one of its faces again.
        Drag(view, Qt::LeftButton, centre, {right, right + QPoint(0, 40)});
        states.push_back(shown());
        Drag(view, Qt::RightButton, right, {});
        states.push_back(shown());
        // A track bar moved as a key moves it, another dragged: its passing positions
        // are no steps, where it is let go is one.
        form.TrackBar3->SetPosition(30);
        states.push_back(shown());
        form.TrackBar1->setSliderDown(true);
        for (int p : {5, 12, 20}) form.TrackBar1->SetPosition(p);
        form.TrackBar1->setSliderDown(false);
        states.push_back(shown());
        ClickButton(form.Button1);
        states.push_back(shown());
        QCOMPARE(form.History().Stack().count(), 5);
        for (size_t i = 1; i < states.size(); ++i)
            QVERIFY2(!(states[i] == states[i - 1]), qPrintable(QString::number(i)));
        QCOMPARE(states[5].tCount, states[4].tCount / 2);
        ClickButton(form.Button1);  // changes nothing more: no step
        QCOMPARE(form.History().Stack().count(), 5);

        // Back with Ctrl+Z, forth with Ctrl+Y and Ctrl+Shift+Z in turn.
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        for (size_t i = states.size() - 1; i > 0; --i) {
            QTest::keyClick(&form, Qt::Key_Z, Qt::ControlModifier);
            QVERIFY2(shown() == states[i - 1], qPrintable(QString::number(i)));
        }
        for (size_t i = 1; i < states.size(); ++i) {
            if (i % 2)
                QTest::keyClick(&form, Qt::Key_Y, Qt::ControlModifier);
            else
                QTest::keyClick(&form, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
            QVERIFY2(shown() == states[i], qPrintable(QString::number(i)));
        }
        // A load starts a new history.
        ClickEntry(form.FileListBox, 0);
        QCOMPARE(form.History().Stack().count(), 0);
        QCOMPARE(FUnanswered, 0);
        WaitForFrames(form);
    }

    void OpenAndSaveThroughTheDialogs() {
        TForm1& form = OpenObjs({{"cube.obj", kCubeObj}, {"grid.obj", GridObj(10)}}, 1);
        const QString dir = QString::fromStdString(FTemp->file("other"));
        QDir().mkpath(dir);
        WriteFile((dir + "/plane.obj").toStdString(), kPlaneObj);
        // Ctrl+O: the dialog offers every extension LoadModelFile reads, in either case.
        QStringList filters;
        FAnswers.push_back([&](QDialog& d) {
            auto& files = dynamic_cast<QFileDialog&>(d);
            filters = files.nameFilters();
            files.selectFile(dir + "/plane.obj");
            return int(QDialog::Accepted);
        });
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(Model.fCount, 4);
        std::vector<std::string> extensions = kgl::ImportedExtensions();
        extensions.insert(extensions.end(), {".obj", ".kgm"});
        for (const std::string& e : extensions) {
            const QString ext = QString::fromStdString(e);
            QVERIFY2(filters.value(0).contains("*" + ext + " ") && filters.value(0).contains("*" + ext.toUpper()),
                     qPrintable(filters.value(0)));
        }
        FAnswers.push_back([](QDialog&) { return int(QDialog::Rejected); });
        QVERIFY(!form.OpenDialog());
        QCOMPARE(Model.fCount, 4);

        // The files opened last, kept in the settings store, newest first; one reopened.
        const QString grid = QString::fromStdString(Obj("grid.obj"));
        QCOMPARE(TRecentFiles().Files(), (QStringList{dir + "/plane.obj", grid}));
        std::unique_ptr<QMenu> menu(form.RecentMenu());
        QCOMPARE(menu->actions().size(), 2);
        QVERIFY(menu->actions()[1]->text().contains("grid.obj"));
        menu->actions()[1]->trigger();
        QTRY_COMPARE(Model.fCount, 200);
        QCOMPARE(TRecentFiles().Files().value(0), grid);

        // Ctrl+Shift+S: each choice, the extension added when missing; the other formats
        // of the full model and of the model as shown (glTF, STL).
        form.TrackBar3->SetPosition(50);
        const int visible = VisibleFaces(Model);
        struct TCase {
            int filter;
            const char* typed;
            const char* written;
            int fCount, visible;
        };
        for (const TCase& c :
             {TCase{0, "state", "state.kgm", 200, visible}, TCase{1, "full", "full.obj", 200, 200},
              TCase{2, "shown", "shown.obj", visible, visible}, TCase{2, "shown.kgm", "shown.kgm", visible, visible},
              TCase{3, "shown2", "shown2.kgm", visible, visible}, TCase{4, "full", "full.glb", 200, 200},
              TCase{9, "printed", "printed.stl", visible, visible}}) {
            FAnswers.push_back([&](QDialog& d) {
                auto& files = dynamic_cast<QFileDialog&>(d);
                files.selectNameFilter(TModelFiles::SaveFilters()[c.filter]);
                files.selectFile(dir + "/" + c.typed);
                return int(QDialog::Accepted);
            });
            QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
            kgl::TKGLModel back;
            const std::string path = (dir + "/" + c.written).toStdString();
            const bool loaded = path.ends_with(".obj")   ? kgl::LoadOBJ(back, path)
                                : path.ends_with(".kgm") ? kgl::LoadKGM(back, path)  // with its reduction state
                                                         : kgl::LoadModelFile(back, path);
            QVERIFY2(loaded, c.written);
            QCOMPARE(back.fCount, c.fCount);
            QCOMPARE(VisibleFaces(back), c.visible);  // a KGM keeps the reduction state as it was saved
        }
        QCOMPARE(FAnswers.size(), size_t(0));

        // Replacing a file: asked only when it holds another model than the one on display.
        const std::string taken = (dir + "/taken.kgm").toStdString();
        WriteFile(taken, "someone's");
        for (int answer : {int(QMessageBox::No), int(QMessageBox::Yes)}) {
            FAnswers.push_back([&](QDialog& d) {
                dynamic_cast<QFileDialog&>(d).selectFile(QString::fromStdString(taken));
                return int(QDialog::Accepted);
            });
            QString question;
            FAnswers.push_back([&, answer](QDialog& d) {
                question = dynamic_cast<QMessageBox&>(d).text();
                return answer;
            });
            QCOMPARE(form.SaveModelAs(), answer == QMessageBox::Yes);
            QVERIFY(question.contains("taken.kgm"));
        }
        QVERIFY(kgl::test::ReadFile(taken) != "someone's");
        FAnswers.push_back([&](QDialog& d) {
            dynamic_cast<QFileDialog&>(d).selectFile(QString::fromStdString(taken));
            return int(QDialog::Accepted);
        });
        QVERIFY(form.SaveModelAs());  // written from this model: no question now

        // Ctrl+S: KGM beside the selected file, as the hidden "Save To KGM" button writes it.
        QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
        kgl::TKGLModel beside;
        QVERIFY(kgl::LoadKGM(beside, Obj("grid.kgm")));
        QCOMPARE(VisibleFaces(beside), visible);
        QCOMPARE(FUnanswered, 0);
        QCOMPARE(FMessages->count(), size_t(0));
    }

    void SavesLeaveTheOldFileWhenTheyFailOrAreCancelled() {
        TForm1& form = OpenObj("grid.obj", GridObj(150));  // enough records for the writer to report
        const std::string target = Obj("grid.kgm");
        WriteFile(target, "old");
        const auto files = [this] {
            return std::distance(std::filesystem::directory_iterator(ObjDir()), std::filesystem::directory_iterator());
        };
        // A write that fails part way (a file size limit): one message naming the file.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 300;
        FAnswers.push_back([](QDialog&) { return int(QMessageBox::Yes); });  // it holds another model
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool written = form.SaveModel();
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!written);
        QCOMPARE(FMessages->count(), size_t(1));
        QVERIFY2(FMessages->lastText().find("grid.kgm") != std::string::npos, FMessages->lastText().c_str());
        QCOMPARE(kgl::test::ReadFile(target), std::string("old"));
        QCOMPARE(files(), 2);  // no temporary file left beside it

        // Cancelled at its first report: as though it had not been asked for.
        TWorkProgress::ShowAfterMs = 0;
        int dialogs = 0;
        TWorkProgress::OnShown = [&](QProgressDialog& d) {
            ++dialogs;
            d.cancel();
        };
        FAnswers.push_back([](QDialog&) { return int(QMessageBox::Yes); });
        QVERIFY(!form.SaveModel());
        QCOMPARE(dialogs, 1);
        QCOMPARE(kgl::test::ReadFile(target), std::string("old"));
        QCOMPARE(files(), 2);
        QCOMPARE(FMessages->count(), size_t(1));
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        QCOMPARE(FUnanswered, 0);
    }

    void CancelledLoadKeepsTheModelOnDisplay() {
        TForm1& form = OpenObjs({{"a.obj", kCubeObj}, {"big.obj", GridObj(300)}}, 0);
        form.TrackBar2->SetPosition(20);
        TWorkProgress::ShowAfterMs = 0;
        int dialogs = 0;
        TWorkProgress::OnShown = [&](QProgressDialog& d) {
            ++dialogs;
            d.cancel();
        };
        ClickEntry(form.FileListBox, 1);
        QCOMPARE(dialogs, 1);
        QCOMPARE(Model.vCount, 8);
        QCOMPARE(InfoLines(form).value(0), QString("name: CUBE"));
        QCOMPARE(form.FileListBox->ItemIndex(), 0);  // the entry of the model on display
        QCOMPARE(form.TrackBar2->Position(), 20);
        QCOMPARE(FMessages->count(), size_t(0));
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        // Not cancelled, it loads, the dialog up all the while.
        TWorkProgress::OnShown = [&](QProgressDialog&) { ++dialogs; };
        ClickEntry(form.FileListBox, 1);
        QCOMPARE(dialogs, 2);
        QCOMPARE(Model.fCount, 180000);
    }

    void OrbitTurnsTheViewAndPicksStayExact() {
        TForm1& form = OpenPlain("plane.obj", kPlaneObj);
        ClickButton(form.RadioButton6);
        QWidget* view = form.OpenGlPanel;
        const int w = view->width(), h = view->height();
        const QPoint upperRight(w * 7 / 10, h * 3 / 10);
        const double angle = RotationAngle;
        // Half a turn about the vertical axis: the plane seen from behind has its upper
        // left face on the right.
        Drag(view, Qt::MiddleButton, QPoint(40, h / 2), {QPoint(220, h / 2), QPoint(400, h / 2)});
        QCOMPARE(form.Orbit().yaw, 180.0);
        QCOMPARE(RotationAngle, angle);
        QCOMPARE(form.TrackBar1->Position() + form.TrackBar2->Position() + form.TrackBar3->Position(), 0);
        QVERIFY(form.RadioButton6->isChecked());
        QCOMPARE(std::count(Model.faceSel.begin(), Model.faceSel.end(), 1), 0);  // the drag picked nothing
        WaitForFrames(form);
        Drag(view, Qt::LeftButton, upperRight, {});
        QVERIFY(Model.faceSel[3] && !Model.faceSel[4]);

        // Home puts the view back as the track bars say: there lies face 4 again.
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Home);
        QVERIFY(form.Orbit().AtRest());
        WaitForFrames(form);
        Drag(view, Qt::LeftButton, upperRight, {});
        QVERIFY(Model.faceSel[4]);

        // Shift with the middle button pans; a middle double-click puts the view back.
        Drag(view, Qt::MiddleButton, QPoint(100, 100), {QPoint(130, 100)}, Qt::ShiftModifier);
        QVERIFY(form.Orbit().panX > 0 && form.Orbit().panY == 0 && form.Orbit().yaw == 0);
        SendMouse(view, QEvent::MouseButtonDblClick, QPoint(130, 100), Qt::MiddleButton, Qt::MiddleButton);
        QVERIFY(form.Orbit().AtRest());
    }

    void F1ListsEveryKeyAndMouseAction() {
        TForm1& form = OpenWith({});
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(&form, Qt::Key_F1);
        QMessageBox* box = form.findChild<QMessageBox*>();
        QVERIFY(box && box->isVisible() && !box->isModal());
        for (const char* action : {"Ctrl+O", "Ctrl+R", "Ctrl+S", "Ctrl+Shift+S", "Ctrl+Z", "Ctrl+Shift+Z", "Ctrl+Y",
                                   "Ctrl+E", "Home", "F12", "F1", "left button", "right button", "middle drag",
                                   "Shift+middle drag", "middle double-click", "wheel", "Drop"})
            QVERIFY2(box->text().contains(action), action);
        box->close();
    }

    // The menu bar: every key of the window stands at an entry of it, the View entries
    // follow the check boxes both ways, and About names the version.
    void MenuBarHoldsEveryCommandWithItsKeys() {
        TForm1& form = OpenWith({});
        QStringList titles, keys;
        std::map<QString, QAction*> actions;
        for (QAction* menu : form.MenuBar->actions()) {
            titles << menu->text();
            for (QAction* a : menu->menu()->actions()) {
                if (a->isSeparator()) continue;
                const QString text = a->text();
                actions[text.left(text.indexOf('\t')).remove('&')] = a;
                for (const QKeySequence& k : a->shortcuts()) keys << k.toString();
                if (text.contains('\t')) keys << text.mid(text.indexOf('\t') + 1);
            }
        }
        QCOMPARE(titles, (QStringList{"&File", "&Edit", "&View", "&Help"}));
        for (const char* key : {"Ctrl+O", "Ctrl+R", "Ctrl+S", "Ctrl+Shift+S", "F12", "Ctrl+Q", "Ctrl+Z", "Ctrl+Shift+Z",
                                "Ctrl+Y", "Ctrl+E", "Home", "F1"})
            QVERIFY2(keys.contains(QString::fromLatin1(key)), key);
        QAction* wireframe = actions["Wireframe"];
        QVERIFY(wireframe && wireframe->isCheckable() && wireframe->isChecked());
        wireframe->trigger();
        QVERIFY(!form.CheckBox3->isChecked());
        form.CheckBox3->setChecked(true);
        QVERIFY(wireframe->isChecked());
        QVERIFY(actions["Rotate"] && !actions["Rotate"]->isChecked());
        actions["About"]->trigger();
        QMessageBox* about = form.findChild<QMessageBox*>();
        QVERIFY(about && about->isVisible() && !about->isModal());
        QVERIFY2(about->text().contains(QStringLiteral(KGL_VERSION)), qPrintable(about->text()));
        about->close();
    }

    void CloseReleasesModel() {
        TForm1& form = OpenWith(CubeAndTriangleKgm());
        QVERIFY(!Model.vertices.empty());
        form.close();
        QVERIFY(Model.vertices.empty() && Model.groups.empty() && Model.edges.empty());
        // Closing a window that never loaded anything releases nothing twice.
        FForm.reset();
        TForm1& empty = OpenWith({});
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
