#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

// One thing an operator away from the desk is told: a crash episode's beginning and end, a server
// that cannot be started, a stop without its save, a failed health probe, the launcher's own start
// and exit. Whatever it quotes from a server's console (lines, and the words of how it ended) is
// untrusted: each delivery format escapes it for its own markup.
struct Alert {
    enum class Kind {
        CrashBegan,       // a crash episode begins: the first crash since the server was up
        HealthFailed,     // a health probe failed: the episode begins with a hung server
        StillCrashing,    // the episode goes on: relaunches summed up over an interval
        BackUp,           // the episode ended: the server has stayed up
        StartFailed,      // a server cannot be started
        SaveNotConfirmed, // a stop sequence ended without the save confirmed
        MemoryRestart,    // a server held more memory than its limit for too long: restarted
        BackupFailed,     // a backup of a server's world did not complete
        RestoreDone,      // a backup was put back in place
        RestoreFailed,    // a restore was refused or did not complete; what it says changed
        LauncherStarted,
        LauncherExited,
        ScheduledRestart,     // a scheduled restart begins: the servers are stopped
        ScheduledRestartDone, // and they run again
        ScheduleFailed,       // a scheduled run went wrong: a line not typed, a start that failed
        Test,                 // asked for by the operator
    };

    Kind kind = Kind::Test;
    // Unique among this installation's alerts, for a receiver to drop one delivered twice.
    QString id;
    std::int64_t epochMs = 0;     // when it happened
    QString host;                 // the machine's name
    QString installation;         // the server folder
    QString server;               // "Map Server"; empty for the launcher's own events
    QString title;                // one line: "Map Server crashed"
    QString message;              // one or a few sentences, plain text
    QStringList lines;            // the console's last lines, oldest first (untrusted)
    QString report;               // the crash report's file, when one was written
    int relaunches = -1;          // in the episode so far; -1 when it does not apply
    std::int64_t durationMs = -1; // of the episode so far; -1 when it does not apply

    // "crash", "health", "still_crashing", "back_up", "start_failed", "save_not_confirmed",
    // "memory_restart", "backup_failed", "restore_done", "restore_failed", "launcher_started",
    // "launcher_exited", "scheduled_restart", "scheduled_restart_done", "schedule_failed", "test":
    // the json format's event names.
    static QString KindName(Kind kind);
    static std::optional<Kind> KindNamed(const QString& name);
    // Whether it tells of trouble (red), or of something back to normal or routine.
    bool isTrouble() const;

    // Its fields as the json format and the queue file hold them, and back; nothing when the
    // object is not an alert.
    QJsonObject toJson() const;
    static std::optional<Alert> fromJson(const QJsonObject& object);
};
