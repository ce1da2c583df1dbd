#pragma once
// The editor window: the file list with its OBJ/KGM choice and the information text
// on the left, the OpenGL view in the centre, the selection tools on the right and
// the view controls along the bottom. The window owns the one model on display.
//
// Unit state (one instance each, for the life of the program):
//  - Model        the model on display; every load, save and edit acts on it.
//  - TextureId    texture made from "checker.jpg"; 0 while that file did not load.
//  - RotationAngle spin about the vertical axis in degrees; starts at 0, only grows.
//  - FrameCount   frames drawn since the caption was last updated.
//  - ShownFps     frame count shown in the caption.
//  - LastFpsTick  tick count (ms, wrapping 32-bit) at the last caption update.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "KGLDisplay.h"
#include "KGLModel.h"
#include "window_text.h"

class TOpenGlPanel;
class TOpenGlBasePanel;
class QMouseEvent;
class QWheelEvent;
class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QKeyEvent;
class QMenu;
class QMenuBar;
class TUndoHistory;
class TModelFiles;
class TOrbitCamera;

// ---- toolkit controls the window needs beyond what Qt offers as it stands ----

// The plain files of one folder that match a mask ("*.kgm"; letter case ignored),
// sorted by name without regard to letter case. OnClick is raised when the user
// selects an entry, by mouse or keyboard; never by the program's own changes.
class TFileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TFileListBox(QWidget* owner = nullptr);

    // Points the list at path and re-reads it; the folder becomes the process's
    // current folder. Throws std::runtime_error when path names no folder (the list
    // keeps what it showed).
    void SetDirectory(const QString& path);
    const QString& Directory() const { return FDirectory; }
    // Re-reads the list with the new mask; afterwards no entry is selected.
    void SetMask(const QString& mask);
    const QString& Mask() const { return FMask; }
    // Selects the entry with zero-based index; an index out of range selects nothing.
    void SetItemIndex(int index);
    int ItemIndex() const { return currentRow(); }
    // Index of the entry named name (letter case counts), or -1.
    int IndexOf(const QString& name) const;
    // Full path of the selected file, or an empty text when none is selected.
    QString FileName() const;
    // Re-reads the folder's entries (and makes it the current folder).
    void Update();

    std::function<void(QObject* sender)> OnClick;

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QString FDirectory;
    QString FMask = QStringLiteral("*.*");
    bool FProgramChange = false;  // true while the program itself moves the selection
};

// A slider with Min, Max and Position; every change of Position, by the user or by
// the program, raises OnChange once.
class TTrackBar : public QSlider {
    Q_OBJECT
public:
    explicit TTrackBar(QWidget* owner = nullptr);
    int Min() const { return minimum(); }
    int Max() const { return maximum(); }
    int Position() const { return value(); }
    void SetMin(int v) { setMinimum(v); }
    void SetMax(int v) { setMaximum(v); }
    void SetPosition(int v) { setValue(v); }
    std::function<void(QObject* sender)> OnChange;
};

// A timer as the desktop's: raises OnTimer on the user-interface thread every
// Interval milliseconds, but never more often than the system timer's resolution
// (kTimerResolutionMs, 64 ticks a second) allows, however fast the loop runs. Ticks
// follow the clock, not the passes of the loop: a pass that comes late (a slow frame)
// raises the ticks that fell due meanwhile, so the rate does not depend on the frame
// rate either; after a stall of more than kTimerMaxBacklog ticks (a load) the backlog
// is dropped and one tick raised, rather than catching up in one jump.
class TTimer : public QObject {
    Q_OBJECT
public:
    static constexpr double kTimerResolutionMs = 15.625;
    static constexpr long long kTimerMaxBacklog = 32;

    explicit TTimer(QObject* owner = nullptr);
    int Interval() const { return FInterval; }
    // Milliseconds, at least 1; rounded up to whole steps of the resolution.
    void SetInterval(int ms);
    bool Enabled() const { return FEnabled; }
    // Enabling starts the count of ticks afresh: the first falls due one period later.
    void SetEnabled(bool value);
    // Ticks raised since creation.
    long long Ticks() const { return FTicks; }
    std::function<void(QObject* sender)> OnTimer;

private:
    void Poll();
    void ScheduleNext();
    qint64 PeriodNs() const;

    QTimer FWake;  // wakes the loop when the next tick falls due
    QElapsedTimer FClock;
    int FInterval = 1000;
    bool FEnabled = false;
    long long FDue = 0;  // ticks accounted for since FClock started
    long long FTicks = 0;
};

