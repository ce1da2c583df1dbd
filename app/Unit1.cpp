#include "Unit1.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QSaveFile>
#include <QShortcut>
#include <QSignalBlocker>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <exception>

#include "Application.h"
#include "KGLDisplay.h"
#include "OpenGlPanel.h"
#include "Textures.h"
#include "errors.h"
#include "import.h"
#include "key_help.h"
#include "menu_bar.h"
#include "messages.h"
#include "model_files.h"
#include "orbit_camera.h"
#include "undo_history.h"
#include "work_progress.h"

TForm1* Form1 = nullptr;
kgl::TKGLModel Model;
uint32_t TextureId = 0;
double RotationAngle = 0.0;
uint32_t FrameCount = 0;
uint32_t ShownFps = 0;
uint32_t LastFpsTick = 0;

uint32_t GetTickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void ResetUnit1State() {
    kgl::FreeModel(Model);
    Model = kgl::TKGLModel{};
    TextureId = 0;
    RotationAngle = 0.0;
    FrameCount = 0;
    ShownFps = 0;
    LastFpsTick = 0;
    kgl::PickPixel = {0, 0, 0};
    kgl::MouseX = 0;
    kgl::MouseY = 0;
}

namespace {

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// An exception that escaped the create handler: shown as the toolkit shows any
// escaped exception, and the window opens all the same.
void ReportEscapedException(const std::exception& e) {
    if (TApplication* app = TApplication::Instance())
        app->ShowException(e.what());
    else
        kgl::ShowMessage(e.what(), "Error");
}

QFrame* MakePanel(QWidget* owner) {
    auto* panel = new QFrame(owner);
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    return panel;
}

}  // namespace

// ---------------------------------------------------------------- TFileListBox

TFileListBox::TFileListBox(QWidget* owner) : QListWidget(owner) {
    FDirectory = QDir::currentPath();
    setSelectionMode(QAbstractItemView::SingleSelection);
    // A selection the user makes, by mouse or keyboard, loads as a click does.
    connect(this, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!FProgramChange && row >= 0 && OnClick) OnClick(this);
    });
    Update();
}

void TFileListBox::SetDirectory(const QString& path) {
    QDir dir(path);
    if (path.isEmpty() || !dir.exists())
        throw kgl::EInOutError("Folder not found: " + LocalPath(QDir::toNativeSeparators(path)));
    FDirectory = dir.absolutePath();
    Update();
}

void TFileListBox::SetMask(const QString& mask) {
    FMask = mask;
    Update();
}

void TFileListBox::Update() {
    QDir dir(FDirectory);
    QDir::setCurrent(FDirectory);
    // QDir matches name filters without regard to letter case unless told otherwise.
    const QStringList names = dir.entryList(QStringList{FMask}, QDir::Files, QDir::Name | QDir::IgnoreCase);
    FProgramChange = true;
    clear();
    addItems(names);
    setCurrentRow(-1);
    FProgramChange = false;
}

void TFileListBox::SetItemIndex(int index) {
    FProgramChange = true;
    setCurrentRow(index >= 0 && index < count() ? index : -1);
    FProgramChange = false;
}

int TFileListBox::IndexOf(const QString& name) const {
    for (int i = 0; i < count(); ++i)
        if (item(i)->text() == name) return i;
    return -1;
}

QString TFileListBox::FileName() const {
    const QListWidgetItem* item = currentItem();
    if (!item || currentRow() < 0) return QString();
    return QDir(FDirectory).filePath(item->text());
}

void TFileListBox::mousePressEvent(QMouseEvent* event) {
    const int before = currentRow();
    QListWidget::mousePressEvent(event);
    // Clicking the entry that is already selected raises OnClick too; a click that
    // moved the selection has raised it through currentRowChanged.
    if (event->button() == Qt::LeftButton && before >= 0 && currentRow() == before &&
        itemAt(event->position().toPoint()) == item(before) && OnClick)
        OnClick(this);
}

// ---------------------------------------------------------------- TTrackBar

TTrackBar::TTrackBar(QWidget* owner) : QSlider(Qt::Horizontal, owner) {
    setTickPosition(QSlider::TicksBelow);
    setTickInterval(10);
    connect(this, &QSlider::valueChanged, this, [this](int) {
        if (OnChange) OnChange(this);
    });
}

// ---------------------------------------------------------------- TTimer

TTimer::TTimer(QObject* owner) : QObject(owner) {
    FWake.setSingleShot(true);
    FWake.setTimerType(Qt::PreciseTimer);
    connect(&FWake, &QTimer::timeout, this, [this] { Poll(); });
}

void TTimer::SetInterval(int ms) {
    FInterval = std::max(ms, 1);
    if (!FEnabled) return;
    FClock.start();
    FDue = 0;
    ScheduleNext();
}

void TTimer::SetEnabled(bool value) {
    if (value == FEnabled) return;
    FEnabled = value;
    if (!FEnabled) {
        FWake.stop();
        return;
    }
    FClock.start();
    FDue = 0;
    ScheduleNext();
}

