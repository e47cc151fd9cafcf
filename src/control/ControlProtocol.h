#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// The control socket's lines. A request is one JSON object ({"verb": "stop", "servers": ["map"]});
// its answer one object too: {"ok": true, "message": ...} or {"ok": true, "lines": [...]}, and
// {"ok": false, "message": why} for a refusal.
struct ControlRequest {
    QString verb;
    QList<int> servers; // in the launcher's order, each once
    QString text;
    QString archive;
    int lines = 20;
    bool follow = false;
    bool yes = false;
    QString refusal; // not empty: the line is not a request the launcher takes, and why

    // The most lines a read asks for.
    static constexpr int kMaxLines = 10000;
    // The most characters of them in an answer.
    static constexpr qsizetype kMaxAnswerChars = 1024 * 1024;

    // The request of one line, servers named as the launcher names them (login, char, map, or the
    // display names, in any case).
    static ControlRequest Parse(const QByteArray& line);
};

namespace ControlAnswer {
QByteArray Line(const QJsonObject& object);
QByteArray Done(const QString& message);
QByteArray Refused(const QString& why);
QByteArray Lines(const QStringList& lines);
// The last count of lines, as many of them as an answer holds.
QStringList LastLines(const QStringList& lines, int count);
} // namespace ControlAnswer
