#pragma once
// Opening and saving from the window: the file dialogs, the question before a file is
// replaced, and the saves themselves with progress.
//
// Saves: KGM with the reduction state (SaveToKGM), OBJ of the full model (SaveToOBJ), or
// the model as the reduction shows it (BakeReduction, then either writer); and the
// formats of ExportModelFile (glTF, STL, PLY, OFF, COLLADA, FBX), of the full model or
// of the model as shown. Every save is written beside its target and renamed over it
// when complete (the writers' TSafeFile), so a failed or cancelled save leaves an
// existing file as it was. A file that exists
// and does not hold the model on display (it was neither loaded nor saved from it since
// the last load) is replaced only after the user says so.
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "KGLModel.h"
#include "recent_files.h"

class QWidget;

// What a save writes: a format, by its extension, of the full model or of the model as
// shown (a KGM file of the full model keeps the reduction state).
struct TSaveKind {
    const char* format;  // ".kgm", ".obj" or an extension of ExportFormats (export.h)
    bool asShown;
    bool operator==(const TSaveKind& other) const;

    static const TSaveKind kKgm;       // the model and its reduction state
    static const TSaveKind kFullObj;   // OBJ of the full model
    static const TSaveKind kShownObj;  // the model as shown, as OBJ
    static const TSaveKind kShownKgm;  // the model as shown, as KGM
};

class TModelFiles {
public:
    explicit TModelFiles(QWidget* owner) : FOwner(owner) {}

    // The open dialog, in folder, offering every extension LoadModelFile reads (either
    // letter case) and all files. The chosen path, or nothing when cancelled.
    std::optional<QString> AskOpenPath(const QString& folder);
    // The save dialog, starting at suggested, with the four choices above and then the
    // full model and the model as shown in every format of ExportFormats; a name without
    // the chosen format's extension gets it (the model as shown, of the first two: ".obj"
    // unless the name ends in ".kgm").
    struct TSaveChoice {
        QString path;
        TSaveKind kind;
    };
    std::optional<TSaveChoice> AskSavePath(const QString& suggested);
    // Name filters of the open dialog and of the save dialog, in the order offered, and
    // the kind each save filter stands for.
    static QStringList OpenFilters();
    static QStringList SaveFilters();
    static const std::vector<TSaveKind>& SaveKinds();

    // Saves model as kind to path: asks first when path exists and does not hold the
    // model on display; progress and Cancel for long work; a failure is shown as a
    // message that names the file. True when the file was written.
    bool Save(const kgl::TKGLModel& model, const QString& path, TSaveKind kind);

    // The model on display came from path (a load): only that file holds it now.
    void Loaded(const QString& path);
    // Whether path holds the model on display (replaced without asking).
    bool HoldsShownModel(const QString& path) const;

    TRecentFiles& Recent() { return FRecent; }

private:
    bool ConfirmReplace(const QString& path);

    QWidget* FOwner;
    QStringList FHolding;  // absolute paths of the files that hold the model on display
    TRecentFiles FRecent;
};
