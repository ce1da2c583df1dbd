#pragma once
// Text as the window shows it: the fixed-pitch face of the information text and the
// key list, and the bytes of a model's names (which the files keep as they are) as
// characters.
#include <QFont>
#include <QString>
#include <string_view>

// The face of the information text: family at pixelSize when its glyphs really are
// all of one advance here; otherwise the system's fixed font at that size (a family
// name may match a face that is monospaced by design but not flagged so, or not
// monospaced at all).
QFont FixedPitchFont(const QString& family, int pixelSize);
// Whether every character of sample has the same advance in font.
bool HasOneAdvance(const QFont& font, const QString& sample);

// Bytes of a name as characters: every valid UTF-8 sequence as the character it
// encodes, every other byte as the Latin-1 character of that value (exporters write
// both), so no byte is lost or shown as a replacement mark.
QString ShownText(std::string_view bytes);