qint64 TTimer::PeriodNs() const {
    // Whole steps of the resolution, at least one: an interval of 1 ms ticks every
    // 15.625 ms, as on the desktop the window was designed for.
    const double steps = std::max(1.0, std::ceil(FInterval / kTimerResolutionMs));
    return static_cast<qint64>(steps * kTimerResolutionMs * 1e6);
}

void TTimer::Poll() {
    if (!FEnabled) return;
    const long long due = FClock.nsecsElapsed() / PeriodNs();
    long long raise = due - FDue;
    if (raise > kTimerMaxBacklog) raise = 1;
    FDue = due;
    // Scheduled before the ticks run, so a handler that throws does not stop the timer.
    ScheduleNext();
    for (long long i = 0; i < raise && FEnabled; ++i) {
        ++FTicks;
        if (OnTimer) OnTimer(this);
    }
}

void TTimer::ScheduleNext() {
    if (!FEnabled) return;
    const qint64 wait = (FDue + 1) * PeriodNs() - FClock.nsecsElapsed();
    FWake.start(static_cast<int>(std::clamp<qint64>((wait + 999999) / 1000000, 0, 1000000)));
}

// ---------------------------------------------------------------- TLabel

TLabel::TLabel(const QString& caption, QWidget* owner) : QLabel(owner) {
    setTextFormat(Qt::PlainText);
    SetCaption(caption);
}

void TLabel::SetCaption(const QString& caption) {
    if (caption == FCaption && !text().isEmpty()) return;  // labels updated every frame stay cheap
    FCaption = caption;
    QString shown = caption;
    shown.replace(QChar('\r'), QChar('\n'));
    setText(shown);
}

// ---------------------------------------------------------------- TForm1

TForm1::TForm1(const QString& programFolder, QWidget* owner) : QWidget(owner) {
    FProgramFolder = programFolder;
    if (FProgramFolder.isEmpty()) FProgramFolder = QCoreApplication::applicationDirPath();
    if (!FProgramFolder.endsWith(QLatin1Char('/'))) FProgramFolder += QLatin1Char('/');
    FHistory = std::make_unique<TUndoHistory>(
        Model, [this](TTrackBar* bar, int position, double fraction) { ApplyReduction(bar, position, fraction); },
        [this] { RefreshInfoText(); });
    FFiles = std::make_unique<TModelFiles>(this);
    FCamera = std::make_unique<TOrbitCamera>();
    CreateControls();
    try {
        FormCreate(this);
    } catch (const std::exception& e) {
        // The rest of creation is skipped; the window opens all the same.
        ReportEscapedException(e);
    }
}

