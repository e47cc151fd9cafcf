#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

// Text an alert quotes from a server's console is untrusted: before a format uses it, it is
// cleaned of what a terminal or a chat would act on, then escaped for the format's own markup.

// Terminal sequences (CSI, OSC and the other ESC ones, in their 7- and 8-bit forms) and control
// characters go; a tab becomes a space. CleanLine makes one line of it (line breaks become
// spaces); CleanText keeps its line breaks as "\n".
QString CleanLine(QStringView text);
QString CleanText(QStringView text);

// At most maxChars UTF-16 units, the last of them "…" when something was cut; never half of a
// surrogate pair.
QString CutText(const QString& text, qsizetype maxChars);

// How a receiver counts a text's length: in characters (UTF-16 units, the stricter count when a
// service counts code points) or in UTF-8 bytes.
enum class TextUnit { Utf16, Utf8 };
qsizetype TextSize(QStringView text, TextUnit unit);

// Appends one code point to `out`, escaped for some markup.
using CharEscape = void (*)(char32_t c, QString& out);

// The text escaped code point by code point, and cut with "…" so that the escaped result holds at
// most `limit` units: a cut never falls inside one code point's escape.
QString EscapeWithin(QStringView text, qsizetype limit, CharEscape escape,
                     TextUnit unit = TextUnit::Utf16);

// The newest of the lines, each escaped, one a line, within `limit` units: the oldest are left out
// first, and a first line "… N earlier lines" tells how many.
QString NewestLinesWithin(const QStringList& lines, qsizetype limit, CharEscape escape,
                          TextUnit unit = TextUnit::Utf16);

// A value for an HTTP header: cleaned to one line, then printable ASCII as it is, anything else as
// RFC 2047 encoded words ("=?UTF-8?B?...?=").
QByteArray HeaderValue(QStringView text);
