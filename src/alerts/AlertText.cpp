#include "AlertText.h"

#include <QByteArrayList>
#include <algorithm>

namespace {

const QString kEllipsis = QStringLiteral("\u2026");

bool IsStringIntroducer(char16_t c) {
    // 8-bit DCS, SOS, OSC, PM, APC: a string ended by BEL or ST.
    return c == 0x90 || c == 0x98 || c == 0x9D || c == 0x9E || c == 0x9F;
}

// Where the terminal sequence that starts at `i` (ESC, or an 8-bit CSI or string introducer)
// ends: the index just after it.
qsizetype SkipSequence(QStringView t, qsizetype i) {
    const char16_t first = t[i++].unicode();
    bool csi = first == 0x9B;
    bool string = IsStringIntroducer(first);
    if (first == 0x1B) {
        if (i >= t.size())
            return i;
        const char16_t next = t[i].unicode();
        if (next == u'[') {
            csi = true;
            ++i;
        } else if (next == u']' || next == u'P' || next == u'X' || next == u'^' || next == u'_') {
            string = true;
            ++i;
        } else {
            // ESC, intermediate bytes, one final character.
            while (i < t.size() && t[i].unicode() >= 0x20 && t[i].unicode() <= 0x2F)
                ++i;
            return i < t.size() ? i + 1 : i;
        }
    }
    if (csi) {
        // Parameter and intermediate bytes, then a final byte; anything else ends it early.
        while (i < t.size()) {
            const char16_t c = t[i].unicode();
            if (c >= 0x40 && c <= 0x7E)
                return i + 1;
            if (c < 0x20 || c > 0x3F)
                return i;
            ++i;
        }
        return i;
    }
    if (string) {
        while (i < t.size()) {
            const char16_t c = t[i].unicode();
            if (c == 0x07 || c == 0x9C)
                return i + 1;
            if (c == 0x1B && i + 1 < t.size() && t[i + 1] == u'\\')
                return i + 2;
            ++i;
        }
    }
    return i;
}

bool IsDropped(char16_t c) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
        return true;
    // Bidirectional overrides and isolates: they reorder what is shown around them.
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

QString Clean(QStringView t, bool keepBreaks) {
    QString out;
    out.reserve(t.size());
    for (qsizetype i = 0; i < t.size();) {
        const char16_t c = t[i].unicode();
        if (c == 0x1B || c == 0x9B || IsStringIntroducer(c)) {
            i = SkipSequence(t, i);
            continue;
        }
        ++i;
        if (c == u'\r' && (i == t.size() || t[i] == u'\n'))
            continue; // a line's own end, or the \n that follows makes the break
        if (c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029)
            out += keepBreaks ? u'\n' : u' ';
        else if (c == u'\t')
            out += u' ';
        else if (!IsDropped(c))
            out += QChar(c);
    }
    return out;
}

void AppendPlain(char32_t c, QString& out) {
    out += QString::fromUcs4(&c, 1);
}

QString EscapeAll(QStringView text, CharEscape escape) {
    QString out;
    for (const char32_t c : text.toUcs4())
        escape(c, out);
    return out;
}

} // namespace

QString CleanLine(QStringView text) {
    return Clean(text, false);
}

QString CleanText(QStringView text) {
    return Clean(text, true);
}

QString CutText(const QString& text, qsizetype maxChars) {
    if (text.size() <= maxChars)
        return text;
    qsizetype keep = qMax<qsizetype>(0, maxChars - 1);
    if (keep > 0 && text[keep - 1].isHighSurrogate())
        --keep;
    return text.left(keep) + kEllipsis;
}

qsizetype TextSize(QStringView text, TextUnit unit) {
    return unit == TextUnit::Utf8 ? text.toUtf8().size() : text.size();
}

QString EscapeWithin(QStringView text, qsizetype limit, CharEscape escape, TextUnit unit) {
    if (!escape)
        escape = AppendPlain;
    const QString whole = EscapeAll(text, escape);
    if (TextSize(whole, unit) <= limit)
        return whole;
    const qsizetype room = limit - TextSize(kEllipsis, unit);
    QString out;
    qsizetype used = 0;
    for (const char32_t c : text.toUcs4()) {
        QString piece;
        escape(c, piece);
        const qsizetype size = TextSize(piece, unit);
        if (used + size > room)
            break;
        out += piece;
        used += size;
    }
    return room >= 0 ? out + kEllipsis : QString();
}

QString NewestLinesWithin(const QStringList& lines, qsizetype limit, CharEscape escape,
                          TextUnit unit) {
    if (!escape)
        escape = AppendPlain;
    QStringList kept; // newest first
    QList<qsizetype> sizes;
    qsizetype used = -1; // no line break before the first line
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        QString line = EscapeAll(lines[i], escape);
        const qsizetype size = TextSize(line, unit) + 1;
        kept << line;
        sizes << size;
        used += size;
        if (used > limit)
            break;
    }
    if (used <= limit) {
        std::reverse(kept.begin(), kept.end());
        return kept.join(u'\n');
    }
    // Some are left out: drop the oldest of those kept until the note fits as well.
    const auto note = [&] {
        return QStringLiteral("\u2026 %1 earlier lines").arg(lines.size() - kept.size());
    };
    while (!kept.isEmpty() && used + 1 + TextSize(note(), unit) > limit) {
        used -= sizes.takeLast();
        kept.removeLast();
    }
    if (kept.isEmpty()) {
        // Not even the newest line fits whole: as much of it as does.
        const qsizetype room = limit - 1 - TextSize(note(), unit);
        if (room > 0)
            kept << EscapeWithin(lines.last(), room, escape, unit);
    }
    std::reverse(kept.begin(), kept.end());
    const QString head = note();
    if (TextSize(head, unit) > limit)
        return {};
    kept.prepend(head);
    return kept.join(u'\n');
}

QByteArray HeaderValue(QStringView text) {
    const QString line = CleanLine(text).trimmed();
    bool ascii = !line.contains(QLatin1String("=?")); // else a receiver would decode it
    for (const QChar c : line)
        ascii = ascii && c.unicode() >= 0x20 && c.unicode() <= 0x7E;
    if (ascii)
        return line.toLatin1();
    // Encoded words of at most 45 bytes of UTF-8 (75 characters in all), whole code points each.
    QByteArrayList words;
    QByteArray chunk;
    for (const char32_t c : QStringView(line).toUcs4()) {
        const QByteArray bytes = QString::fromUcs4(&c, 1).toUtf8();
        if (chunk.size() + bytes.size() > 45) {
            words << chunk;
            chunk.clear();
        }
        chunk += bytes;
    }
    if (!chunk.isEmpty())
        words << chunk;
    for (QByteArray& word : words)
        word = "=?UTF-8?B?" + word.toBase64() + "?=";
    return words.join(' ');
}
