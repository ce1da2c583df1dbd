#include "model_files.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <new>

#include "dialogs.h"
#include "errors.h"
#include "import.h"
#include "messages.h"
#include "work_progress.h"

namespace {

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString Shown(const QString& path) { return QDir::toNativeSeparators(path); }

// The same file whatever way it is named: its canonical path when it exists.
QString Identity(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

// Counts the model core's messages while it lives, passing them on.
class TMessageCount {
public:
    TMessageCount() {
        FPrevious = kgl::SetMessageHandler({});
        kgl::SetMessageHandler([this](const std::string& caption, const std::string& text) {
            ++FCount;
            if (FPrevious) {
                FPrevious(caption, text);
            } else {
                kgl::SetMessageHandler({});  // the core's own default, standard error
                kgl::ShowMessage(text, caption);
            }
        });
    }
    ~TMessageCount() { kgl::SetMessageHandler(std::move(FPrevious)); }
    int Count() const { return FCount; }

private:
    kgl::TMessageHandler FPrevious;
    int FCount = 0;
};

const QStringList& SaveFilterList() {
    static const QStringList filters = {
        QStringLiteral("KGM with its reduction state (*.kgm)"),
        QStringLiteral("OBJ of the full model (*.obj)"),
        QStringLiteral("The model as shown, as OBJ (*.obj)"),
        QStringLiteral("The model as shown, as KGM (*.kgm)"),
    };
    return filters;
}

}  // namespace

QStringList TModelFiles::OpenFilters() {
    std::vector<std::string> extensions = {".obj", ".kgm"};
    for (const std::string& e : kgl::ImportedExtensions()) extensions.push_back(e);
    QStringList patterns;
    for (const std::string& e : extensions) {
        if (!kgl::IsReadableExtension(e)) continue;
        const QString ext = QString::fromStdString(e);
        patterns << QStringLiteral("*") + ext << QStringLiteral("*") + ext.toUpper();
    }
    return {QStringLiteral("Model files (%1)").arg(patterns.join(QLatin1Char(' '))), QStringLiteral("All files (*)")};
}

QStringList TModelFiles::SaveFilters() { return SaveFilterList(); }

std::optional<QString> TModelFiles::AskOpenPath(const QString& folder) {
    QFileDialog dialog(FOwner, QStringLiteral("Open a model"), folder);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(OpenFilters());
    if (RunDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<TModelFiles::TSaveChoice> TModelFiles::AskSavePath(const QString& suggested) {
    QFileDialog dialog(FOwner, QStringLiteral("Save the model"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // asked here, knowing which file holds the model on display
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(SaveFilterList());
    dialog.selectFile(suggested);
    if (RunDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const int choice = std::max<qsizetype>(0, SaveFilterList().indexOf(dialog.selectedNameFilter()));
    const TSaveKind kind = static_cast<TSaveKind>(choice);
    QString path = dialog.selectedFiles().first();
    const QString ext = QFileInfo(path).suffix().toLower();
    switch (kind) {
        case TSaveKind::kKgm:
            if (ext != QLatin1String("kgm")) path += QStringLiteral(".kgm");
            return TSaveChoice{path, kind};
        case TSaveKind::kFullObj:
            if (ext != QLatin1String("obj")) path += QStringLiteral(".obj");
            return TSaveChoice{path, kind};
        case TSaveKind::kShownObj:
        case TSaveKind::kShownKgm:
            // the model as shown goes as the name says, else as the filter says
            if (ext == QLatin1String("obj")) return TSaveChoice{path, TSaveKind::kShownObj};
            if (ext == QLatin1String("kgm")) return TSaveChoice{path, TSaveKind::kShownKgm};
            path += kind == TSaveKind::kShownObj ? QStringLiteral(".obj") : QStringLiteral(".kgm");
            return TSaveChoice{path, kind};
    }
    return std::nullopt;
}

void TModelFiles::Loaded(const QString& path) { FHolding = QStringList{Identity(path)}; }

bool TModelFiles::HoldsShownModel(const QString& path) const { return FHolding.contains(Identity(path)); }

bool TModelFiles::ConfirmReplace(const QString& path) {
    QMessageBox box(
        QMessageBox::Question, QStringLiteral("Replace the file?"),
        QStringLiteral("\"%1\" exists and holds another model than the one on display. Replace it?").arg(Shown(path)),
        QMessageBox::Yes | QMessageBox::No, FOwner);
    box.setDefaultButton(QMessageBox::No);
    return RunDialog(box) == QMessageBox::Yes;
}

bool TModelFiles::Save(const kgl::TKGLModel& model, const QString& path, TSaveKind kind) {
    if (QFileInfo::exists(path) && !HoldsShownModel(path) && !ConfirmReplace(path)) return false;
    const bool obj = kind == TSaveKind::kFullObj || kind == TSaveKind::kShownObj;
    const bool asShown = kind == TSaveKind::kShownObj || kind == TSaveKind::kShownKgm;
    const QString name = QFileInfo(path).fileName();
    TWorkProgress progress(FOwner, QStringLiteral("Saving %1").arg(name));
    kgl::TKGLModel baked;
    const kgl::TKGLModel* out = &model;
    if (asShown) {
        progress.SetLabel(QStringLiteral("Making the model as shown for %1").arg(name));
        if (!kgl::BakeReduction(model, baked)) return false;  // cancelled, or said why
        out = &baked;
    }
    if (obj && out->fCount < 1) {
        kgl::ShowMessage(QStringLiteral("\"%1\" is not written: the model has no faces, and OBJ text needs them")
                             .arg(Shown(path))
                             .toStdString());
        return false;
    }
    progress.SetLabel(QStringLiteral("Writing %1").arg(name));
    bool written = false;
    if (obj) {
        TMessageCount messages;
        kgl::SaveToOBJ(*out, LocalPath(path));
        written = messages.Count() == 0 && !progress.Cancelled();
    } else {
        try {
            kgl::SaveToKGM(*out, LocalPath(path));
            written = true;
        } catch (const kgl::ECancelled&) {
            // the user asked for it: nothing to say
        } catch (const kgl::EModelError& e) {
            kgl::ShowMessage(kgl::FormatExceptionText(e));
        } catch (const std::bad_alloc&) {
            kgl::ShowMessage(
                kgl::FormatExceptionText("EOutOfMemory", "Out of memory while writing '" + LocalPath(path) + "'"));
        }
    }
    if (written) FHolding << Identity(path);
    return written;
}
