#include "window_text.h"

#include <QFontDatabase>
#include <QFontMetricsF>

#include "utf8.h"

bool HasOneAdvance(const QFont& font, const QString& sample) {
    if (sample.isEmpty()) return true;
    const QFontMetricsF metrics(font);
    const qreal first = metrics.horizontalAdvance(sample.at(0));
    for (const QChar c : sample)
        if (metrics.horizontalAdvance(c) != first) return false;
    return true;
}

QFont FixedPitchFont(const QString& family, int pixelSize) {
    // The characters of the information text, narrow and wide.
    static const QString sample = QStringLiteral("iM.,:0W _lmx");
    QFont font(family);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(pixelSize);
    // Measured, not asked: fontconfig does not flag every monospaced face as such
    // (the URW fonts that ghostscript brings), and a family may map to a face that is
    // not monospaced at all.
    if (HasOneAdvance(font, sample)) return font;
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPixelSize(pixelSize);
    if (HasOneAdvance(fixed, sample)) return fixed;
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    mono.setPixelSize(pixelSize);
    return HasOneAdvance(mono, sample) ? mono : fixed;
}

QString ShownText(std::string_view bytes) { return QString::fromStdString(kgl::NameAsUtf8(bytes)); }
