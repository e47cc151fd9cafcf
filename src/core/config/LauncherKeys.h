#pragma once

#include <QString>
#include <QStringView>
#include <span>

// Every key of the launcher's own that is read, from the installation's [Launcher] section or
// else the user's [Settings]: its name (any case, in the file), its kind of value and its default.
// The code reads them through these rows, and the installation's file is checked against them, so
// that a key the launcher would not read is named instead of taken without a word.
struct LauncherKey {
    enum class Type {
        Number,       // a whole number from low to high
        Address,      // an IPv4 or IPv6 address
        Group,        // the name of a group of the system
        CloseRequest, // how a server is asked to end, as the platform takes it
        Token,        // a secret of 16 to 256 visible characters
    };
    const char* name;
    Type type;
    const char* fallback; // the default, as written; "" for none
    qint64 low = 0;
    qint64 high = 0;
    // It turns on a protection: a value that cannot be used refuses the start rather than run
    // without it.
    bool guards = false;
    // Only the installation's file may hold it, never the user's settings.
    bool installationOnly = false;

    // The default of a Number.
    qint64 number() const { return QString::fromLatin1(fallback).toLongLong(); }
};

namespace LauncherKeys {

using Type = LauncherKey::Type;

// One row a key; keep one line each.
inline constexpr LauncherKey kStatusAddress{"Status Address", Type::Address, "127.0.0.1"};
inline constexpr LauncherKey kStatusPort{"Status Port", Type::Number, "18731", 0, 65535};
inline constexpr LauncherKey kStatusToken{"Status Token", Type::Token, "", 0, 0, true, true};
inline constexpr LauncherKey kTrustedGroup{"Trusted Group", Type::Group, "", 0, 0, true, true};
inline constexpr LauncherKey kLogGroup{"Log Group", Type::Group, ""};
inline constexpr LauncherKey kControlGroup{"Control Group", Type::Group, "", 0, 0, false, true};
inline constexpr LauncherKey kLogSizeKb{"Log File Size Limit KB", Type::Number, "10240", 16,
                                        4 * 1024 * 1024};
inline constexpr LauncherKey kLogFilesKept{"Log Files Kept", Type::Number, "5", 0, 100};
inline constexpr LauncherKey kConsoleLines{"ServerMessage Lines", Type::Number, "2000", 1, 50000};
inline constexpr LauncherKey kSampleSeconds{"Resource Sample Seconds", Type::Number, "2", 1, 3600};
inline constexpr LauncherKey kHistoryWriteSeconds{"History Write Seconds", Type::Number, "30", 1,
                                                  60};
inline constexpr LauncherKey kKeepHistory{"Keep History", Type::Number, "0", 0, 1, false, true};
inline constexpr LauncherKey kCrashReportsKept{"Crash Reports Kept", Type::Number, "20", 1, 10000};
inline constexpr LauncherKey kRelaunchBurst{"CrashRelaunch Burst", Type::Number, "3", 0, 1000};
inline constexpr LauncherKey kRelaunchWindow{"CrashRelaunch Window", Type::Number, "60", 1, 86400};
inline constexpr LauncherKey kRelaunchFirstDelay{"CrashRelaunch First Delay", Type::Number, "5", 1,
                                                 86400};
inline constexpr LauncherKey kRelaunchMaxDelay{"CrashRelaunch Max Delay", Type::Number, "300", 1,
                                               86400};
inline constexpr LauncherKey kRelaunchStableAfter{"CrashRelaunch Stable After", Type::Number, "60",
                                                  1, 86400};
inline constexpr LauncherKey kReadyConsole{"CrashRelaunch Ready Console", Type::Number, "0", 0, 1};
inline constexpr LauncherKey kLoginCloseRequest{"Login Server Close Request", Type::CloseRequest,
                                                "SIGTERM"};
inline constexpr LauncherKey kCharCloseRequest{"Char Server Close Request", Type::CloseRequest,
                                               "SIGTERM"};
inline constexpr LauncherKey kMapCloseRequest{"Map Server Close Request", Type::CloseRequest,
                                              "SIGTERM"};

// Every row above.
std::span<const LauncherKey* const> All();
// The row of a key as written in the file (any case, blanks between words as they come); null
// when there is none.
const LauncherKey* Find(QStringView name);
// Why the value cannot be used for the key; empty when it can.
QString Problem(const LauncherKey& key, const QString& value);

} // namespace LauncherKeys