TForm1::~TForm1() {
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::CreateControls() {
    setWindowTitle(QString::fromLatin1(kDesignCaption));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    setFont(font);
    resize(774, 452);

    OpenGlPanel = new TOpenGlPanel(this);
    OpenGlPanel->setCursor(Qt::ArrowCursor);
    OpenGlPanel->setMinimumSize(1, 1);

    // ---- left column: file choice, file list, information text ----
    Panel1 = MakePanel(this);
    Panel1->setFixedWidth(129);
    RadioButton1 = new QRadioButton(QStringLiteral("OBJ"), Panel1);
    RadioButton2 = new QRadioButton(QStringLiteral("KGM"), Panel1);
    RadioButton2->setChecked(true);
    FileListBox = new TFileListBox(Panel1);
    FileListBox->setFocusPolicy(Qt::ClickFocus);  // not a tab stop
    FileListBox->SetMask(QStringLiteral("*.kgm"));
    Label4 = new TLabel(QStringLiteral("Info:"), Panel1);
    Label1 = new TLabel(QStringLiteral("-"), Panel1);
    const QFont fixed = FixedPitchFont(QStringLiteral("Courier New"), 11);
    Label1->setFont(fixed);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setMinimumHeight(10 * QFontMetrics(fixed).lineSpacing() + 4);
    Label1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);  // a long name must not widen the column
    {
        auto* col = new QVBoxLayout(Panel1);
        col->setContentsMargins(2, 2, 2, 2);
        col->setSpacing(2);
        auto* choice = new QHBoxLayout;
        choice->addWidget(RadioButton1);
        choice->addWidget(RadioButton2);
        col->addLayout(choice);
        col->addWidget(FileListBox, 1);
        col->addWidget(Label4);
        col->addWidget(Label1);
    }

    // ---- right column: selection tools ----
    Panel3 = MakePanel(this);
    Panel3->setFixedWidth(182);
    GroupBox1 = new QGroupBox(QStringLiteral(" Select "), Panel3);
    Edit1 = new QLineEdit(GroupBox1);
    Edit1->setAcceptDrops(false);  // a file dropped on it goes to the window
    RadioButton3 = new QRadioButton(QStringLiteral("Point"), GroupBox1);
    RadioButton4 = new QRadioButton(QStringLiteral("Edge"), GroupBox1);
    RadioButton5 = new QRadioButton(QStringLiteral("Group"), GroupBox1);
    RadioButton6 = new QRadioButton(QStringLiteral("Face"), GroupBox1);
    RadioButton6->setChecked(true);
    {
        auto* box = new QVBoxLayout(GroupBox1);
        box->setSpacing(2);
        box->addWidget(Edit1);
        box->addWidget(RadioButton3);
        box->addWidget(RadioButton4);
        box->addWidget(RadioButton5);
        box->addWidget(RadioButton6);
    }
    Label6 = new TLabel(QStringLiteral("Label6"), Panel3);
    Label5 = new TLabel(QStringLiteral("Color Code:"), Panel3);
    Label5->hide();
    Label3 = new TLabel(QStringLiteral("Label3"), Panel3);
    Label3->hide();
    Button1 = new QPushButton(QStringLiteral("TextureCoord optimalisation"), Panel3);
    Button2 = new QPushButton(QStringLiteral("Save To OBJ"), Panel3);
    Button2->hide();
    Button3 = new QPushButton(QStringLiteral("Save To KGM"), Panel3);
    Button3->hide();
    {
        auto* col = new QVBoxLayout(Panel3);
        col->setContentsMargins(4, 4, 4, 4);
        col->addWidget(GroupBox1);
        col->addWidget(Label6);
        col->addWidget(Label5);
        col->addWidget(Label3);
        col->addWidget(Button1);
        col->addWidget(Button2);
        col->addWidget(Button3);
        col->addStretch(1);
    }

    // ---- bottom strip: view controls ----
    Panel2 = MakePanel(this);
    Panel2->setFixedHeight(41);
    CheckBox1 = new QCheckBox(QStringLiteral("rotate"), Panel2);
    CheckBox2 = new QCheckBox(QStringLiteral("x rot: 90"), Panel2);
    CheckBox2->setChecked(true);
    CheckBox3 = new QCheckBox(QStringLiteral("Wireframe"), Panel2);
    CheckBox3->setChecked(true);
    CheckBox4 = new QCheckBox(QStringLiteral("Bunding Box"), Panel2);
    CheckBox4->setChecked(true);
    TrackBar1 = new TTrackBar(Panel2);
    TrackBar1->setRange(0, 100);
    TrackBar2 = new TTrackBar(Panel2);
    TrackBar2->setRange(0, 200);
    TrackBar2->setTickInterval(20);
    TrackBar3 = new TTrackBar(Panel2);
    TrackBar3->setRange(0, 100);
    Label2 = new TLabel(QStringLiteral("Label2"), Panel2);
    Label2->setMinimumWidth(48);
    Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    {
        auto* row = new QHBoxLayout(Panel2);
        row->setContentsMargins(6, 2, 6, 2);
        row->addWidget(CheckBox1);
        row->addWidget(CheckBox2);
        row->addWidget(CheckBox3);
        row->addWidget(CheckBox4);
        row->addWidget(TrackBar1, 1);
        row->addWidget(TrackBar2, 1);
        row->addWidget(TrackBar3, 1);
        row->addWidget(Label2);
    }

    // The bottom strip spans the whole width; the columns and the view sit above it, and
    // the menu bar above all, the window taller by its height.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    MenuBar = CreateMenuBar();
    outer->setMenuBar(MenuBar);
    resize(width(), height() + MenuBar->sizeHint().height());
    auto* middle = new QHBoxLayout;
    middle->setSpacing(0);
    middle->addWidget(Panel1);
    middle->addWidget(OpenGlPanel, 1);
    middle->addWidget(Panel3);
    outer->addLayout(middle, 1);
    outer->addWidget(Panel2);

    Timer1 = new TTimer(this);
    Timer1->SetInterval(1);
    setAcceptDrops(true);

    // ---- handlers ----
    auto radio1 = [this](QRadioButton* b) {
        connect(b, &QRadioButton::clicked, this, [this, b] { RadioButton1Click(b); });
    };
    radio1(RadioButton1);
    radio1(RadioButton2);
    FileListBox->OnClick = [this](QObject* sender) { FileListBoxClick(sender); };
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(Button1); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(Button2); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(Button3); });
    OpenGlPanel->glDraw = [this](TOpenGlBasePanel* sender) { OpenGlPanelglDraw(sender); };
    OpenGlPanel->OnMouseDown = [this](QMouseEvent* e) { OpenGlPanelMouseDown(e); };
    OpenGlPanel->OnMouseMove = [this](QMouseEvent* e) { OpenGlPanelMouseMove(e); };
    OpenGlPanel->OnMouseUp = [this](QMouseEvent* e) { OpenGlPanelMouseUp(e); };
    OpenGlPanel->OnMouseDoubleClick = [this](QMouseEvent* e) { OpenGlPanelMouseDoubleClick(e); };
    OpenGlPanel->OnMouseWheel = [this](QWheelEvent* e) { OpenGlPanelMouseWheel(e); };
    Timer1->OnTimer = [this](QObject* sender) { Timer1Timer(sender); };
    TrackBar1->OnChange = [this](QObject* sender) { TrackBar1Change(sender); };
    TrackBar3->OnChange = [this](QObject* sender) { TrackBar3Change(sender); };
    // A reduction track bar's position is an undo step once it settles: the slider let
    // go, or a change while it is not held (a key, the wheel, a click on the groove, the
    // program). A drag's passing positions reduce the model but are no steps.
    for (TTrackBar* bar : {TrackBar1, TrackBar3}) {
        connect(bar, &QSlider::sliderReleased, this, [this, bar] { SettleReduction(bar); });
        connect(bar, &QSlider::valueChanged, this, [this, bar] {
            if (!bar->isSliderDown()) SettleReduction(bar);
        });
    }
    // Ctrl+R pops the recent files up over the view; the File menu shows them too.
    auto* recent = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), this);
    connect(recent, &QShortcut::activated, this,
            [this] { RecentMenu()->popup(OpenGlPanel->mapToGlobal(QPoint(8, 8))); });
    auto radio4 = [this](QRadioButton* b) {
        connect(b, &QRadioButton::clicked, this, [this, b] { RadioButton4Click(b); });
    };
    radio4(RadioButton4);
    radio4(RadioButton5);
    radio4(RadioButton6);

    Timer1->SetEnabled(true);  // enabled by design: it ticks from the window's creation
}

