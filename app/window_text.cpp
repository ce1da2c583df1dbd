#include "window_text.h"

#include <QFontDatabase>
#include <QFontMetricsF>

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

QString ShownText(std::string_view bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        const unsigned c = p[i];
        // the length and the smallest value of a sequence led by c (none: a lone byte)
        const size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 1;
        char32_t code = len == 1 ? c : c & (0x7F >> len);
        bool valid = len > 1 && i + len <= n;
        for (size_t k = 1; valid && k < len; ++k) {
            valid = (p[i + k] & 0xC0) == 0x80;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        // no overlong form, no surrogate, nothing past U+10FFFF
        valid = valid && !(len == 3 && code < 0x800) && !(len == 4 && (code < 0x10000 || code > 0x10FFFF)) &&
                !(code >= 0xD800 && code <= 0xDFFF);
        if (len > 1 && valid) {
            text += QString::fromUcs4(&code, 1);
            i += len;
        } else {
            text += QChar(static_cast<char16_t>(c));  // Latin-1
            ++i;
        }
    }
    return text;
}
