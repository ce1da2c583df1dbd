#pragma once
// The files opened last, newest first, at most kMax, kept across runs in the toolkit's
// settings store (QSettings, organisation "KGL", application "kgl-editor", key
// "recentFiles"). Paths are absolute; a file opened again moves to the front.
#include <QStringList>

class TRecentFiles {
public:
    static constexpr int kMax = 10;

    QStringList Files() const;
    void Add(const QString& path);
    void Remove(const QString& path);

private:
    void Store(const QStringList& files);
};