// ---------------------------------------------------------------- start and close

void TForm1::FormCreate(QObject* sender) {
    OpenGlPanel->InitGL();
    glDisable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_TEXTURE_2D);
    // Relative on purpose: looked for in the folder the program was started from,
    // before the file list moves the current folder.
    kgl::LoadTexture("checker.jpg", TextureId, false);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
    FileListBox->SetDirectory(FProgramFolder + QStringLiteral("obj"));
    FileListBox->SetItemIndex(1);  // the second entry, as designed
    FileListBoxClick(sender);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose(this);
    event->accept();
}

void TForm1::FormClose(QObject*) { kgl::FreeModel(Model); }

// ---------------------------------------------------------------- file list and buttons

void TForm1::RadioButton1Click(QObject* sender) {
    auto* button = qobject_cast<QRadioButton*>(sender);
    if (!button) return;
    FileListBox->SetMask(QStringLiteral("*.") + button->text());
}

void TForm1::FileListBoxClick(QObject* sender) {
    LoadAndShow(LocalPath(FileListBox->FileName()), sender != this);  // not the start-up's own choice
}

void TForm1::LoadAndShow(const std::string& path, bool remember) {
    if (TWorkProgress::Running()) return;  // a call queued before the work began
    const QString file = QFile::decodeName(QByteArray::fromStdString(path));
    const int push = TrackBar2->Position();
    TrackBar2->SetPosition(0);
    bool loaded = false, cancelled = false;
    {
        TWorkProgress progress(this, QStringLiteral("Opening %1").arg(QFileInfo(file).fileName()));
        loaded = kgl::LoadModelFile(Model, path);
        cancelled = progress.Cancelled();
    }
    if (cancelled) {  // as though nothing had been asked: the model, its entry and the camera stay
        TrackBar2->SetPosition(push);
        SelectShownFile();
        return;
    }
    TrackBar1->SetMin(0);
    TrackBar1->SetMax(100);
    TrackBar3->SetPosition(0);
    RefreshInfoText();
    if (!loaded) return;
    FShownFraction = 0;  // a load shows the model unreduced
    FShownFile = file;
    FHistory->Clear();
    FHistory->SetSettled(TrackBar1, TrackBar1->Position(), 0);
    FHistory->SetSettled(TrackBar3, 0, 0);
    FCamera->Reset();
    FFiles->Loaded(file);
    if (remember) FFiles->Recent().Add(file);
}

void TForm1::SelectShownFile() {
    const QFileInfo shown(FShownFile);
    const bool here = !FShownFile.isEmpty() && QDir(shown.absolutePath()) == QDir(FileListBox->Directory());
    FileListBox->SetItemIndex(here ? FileListBox->IndexOf(shown.fileName()) : -1);
}

void TForm1::RefreshFileList() {
    const QListWidgetItem* item = FileListBox->currentItem();
    const QString selected = item && FileListBox->ItemIndex() >= 0 ? item->text() : QString();
    FileListBox->Update();
    if (!selected.isEmpty()) FileListBox->SetItemIndex(FileListBox->IndexOf(selected));
}

void TForm1::RefreshInfoText() {
    // The user's decimal separator: "maxArea: 1,00" under a German locale.
    Label1->SetCaption(ShownText(kgl::InfoText(Model, '\r', QLocale().decimalPoint().toStdString())));
}

void TForm1::Button1Click(QObject*) {
    TBusyCursor busy;
    FHistory->Rewrite([this] { RewriteTexCoords(); });
}

void TForm1::RewriteTexCoords() {
    kgl::OptimizeTexCoords(Model);
    // The rewrite renumbers the coordinates but keeps each record's collapse target,
    // which names the old numbering: reduced again, the merged corners name the new one.
    if (FShownFraction != 0) kgl::Reduce(Model, FShownFraction);
    RefreshInfoText();
}

