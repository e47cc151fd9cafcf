#include "CommandLineText.h"

namespace CommandLineText {

namespace {

constexpr char16_t kFirstPicture = 0x2400; // ␀; ␡ stands for DEL
constexpr char16_t kDeletePicture = 0x2421;

bool IsControl(QChar c) {
    return c.category() == QChar::Other_Control; // C0, DEL and C1
}

} // namespace

QString ShowControlCharacters(const QString& text) {
    QString shown = text;
    for (QChar& c : shown) {
        if (!IsControl(c))
            continue;
        const char16_t code = c.unicode();
        c = code < 0x20    ? QChar(char16_t(kFirstPicture + code))
            : code == 0x7f ? QChar(kDeletePicture)
                           : QChar(u'\uFFFD'); // C1: no picture of its own
    }
    return shown;
}

bool HasControlCharacters(const QString& text) {
    for (const QChar c : text)
        if (IsControl(c) || (c.unicode() >= kFirstPicture && c.unicode() <= kDeletePicture))
            return true;
    return false;
}

QString Fault(const QString& line) {
    if (HasControlCharacters(line))
        return QStringLiteral("the line holds control characters (shown as \u2403 and the like)");
    const qsizetype bytes = line.toUtf8().size();
    if (bytes > kMaxLineBytes)
        return QStringLiteral("the line is %1 bytes, longer than a console takes (%2)")
            .arg(bytes)
            .arg(kMaxLineBytes);
    return QString();
}

QString Refusal(const QString& line) {
    const QString fault = Fault(line);
    return fault.isEmpty() ? fault : fault + QStringLiteral(": nothing sent");
}

} // namespace CommandLineText