// A label whose caption may hold several lines separated by carriage returns.
class TLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLabel(const QString& caption, QWidget* owner = nullptr);
    void SetCaption(const QString& caption);
    const QString& Caption() const { return FCaption; }

private:
    QString FCaption;
};

// ---- the window ----

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // programFolder: the folder of the program file, with its trailing separator;
    // empty means the folder of the running executable. Creating the window runs
    // FormCreate.
    explicit TForm1(const QString& programFolder = QString(), QWidget* owner = nullptr);
    ~TForm1() override;

    // Controls, in the window's field order.
    TOpenGlPanel* OpenGlPanel;
    QWidget* Panel1;
    TFileListBox* FileListBox;
    TTimer* Timer1;
    QWidget* Panel2;
    TTrackBar* TrackBar1;
    TLabel* Label1;
    QCheckBox* CheckBox1;
    TTrackBar* TrackBar2;
    QCheckBox* CheckBox2;
    TTrackBar* TrackBar3;
    TLabel* Label2;
    QWidget* Panel3;
    TLabel* Label3;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;
    TLabel* Label5;
    QGroupBox* GroupBox1;
    QRadioButton* RadioButton3;
    QRadioButton* RadioButton4;
    QRadioButton* RadioButton5;
    QLineEdit* Edit1;
    TLabel* Label4;
    QRadioButton* RadioButton6;
    TLabel* Label6;
    QCheckBox* CheckBox3;
    QCheckBox* CheckBox4;
    // Beyond the design: the menu bar above the controls (File, Edit, View, Help), every
    // command with its keys.
    QMenuBar* MenuBar;

    // Handlers (public so that tests can raise them as the toolkit would).
    void FormCreate(QObject* sender);
    void FormClose(QObject* sender);
    void RadioButton1Click(QObject* sender);
    void FileListBoxClick(QObject* sender);
    // What a file selection does, for any model file (kgl::LoadModelFile): the camera
    // track bar back to 0, the load, the reduction track bar back to 0, the information
    // text. Beyond that: a load that runs long shows progress, and one cancelled
    // changes nothing (the model, the list's entry of its file and the camera stay); a
    // load that succeeds starts a new undo history, puts the orbit camera back and, when
    // remember, adds the file to the recent ones (the start-up's own choice is not).
    void LoadAndShow(const std::string& path, bool remember = true);
    void Button1Click(QObject* sender);
    void Button2Click(QObject* sender);
    // Throws what SaveToKGM throws: the failure reaches the toolkit's error dialog.
    void Button3Click(QObject* sender);
    void OpenGlPanelglDraw(TOpenGlBasePanel* sender);
    void Timer1Timer(QObject* sender);
    void TrackBar1Change(QObject* sender);
    void TrackBar3Change(QObject* sender);
    // Beyond the left and right buttons' picks: a press of either begins a selection
    // stroke (one undo step, ended when neither is held); the middle button drags the
    // orbit camera (Shift: pan).
    void OpenGlPanelMouseMove(QMouseEvent* event);
    void OpenGlPanelMouseDown(QMouseEvent* event);
    void OpenGlPanelMouseUp(QMouseEvent* event);
    // A middle double-click puts the view back as the track bars say.
    void OpenGlPanelMouseDoubleClick(QMouseEvent* event);
    void RadioButton4Click(QObject* sender);
    // One wheel notch (120 eighths of a degree, partial deltas summed) moves TrackBar2
    // one step through its Position while that suits the model's size, else the camera a
    // share of its way to the model (kgl::WheelStep): wheel up brings it nearer.
    void OpenGlPanelMouseWheel(QWheelEvent* event);

    // A model file (".obj" or ".kgm", any letter case): points the list at its folder,
    // sets the OBJ/KGM choice to its kind, selects it and loads it through
    // FileListBoxClick. A model of another format read (kgl::IsReadableExtension):
    // points the list at its folder with nothing selected and loads it through the
    // importer (LoadAndShow). A folder: points the list at it and loads nothing. Anything
    // else: a one-line message, and the model on display stays. A relative path is
    // taken from the current folder. Returns whether the path was a file or folder
    // that could be opened.
    bool OpenPath(const QString& path);
    // The command line (arguments[0] is the program): at most one PATH, opened with
    // OpenPath; a relative one is taken from startFolder, the folder the program was
    // started from (creating the window moves the current folder to the list's).
    void OpenArguments(const QStringList& arguments, const QString& startFolder);
    // F12: writes the last presented frame as a PNG beside the selected model file
    // (NAME_view.png; NAME_view_2.png and so on when it exists, never replacing a file)
    // or, with no file selected, in the list's folder (view.png, ...), and says where
    // it went, or why not, in a tool tip over the view. Returns the path written, or an
    // empty text.
    QString SaveViewPicture();
    // The text of the last such notice.
    const QString& LastNotice() const { return FLastNotice; }

    // ---- beyond the window as designed: the keys (F1 lists them) ----
    // Ctrl+Z / Ctrl+Shift+Z and Ctrl+Y: a step of the history back or forth (a stroke
    // in progress ends first; nothing while a track bar is held by the mouse).
    void Undo();
    void Redo();
    // Ctrl+O: the open dialog, then OpenPath. False when cancelled or not opened.
    bool OpenDialog();
    // Ctrl+R: a menu of the ten files opened last; choosing one opens it with OpenPath.
    // The caller pops it up; it deletes itself when closed. File > Open Recent is filled
    // the same way.
    QMenu* RecentMenu();
    void FillRecentMenu(QMenu* menu);
    // Ctrl+S: the model and its reduction state as KGM where Button3Click writes it
    // (the selected file's name with ".kgm"), asking before it replaces a file that
    // does not hold the model on display; with no file selected, as SaveModelAs.
    // Failures are shown as messages. True when written.
    bool SaveModel();
    // Ctrl+Shift+S: asks where and how (TSaveKind), then saves. True when written.
    bool SaveModelAs();
    // Home (when the focused control has no use for it): the model framed again: the
    // orbit, the pan and the wheel's moves undone and TrackBar2 back to 0.
    void ResetView();
    // Ctrl+E: the model's edge table in the order of geometric error (OrderEdgesByError),
    // the reduction on display applied to it again, and a notice. The history starts
    // anew, as after a load: its selection steps name edges by their places in the table.
    // Long work shows progress; Cancel leaves the table, the reduction and the history.
    void OrderEdgesByError();
    // Ctrl+T: every face of more than three corners cut into triangles (TriangulateFaces),
    // the reduction on display applied to the triangles, and a notice; one undo step.
    // Long work shows progress; Cancel leaves the model as it was.
    void TriangulateModel();
    // F1.
    void ShowKeys();

    TUndoHistory& History() { return *FHistory; }
    TModelFiles& Files() { return *FFiles; }
    const kgl::TOrbit& Orbit() const;
    // The view state of the next frame, read from the controls and the camera.
    kgl::TFrameView CurrentView() const;

    // The information text of the model on display, carriage returns between items.
    void RefreshInfoText();
    // The program file's folder with its trailing separator; "obj" is looked for in it.
    const QString& ProgramFolder() const { return FProgramFolder; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateControls();
    QMenuBar* CreateMenuBar();
    // A short notice in a tool tip over the view, gone after a few seconds.
    void ShowNotice(const QString& text);
    // Runs the pick of every checked mode (Edge, Group, Face) with pick mode.
    void PickCheckedModes(uint8_t mode);

    // Undo (back) or redo.
    void StepHistory(bool back);
    // A reduction track bar has settled (let go, or moved by key, wheel or program).
    void SettleReduction(TTrackBar* bar);
    // Undo and redo of a reduction step: bar to position without its OnChange, then Reduce.
    void ApplyReduction(TTrackBar* bar, int position, double fraction);
    // The texture-coordinate rewrite as Button1Click and its redo run it.
    void RewriteTexCoords();
    // The list's entry of the file on display, or none when the list does not show it.
    void SelectShownFile();
    // The list read again after a save into its folder, its selection kept.
    void RefreshFileList();

    QString FProgramFolder;
    QString FLastNotice;
    int FWheelRemainder = 0;        // wheel delta not yet making a whole notch
    QString FShownFile;             // the file the model on display was loaded from
    double FShownFraction = 0;      // the fraction the model on display was reduced by
    bool FToldTriangulate = false;  // the hint to triangulate before a reduction was shown
    std::unique_ptr<TUndoHistory> FHistory;
    std::unique_ptr<TModelFiles> FFiles;
    std::unique_ptr<TOrbitCamera> FCamera;
};

extern TForm1* Form1;
extern kgl::TKGLModel Model;
extern uint32_t TextureId;
extern double RotationAngle;
extern uint32_t FrameCount;
extern uint32_t ShownFps;
extern uint32_t LastFpsTick;

// Milliseconds since system start as a wrapping 32-bit count.
uint32_t GetTickCount();

// Back to the state at program start (for windows created one after another, as the
// window tests do): an all-zero model, texture 0, angle and frame counters 0.
void ResetUnit1State();

inline constexpr const char* kDesignCaption = "Kestivan Graphics Library OBJ/KGM editor";
