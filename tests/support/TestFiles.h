#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QStringList>

// A file's contents; nothing when it cannot be read.
inline QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes the file whole, its folder made first; false when it cannot.
inline bool WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The first of the lines from that row on that holds the text; -1 when none does.
inline qsizetype RowWith(const QStringList& lines, const QString& text, qsizetype from = 0) {
    for (qsizetype i = from; i < lines.size(); ++i)
        if (lines[i].contains(text))
            return i;
    return -1;
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

// Sets an environment variable for as long as it lives (programs started meanwhile inherit it).
struct ScopedEnv {
    ScopedEnv(const char* name, const QByteArray& value)
        : name(name), had(qEnvironmentVariableIsSet(name)), saved(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedEnv() { had ? qputenv(name, saved) : qunsetenv(name); }
    const char* name;
    bool had;
    QByteArray saved;
};
