#include "model_files.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <cstring>
#include <new>

#include "dialogs.h"
#include "errors.h"
#include "export.h"
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

// The save dialog's choices: its filter texts and the kinds they stand for, in order.
struct TSaveChoices {
    QStringList filters;
    std::vector<TSaveKind> kinds;
};

const TSaveChoices& SaveChoices() {
    static const TSaveChoices choices = [] {
        TSaveChoices c;
        c.filters = {
            QStringLiteral("KGM with its reduction state (*.kgm)"),
            QStringLiteral("OBJ of the full model (*.obj)"),
            QStringLiteral("The model as shown, as OBJ (*.obj)"),
            QStringLiteral("The model as shown, as KGM (*.kgm)"),
        };
        c.kinds = {TSaveKind::kKgm, TSaveKind::kFullObj, TSaveKind::kShownObj, TSaveKind::kShownKgm};
        for (const kgl::TExportFormat& format : kgl::ExportFormats()) {
            const QString name = QString::fromStdString(format.description);
            const QString pattern = QStringLiteral("(*%1)").arg(QString::fromStdString(format.extension));
            c.filters << QStringLiteral("%1 of the full model %2").arg(name, pattern)
                      << QStringLiteral("The model as shown, as %1 %2").arg(name, pattern);
            c.kinds.push_back({format.extension.c_str(), false});
            c.kinds.push_back({format.extension.c_str(), true});
        }
        return c;
    }();
    return choices;
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

QStringList TModelFiles::SaveFilters() { return SaveChoices().filters; }

const std::vector<TSaveKind>& TModelFiles::SaveKinds() { return SaveChoices().kinds; }

const TSaveKind TSaveKind::kKgm{".kgm", false}, TSaveKind::kFullObj{".obj", false}, TSaveKind::kShownObj{".obj", true},
    TSaveKind::kShownKgm{".kgm", true};

bool TSaveKind::operator==(const TSaveKind& other) const {
    return std::strcmp(format, other.format) == 0 && asShown == other.asShown;
}

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
    dialog.setNameFilters(SaveFilters());
    dialog.selectFile(suggested);
    if (RunDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const qsizetype choice = std::max<qsizetype>(0, SaveFilters().indexOf(dialog.selectedNameFilter()));
    const TSaveKind kind = SaveKinds()[static_cast<size_t>(choice)];
    QString path = dialog.selectedFiles().first();
    const QString ext = QStringLiteral(".") + QFileInfo(path).suffix().toLower();
    // the model as shown in OBJ or KGM goes as the name says, else as the filter says
    if ((kind == TSaveKind::kShownObj || kind == TSaveKind::kShownKgm) &&
        (ext == QLatin1String(".obj") || ext == QLatin1String(".kgm")))
        return TSaveChoice{path, ext == QLatin1String(".obj") ? TSaveKind::kShownObj : TSaveKind::kShownKgm};
    if (ext != QLatin1String(kind.format)) path += QLatin1String(kind.format);
    return TSaveChoice{path, kind};
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
    const std::string format = kind.format;
    const QString name = QFileInfo(path).fileName();
    TWorkProgress progress(FOwner, QStringLiteral("Saving %1").arg(name));
    kgl::TKGLModel baked;
    const kgl::TKGLModel* out = &model;
    if (kind.asShown) {
        progress.SetLabel(QStringLiteral("Making the model as shown for %1").arg(name));
        if (!kgl::BakeReduction(model, baked)) return false;  // cancelled, or said why
        out = &baked;
    }
    if (format != ".kgm" && out->fCount < 1) {
        kgl::ShowMessage(
            QStringLiteral("\"%1\" is not written: the model has no faces, and %2 needs them")
                .arg(Shown(path), format == ".obj" ? QStringLiteral("OBJ text") : QStringLiteral("the format"))
                .toStdString());
        return false;
    }
    progress.SetLabel(QStringLiteral("Writing %1").arg(name));
    bool written = false;
    if (format == ".obj") {
        TMessageCount messages;
        kgl::SaveToOBJ(*out, LocalPath(path));
        written = messages.Count() == 0 && !progress.Cancelled();
    } else {
        try {
            if (format == ".kgm")
                kgl::SaveToKGM(*out, LocalPath(path));
            else
                kgl::ExportModelFile(*out, LocalPath(path));
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
