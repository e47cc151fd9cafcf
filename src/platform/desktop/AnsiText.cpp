#include "AnsiText.h"

QByteArray ToAnsi(const QString& text) {
    QByteArray ansi;
    ansi.reserve(text.size());
    for (const QChar c : text)
        ansi.append(c.unicode() <= 0xFF ? static_cast<char>(c.unicode()) : '?');
    return ansi;
}

QString FromAnsi(const char* field, qsizetype size) {
    qsizetype length = 0;
    while (length < size && field[length] != '\0')
        ++length;
    return QString::fromLatin1(field, length);
}
