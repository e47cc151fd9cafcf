#pragma once

#include <QString>
#include <array>

// The three servers, in start and stop order. The index is the same everywhere a server is meant.
namespace ServerTable {

inline constexpr int kCount = 3;
inline constexpr int kLogin = 0;
inline constexpr int kChar = 1;
inline constexpr int kMap = 2;

// Display names: the log's names and the titles of the servers' consoles.
inline const std::array<QString, kCount>& displayNames() {
    static const std::array<QString, kCount> names{QStringLiteral("Login Server"),
                                                   QStringLiteral("Char Server"),
                                                   QStringLiteral("Map Server")};
    return names;
}

// Short names: the labels of /status, corvanectl status --json and the web panel.
inline const std::array<QString, kCount>& labels() {
    static const std::array<QString, kCount> names{QStringLiteral("login"), QStringLiteral("char"),
                                                   QStringLiteral("map")};
    return names;
}

// Program files, appended to the launcher folder.
inline const std::array<QString, kCount>& programFiles() {
    static const std::array<QString, kCount> files{QStringLiteral("/login-server"),
                                                   QStringLiteral("/char-server"),
                                                   QStringLiteral("/map-server")};
    return files;
}

// How the stop sequence names each server's close result (the first keeps its historic spelling).
inline const std::array<QString, kCount>& stopLogPrefixes() {
    static const std::array<QString, kCount> prefixes{
        QStringLiteral("> Login Server returnred code "),
        QStringLiteral("> Character Server returned code "),
        QStringLiteral("> Map Server returned code ")};
    return prefixes;
}

// The server a word names, in any case: "login", "Login Server" or "login-server"; -1 for none.
inline int IndexOfName(const QString& word) {
    const QString name = word.trimmed().toLower();
    for (int i = 0; i < kCount; ++i) {
        const QString display = displayNames()[i].toLower();
        if (name == display || name == display.section(u' ', 0, 0) ||
            name == programFiles()[i].mid(1))
            return i;
    }
    return -1;
}

} // namespace ServerTable
