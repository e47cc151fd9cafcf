#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

// A file's contents; nothing when it cannot be read.
inline QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A console log's text without the time each line starts with ("2026-12-09 05:21:21 "); a line
// without one comes out as "unstamped:" and the line, so that comparisons show it.
inline QByteArray WithoutStamps(const QByteArray& text) {
    QList<QByteArray> lines = text.split('\n');
    for (QByteArray& line : lines) {
        const bool stamped = line.size() >= 20 && line[4] == '-' && line[7] == '-' &&
                             line[10] == ' ' && line[13] == ':' && line[16] == ':' &&
                             line[19] == ' ';
        if (!line.isEmpty())
            line = stamped ? line.mid(20) : "unstamped:" + line;
    }
    return lines.join('\n');
}
