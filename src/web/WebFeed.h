#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

class LauncherCore;

// What the panel's live pages are sent, taken on the launcher's thread at each of the panel's
// ticks, once for all its pages:
//
//   {"status": {...as Status() tells it...},
//    "consoles": {"map": [["line", [[start, length, fg, bg, flags], ...]], ...]},
//    "versions": {"map": 7},
//    "log": ["line", ...], "logNext": 1234}
//
// A console's lines come only when they differ from the version the asker has; "versions" tells
// every console asked for. A tick that asks for the console alone carries no "status" and no log.
//
// A console line comes with its colours as the message pane parses them: fg and bg are null
// (the default), a palette index 0..255 or "#rrggbb"; flags 1 is bold, 2 underlined. No escape
// sequence or control character is left in a line.
namespace WebFeed {

// The most console lines a page is sent, and the most characters of each.
inline constexpr int kConsoleLines = 500;
inline constexpr int kLineChars = 2000;
// The most log lines one feed carries.
inline constexpr int kLogLines = 2000;

// Each console's text as last captured, its lines and its version, which moves on whenever the
// text changed: a console that did not change since is neither parsed nor sent again.
struct ConsoleVersions {
    struct Kept {
        QString text;
        QJsonArray lines;
        quint64 version = 0;
    };
    QHash<int, Kept> kept;
};

// consoles: each console asked for, with the version the asker has of it (0: none). logFrom:
// the first log line wanted; none with withStatus false, which also leaves out the state.
QByteArray Take(LauncherCore& core, const QHash<int, quint64>& consoles, quint64 logFrom,
                bool withStatus, ConsoleVersions& versions);

// The state as /api/status tells it, with what the panel's overview adds to each server:
// "cpu_percent" and "resident_bytes" (null until sampled) and "next_event" (null: none).
QJsonObject Status(const LauncherCore& core);

// A console's text with escape sequences as [line, runs] pairs.
QJsonArray StyledLines(const QString& console);

} // namespace WebFeed