namespace {
// The selected file's path less its extension (last four characters) plus suffix.
std::string SaveName(const QString& selected, const char* suffix) {
    std::string path = LocalPath(selected);
    path.erase(path.size() >= 4 ? path.size() - 4 : 0);
    return path + suffix;
}
}  // namespace

void TForm1::Button2Click(QObject*) {
    TBusyCursor busy;
    kgl::SaveToOBJ(Model, SaveName(FileListBox->FileName(), "_.obj"));
}

void TForm1::Button3Click(QObject*) {
    TBusyCursor busy;
    kgl::SaveToKGM(Model, SaveName(FileListBox->FileName(), ".kgm"));
}

// ---------------------------------------------------------------- any model from anywhere

bool TForm1::OpenPath(const QString& path) {
    const QFileInfo info(path);
    const std::string shown = QDir::toNativeSeparators(path).toStdString();
    if (path.isEmpty() || !info.exists()) {
        kgl::ShowMessage("No such file or folder: \"" + shown + "\"");
        return false;
    }
    if (info.isDir()) {
        FileListBox->SetDirectory(info.absoluteFilePath());
        return true;
    }
    const QString suffix = info.suffix().toLower();
    if (!info.isFile() || !kgl::IsReadableExtension(kgl::LowerExtension(info.fileName().toStdString()))) {
        kgl::ShowMessage("Not a model file of a format read here, nor a folder: \"" + shown + "\"");
        return false;
    }
    if (suffix != QLatin1String("obj") && suffix != QLatin1String("kgm")) {
        // another format: the list, which offers OBJ or KGM files, moves to its folder
        // without a selection, and the importer reads it
        FileListBox->SetDirectory(info.absolutePath());
        FileListBox->SetItemIndex(-1);
        LoadAndShow(LocalPath(info.absoluteFilePath()));
        return true;
    }
    QRadioButton* kind = suffix == QLatin1String("obj") ? RadioButton1 : RadioButton2;
    FileListBox->SetDirectory(info.absolutePath());
    kind->setChecked(true);
    RadioButton1Click(kind);
    const int row = FileListBox->IndexOf(info.fileName());
    if (row < 0) {  // a hidden file: the list shows only plain visible ones
        kgl::ShowMessage("The file list does not show \"" + shown + "\"");
        return false;
    }
    FileListBox->SetItemIndex(row);
    FileListBoxClick(FileListBox);
    return true;
}

void TForm1::OpenArguments(const QStringList& arguments, const QString& startFolder) {
    if (arguments.size() < 2) return;
    if (arguments.size() > 2) {
        kgl::ShowMessage("Usage: kgl-editor [PATH] (one model file or folder)");
        return;
    }
    const QString& path = arguments[1];
    OpenPath(path.isEmpty() ? path : QDir(startFolder).absoluteFilePath(path));
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (std::any_of(urls.begin(), urls.end(), [](const QUrl& u) { return u.isLocalFile(); }))
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    QString path;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) {
            path = url.toLocalFile();
            break;
        }
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    // Opened once the drop is over: the load may show a message, and a modal loop
    // inside the drop would keep the program the file came from waiting.
    QMetaObject::invokeMethod(
        this, [this, path] { OpenPath(path); }, Qt::QueuedConnection);
}

// ---------------------------------------------------------------- a picture of the view

void TForm1::ShowNotice(const QString& text) {
    FLastNotice = text;
    QToolTip::showText(OpenGlPanel->mapToGlobal(QPoint(8, 8)), text, OpenGlPanel, OpenGlPanel->rect(), 4000);
}

QString TForm1::SaveViewPicture() {
    TBusyCursor busy;
    const QString selected = FileListBox->FileName();
    const QFileInfo model(selected);
    const QDir folder(selected.isEmpty() ? FileListBox->Directory() : model.absolutePath());
    const QString stem =
        selected.isEmpty() ? QStringLiteral("view") : model.completeBaseName() + QStringLiteral("_view");
    const QImage frame = OpenGlPanel->PresentedFrame();
    if (frame.isNull()) {
        ShowNotice(QStringLiteral("No picture of the view yet: nothing has been drawn"));
        return QString();
    }
    QString path = folder.filePath(stem + QStringLiteral(".png"));
    for (int n = 2; QFileInfo(path).exists() || QFileInfo(path).isSymLink(); ++n)
        path = folder.filePath(QStringLiteral("%1_%2.png").arg(stem).arg(n));
    QSaveFile file(path);  // written whole or not at all
    if (!file.open(QIODevice::WriteOnly) || !frame.save(&file, "PNG") || !file.commit()) {
        ShowNotice(QStringLiteral("Could not save the view to %1: %2")
                       .arg(QDir::toNativeSeparators(path), file.errorString()));
        return QString();
    }
    ShowNotice(QStringLiteral("View saved to ") + QDir::toNativeSeparators(path));
    return path;
}

// ---------------------------------------------------------------- the frame

