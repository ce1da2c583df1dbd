#include "recent_files.h"

#include <QFileInfo>
#include <QSettings>

namespace {
QSettings Settings() { return QSettings(QStringLiteral("KGL"), QStringLiteral("kgl-editor")); }
const QString kKey = QStringLiteral("recentFiles");
}  // namespace

QStringList TRecentFiles::Files() const {
    QStringList files = Settings().value(kKey).toStringList();
    files.removeAll(QString());
    while (files.size() > kMax) files.removeLast();  // a store written by hand
    return files;
}

void TRecentFiles::Add(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList files = Files();
    files.removeAll(absolute);
    files.prepend(absolute);
    while (files.size() > kMax) files.removeLast();
    Store(files);
}

void TRecentFiles::Remove(const QString& path) {
    QStringList files = Files();
    if (files.removeAll(QFileInfo(path).absoluteFilePath()) > 0) Store(files);
}

void TRecentFiles::Store(const QStringList& files) {
    QSettings settings = Settings();
    settings.setValue(kKey, files);
}