kgl::TFrameView TForm1::CurrentView() const {
    kgl::TFrameView view;
    view.rotationAngle = RotationAngle;
    view.pull = TrackBar1->Position();
    view.push = TrackBar2->Position();
    view.xRot = CheckBox2->isChecked();
    view.wireframe = CheckBox3->isChecked();
    view.boxes = CheckBox4->isChecked();
    view.texture = TextureId;
    // The radio buttons are tested in this order; "Point" shows no selection.
    view.selection = RadioButton5->isChecked()   ? kgl::TSelectionDisplay::kGroups
                     : RadioButton4->isChecked() ? kgl::TSelectionDisplay::kEdges
                     : RadioButton6->isChecked() ? kgl::TSelectionDisplay::kFaces
                                                 : kgl::TSelectionDisplay::kNone;
    view.orbit = FCamera->Orbit();
    return view;
}

const kgl::TOrbit& TForm1::Orbit() const { return FCamera->Orbit(); }

void TForm1::OpenGlPanelglDraw(TOpenGlBasePanel*) {
    kgl::DrawFrame(Model, CurrentView());

    Label3->SetCaption(QString::asprintf("%d %d %d", kgl::PickPixel[0], kgl::PickPixel[1], kgl::PickPixel[2]));
    glFlush();

    const uint32_t now = GetTickCount();
    if (static_cast<uint32_t>(now - LastFpsTick) >= 1000) {
        LastFpsTick = GetTickCount();
        ShownFps = FrameCount;
        FrameCount = 0;
        setWindowTitle(QString::asprintf("Kestivan Graphics Library OBJ/KGM editor  %u FPS", ShownFps));
    }
    ++FrameCount;
}

void TForm1::Timer1Timer(QObject*) {
    if (CheckBox1->isChecked()) RotationAngle += 0.8;
    Label2->SetCaption(QString::number(Model.drawCount));
}

void TForm1::OpenGlPanelMouseWheel(QWheelEvent* event) {
    // High-resolution wheels report parts of a notch; they add up to whole steps.
    const long long sum = static_cast<long long>(FWheelRemainder) + event->angleDelta().y();
    const long long notches = sum / 120;
    FWheelRemainder = static_cast<int>(sum - notches * 120);
    if (notches != 0) {
        // the second track bar's steps while they suit the model's size, else a share of the way
        const kgl::TWheelStep step = kgl::WheelStep(Model, CurrentView(), notches, TrackBar2->Min(), TrackBar2->Max());
        FCamera->SetDolly(step.dolly);
        TrackBar2->SetPosition(step.push);
    }
    event->accept();
}

void TForm1::TrackBar1Change(QObject*) {
    FShownFraction = TrackBar1->Position() / 100.0;
    kgl::Reduce(Model, FShownFraction);
}

void TForm1::TrackBar3Change(QObject*) {
    FShownFraction = TrackBar3->Position() / 100.0;
    kgl::Reduce(Model, FShownFraction);
}

void TForm1::OrderEdgesByError() {
    if (TWorkProgress::Running()) return;
    try {
        TWorkProgress progress(this, QStringLiteral("Ordering the edges by geometric error"));
        kgl::OrderEdgesByError(Model);
    } catch (const kgl::ECancelled&) {
        return;  // the table as it was
    }
    {
        TBusyCursor busy;
        kgl::Reduce(Model, FShownFraction);
    }
    FHistory->Clear();
    // once a session: a model of polygons keeps its shape better cut into triangles first
    bool polygons = false;
    for (int32_t g = 0; g <= Model.gCount && !polygons && g < static_cast<int32_t>(Model.groups.size()); ++g)
        for (int32_t f = 1; f <= Model.groups[g].fCount && !polygons; ++f)
            polygons = Model.groups[g].faces[f].count > 3;
    if (polygons && !FToldTriangulate) {
        FToldTriangulate = true;
        ShowNotice(
            QStringLiteral("Edges ordered by geometric error.\nThis model has faces of more than three corners:\n"
                           "cut into triangles first (Ctrl+T), it keeps its shape better as it is reduced"));
        return;
    }
    ShowNotice(QStringLiteral("Edges ordered by geometric error"));
}

void TForm1::TriangulateModel() {
    if (TWorkProgress::Running()) return;
    kgl::TTriangulation counts;
    bool done = false;
    FHistory->Triangulate([&](kgl::TKGLModel& replaced) {
        {
            TWorkProgress progress(this, QStringLiteral("Cutting the faces into triangles"));
            done = kgl::TriangulateFaces(Model, &counts, &replaced);  // false: cancelled, or said why
        }
        if (!done || counts.split == 0) return false;
        TBusyCursor busy;
        kgl::Reduce(Model, FShownFraction);  // the reduction on display, of the triangles
        RefreshInfoText();
        return true;
    });
    if (!done) return;
    ShowNotice(counts.split == 0
                   ? QStringLiteral("No face has more than three corners: nothing to cut")
                   : QStringLiteral("%L1 faces cut into %L2 triangles").arg(counts.split).arg(counts.triangles));
}

void TForm1::SettleReduction(TTrackBar* bar) { FHistory->Settle(bar, bar->Position(), bar->Position() / 100.0); }

void TForm1::ApplyReduction(TTrackBar* bar, int position, double fraction) {
    {
        const QSignalBlocker quiet(bar);  // neither its OnChange nor a step of its own
        bar->SetPosition(position);
    }
    FShownFraction = fraction;
    kgl::Reduce(Model, fraction);
}

// ---------------------------------------------------------------- mouse and selection modes

void TForm1::PickCheckedModes(uint8_t mode) {
    // A pointer held outside the view has no pixel of the view under it: nothing to pick.
    if (kgl::MouseX < 0 || kgl::MouseY < 0 || kgl::MouseX >= OpenGlPanel->width() ||
        kgl::MouseY >= OpenGlPanel->height())
        return;
    const bool edge = RadioButton4->isChecked();
    const bool group = RadioButton5->isChecked();
    const bool face = RadioButton6->isChecked();
    if (!edge && !group && !face) return;
    // Picks work in framebuffer pixels; the pointer comes in logical ones.
    const double ratio = OpenGlPanel->devicePixelRatioF();
    const int32_t x = static_cast<int32_t>(std::floor(kgl::MouseX * ratio));
    const int32_t y = static_cast<int32_t>(std::floor(kgl::MouseY * ratio));
    // Drawn offscreen, so the code colours are never presented.
    OpenGlPanel->RunOffscreen([&] {
        if (edge) kgl::PickEdge(Model, x, y, true, mode);
        if (group) kgl::PickGroup(Model, x, y, mode);
        if (face) kgl::PickFace(Model, x, y, mode);
    });
}

void TForm1::OpenGlPanelMouseMove(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    kgl::MouseX = p.x();
    kgl::MouseY = p.y();
    if (event->buttons() & Qt::LeftButton) PickCheckedModes(0);
    if (event->buttons() & Qt::RightButton) PickCheckedModes(1);
    if (event->buttons() & Qt::MiddleButton)
        FCamera->Move(event->position(), OpenGlPanel->height(), -kgl::CameraZ(Model, CurrentView()));
}

void TForm1::OpenGlPanelMouseDown(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton) {
        FCamera->Press(event->position(), event->modifiers() & Qt::ShiftModifier);
        return;
    }
    if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton) FHistory->BeginStroke();
    // The press picks where the last move left the pointer, not at the press position.
    if (event->button() == Qt::LeftButton)
        PickCheckedModes(0);
    else if (event->button() == Qt::RightButton)
        PickCheckedModes(1);
}

void TForm1::OpenGlPanelMouseUp(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton) FCamera->Release();
    if (!(event->buttons() & (Qt::LeftButton | Qt::RightButton))) FHistory->EndStroke();
}

void TForm1::OpenGlPanelMouseDoubleClick(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton) ResetView();
}

// ---------------------------------------------------------------- keys beyond the design

void TForm1::keyPressEvent(QKeyEvent* event) {
    // Reaches the window only when the focused control has no use for the key (the file
    // list, the track bars and the edit box take Home themselves).
    if (event->key() == Qt::Key_Home && event->modifiers() == Qt::NoModifier) {
        ResetView();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TForm1::ResetView() {
    FCamera->Reset();
    TrackBar2->SetPosition(0);  // the model framed again, one diagonal away
}

void TForm1::ShowKeys() { ShowKeyHelp(this); }

void TForm1::Undo() { StepHistory(true); }

void TForm1::Redo() { StepHistory(false); }

void TForm1::StepHistory(bool back) {
    if (TWorkProgress::Running() || TrackBar1->isSliderDown() || TrackBar3->isSliderDown()) return;
    // A stroke still held is a step of its own; the rest of it, one more.
    const bool held = FHistory->InStroke();
    FHistory->EndStroke();
    if (back)
        FHistory->Undo();
    else
        FHistory->Redo();
    if (held) FHistory->BeginStroke();
}

bool TForm1::OpenDialog() {
    if (TWorkProgress::Running()) return false;
    const std::optional<QString> path = FFiles->AskOpenPath(FileListBox->Directory());
    return path && OpenPath(*path);
}

QMenu* TForm1::RecentMenu() {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    FillRecentMenu(menu);
    return menu;
}

void TForm1::FillRecentMenu(QMenu* menu) {
    const QStringList files = FFiles->Recent().Files();
    if (files.isEmpty()) menu->addAction(QStringLiteral("No file opened yet"))->setEnabled(false);
    for (int i = 0; i < files.size(); ++i) {
        const QString path = files[i];
        QAction* open = menu->addAction(
            QStringLiteral("&%1  %2").arg((i + 1) % 10).arg(QDir::toNativeSeparators(path).replace('&', "&&")));
        // opened once the menu is gone: the load may show a message or a progress dialog
        connect(open, &QAction::triggered, this, [this, path] {
            QMetaObject::invokeMethod(
                this,
                [this, path] {
                    if (!QFileInfo::exists(path)) FFiles->Recent().Remove(path);  // said so by OpenPath
                    OpenPath(path);
                },
                Qt::QueuedConnection);
        });
    }
}

QMenuBar* TForm1::CreateMenuBar() {
    auto command = [](QString text, QList<QKeySequence> keys, std::function<void()> run) {
        TMenuEntry e;
        e.text = std::move(text);
        e.keys = std::move(keys);
        e.run = std::move(run);
        return e;
    };
    auto shown = [](QString text, QString keys, std::function<void()> run) {
        TMenuEntry e;
        e.text = std::move(text);
        e.keysShown = std::move(keys);
        e.run = std::move(run);
        return e;
    };
    auto toggle = [](QString text, QAbstractButton* box) {
        TMenuEntry e;
        e.text = std::move(text);
        e.toggle = box;
        return e;
    };
    TMenuEntry recent;
    recent.text = QStringLiteral("Open &Recent");
    recent.keysShown = QKeySequence(Qt::CTRL | Qt::Key_R).toString(QKeySequence::NativeText);
    recent.fill = [this](QMenu* menu) { FillRecentMenu(menu); };
    const TMenuEntry separator;
    // The window's own keys, shown in the menu: the controls that take Home keep it.
    const QString home = QKeySequence(Qt::Key_Home).toString(QKeySequence::NativeText);
    const std::vector<TMenu> menus = {
        {QStringLiteral("&File"),
         {command(QStringLiteral("&Open..."), {QKeySequence(Qt::CTRL | Qt::Key_O)}, [this] { OpenDialog(); }), recent,
          separator, command(QStringLiteral("&Save"), {QKeySequence(Qt::CTRL | Qt::Key_S)}, [this] { SaveModel(); }),
          command(QStringLiteral("Save &As..."), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)},
                  [this] { SaveModelAs(); }),
          command(QStringLiteral("Save a &Picture of the View"), {QKeySequence(Qt::Key_F12)},
                  [this] { SaveViewPicture(); }),
          separator, command(QStringLiteral("&Quit"), {QKeySequence(Qt::CTRL | Qt::Key_Q)}, [this] { close(); })}},
        {QStringLiteral("&Edit"),
         {command(QStringLiteral("&Undo"), {QKeySequence(Qt::CTRL | Qt::Key_Z)}, [this] { Undo(); }),
          command(QStringLiteral("&Redo"),
                  {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)},
                  [this] { Redo(); }),
          separator, command(QStringLiteral("Rewrite the &Texture Coordinates"), {}, [this] { Button1Click(Button1); }),
          command(QStringLiteral("&Triangulate: Every Polygon into Triangles"), {QKeySequence(Qt::CTRL | Qt::Key_T)},
                  [this] { TriangulateModel(); }),
          command(QStringLiteral("Order the &Edges by Geometric Error"), {QKeySequence(Qt::CTRL | Qt::Key_E)},
                  [this] { OrderEdgesByError(); })}},
        {QStringLiteral("&View"),
         {shown(QStringLiteral("&Home: the Model Framed"), home, [this] { ResetView(); }), separator,
          toggle(QStringLiteral("&Rotate"), CheckBox1), toggle(QStringLiteral("&X Rot: 90"), CheckBox2),
          toggle(QStringLiteral("&Wireframe"), CheckBox3), toggle(QStringLiteral("&Bounding Box"), CheckBox4)}},
        {QStringLiteral("&Help"),
         {command(QStringLiteral("&Keys and Mouse"), {QKeySequence(Qt::Key_F1)}, [this] { ShowKeys(); }),
          command(QStringLiteral("&About"), {}, [this] { ShowAbout(this); })}},
    };
    return MakeMenuBar(this, menus);
}

bool TForm1::SaveModel() {
    if (TWorkProgress::Running()) return false;
    const QString selected = FileListBox->FileName();
    // Button3Click would write ".kgm" into the list's folder: better ask
    if (selected.isEmpty()) return SaveModelAs();
    const bool written =
        FFiles->Save(Model, QFile::decodeName(QByteArray::fromStdString(SaveName(selected, ".kgm"))), TSaveKind::kKgm);
    if (written) RefreshFileList();
    return written;
}

bool TForm1::SaveModelAs() {
    if (TWorkProgress::Running()) return false;
    const QFileInfo shown(FShownFile);
    const QString suggested = FShownFile.isEmpty()
                                  ? QDir(FileListBox->Directory()).filePath(QStringLiteral("model.kgm"))
                                  : shown.absoluteDir().filePath(shown.completeBaseName() + QStringLiteral(".kgm"));
    const std::optional<TModelFiles::TSaveChoice> choice = FFiles->AskSavePath(suggested);
    if (!choice) return false;
    const bool written = FFiles->Save(Model, choice->path, choice->kind);
    if (written) RefreshFileList();
    return written;
}

void TForm1::RadioButton4Click(QObject* sender) {
    auto* button = qobject_cast<QRadioButton*>(sender);
    if (!button) return;
    const QString caption = button->text();
    if (caption == QLatin1String("Edge") && Model.edgeSel.empty()) kgl::InitEdgeSelection(Model);
    if (caption == QLatin1String("Group") && Model.groupSel.empty()) kgl::InitGroupSelection(Model);
    if (caption == QLatin1String("Face") && Model.faceSel.empty()) kgl::InitFaceSelection(Model);
}
