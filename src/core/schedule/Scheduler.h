#pragma once

#include "ScheduleConfig.h"

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimeZone>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class CheckedFolder;
class Clock;
class ConsoleMirror;
class LauncherLog;
class ClockTimer;
class ServerFleet;

// Runs the installation's schedules while the launcher is online: restarts announced in the
// servers' consoles beforehand, commands typed at their times, backups. One run at a time goes
// through its states (warning, stopping, backing up, starting); a command without warnings is
// typed at once, also while another run warns. Times are the wall clock's (Clock::EpochMs) in the
// scheduler's time zone. A timer wakes transition() at the next deadline, or after a few seconds at
// most, so that a machine that slept or a clock set on is noticed soon.
//
// While the launcher is offline nothing is run: a time that passes then is a missed run once the
// servers are online again, and a restart only ever restarts servers that run: none the operator
// stopped is started by a schedule, also not when all were stopped while the restart stopped,
// backed up or started them. A run more than kLateMs late is a missed one, made up once or
// left out as its schedule says. The time each schedule
// last ran is kept in the state folder, so that no time is ever run twice, not after the clock was
// set back and not after the launcher was started again.
class Scheduler : public QObject {
    Q_OBJECT
public:
    // A run later than this is a missed one.
    static constexpr std::int64_t kLateMs = 5 * 60 * 1000;
    // The longest the timer sleeps.
    static constexpr int kMaxSleepMs = 5000;

    enum class Phase { Idle, Warning, Stopping, BackingUp, Starting };
    Q_ENUM(Phase)

    // Says once whether the backup went well, with the reason when not.
    using BackupDone = std::function<void(bool ok, const QString& why)>;
    // Backs the installation up, for the schedule named; calls done when it is over, at once or
    // later. A restart runs it between the stop and the start of the servers.
    using BackupStep = std::function<void(const QString& schedule, BackupDone done)>;

    Scheduler(ServerFleet& fleet, ConsoleMirror& mirror, LauncherLog& log, Clock& clock,
              QObject* parent = nullptr);
    ~Scheduler() override;

    // The local time the schedules' times are read in; the system's by default.
    void SetTimeZone(const QTimeZone& zone);
    // The installation's schedules, read again: a schedule keeps its last run by its name.
    void SetEntries(const QList<ScheduleEntry>& entries);
    // Where the last runs are kept (the launcher's private folder); without one they are kept in
    // memory only.
    void UseStateFolder(const QString& folder);
    // No backup step: a restart goes on without one, a backup task is left out with a line.
    void SetBackupStep(BackupStep step) { backup_ = std::move(step); }

    // Does what is due on the clock now, and sets the timer for what comes next.
    void transition();
    Phase phase() const;

    // "Next: restart at 04:00 (warnings from 03:45)" for the server's tab; empty when no schedule
    // names the server.
    QString NextEventLine(int server) const;
    // The server's next scheduled restart is left out, once: the schedule runs again at its
    // following time. Not once the restart's stop has begun.
    bool CanSkipNextRestart(int server) const;
    void SkipNextRestart(int server);

signals:
    void restartBegan(const QString& schedule, int server); // server -1: all of them
    void restartDone(const QString& schedule, int server);
    // A scheduled run went wrong: a line could not be typed, the servers were not started again.
    void runFailed(const QString& schedule, int server, const QString& what);
    // A schedule acted on its servers: "restart Char Server and Map Server", "send Map Server:
    // save", "back up Map Server", with what came of it ("begun", "done", "failed: ...").
    void acted(const QString& schedule, const QString& what, const QString& outcome);

private:
    struct Planned {
        ScheduleEntry entry;
        std::optional<std::int64_t> nextMs; // the next time, on the wall clock
        bool heldByRun = false;             // came while another run stopped or started servers
    };
    struct Run {
        ScheduleEntry entry;
        std::int64_t occurrenceMs = 0; // the time it stands for
        std::int64_t dueMs = 0;        // when its task begins (after a missed time: later)
        int nextWarning = 0;
        Phase phase = Phase::Warning;
        std::array<bool, 3> servers{}; // the ones it restarts
        bool wholeSequence = false;    // all three, by the stop and start of all
        std::array<std::int32_t, 3> pidsBefore{};
        std::optional<bool> backupOk;
        QString backupWhy;
        bool stoppedMeanwhile = false; // the servers were stopped from the launcher during it
    };

    void rebuild();
    bool online() const;
    void considerEntry(Planned& p, std::int64_t now);
    void beginRun(Planned& p, std::int64_t occurrence, std::int64_t due);
    void advanceRun(std::int64_t now);
    void enterPhase(Phase next);
    void typeWarnings(std::int64_t now);
    void runTask();
    void typeCommand(const ScheduleEntry& entry, int server, const QString& text);
    void callBackup();
    void typeCommandTask(const ScheduleEntry& entry);
    void beginRestart();
    void afterStop();
    void startAgain();
    void finishRestart();
    void endRun();
    void leaveStopped();
    void markRun(Planned& p, std::int64_t occurrence);
    void markRun(const QString& name, std::int64_t occurrence);
    Planned* planned(const QString& name);
    void save();
    void armTimer();
    void wakeSoon();
    QString prefix(const ScheduleEntry& entry) const; // Schedule "nightly":
    QString timeText(std::int64_t ms) const; // "04:00", "04:00 tomorrow", "04:00 on Mon 7 Dec"
    struct Upcoming {
        std::int64_t atMs;         // when its task begins
        std::int64_t occurrenceMs; // the time it stands for
        const ScheduleEntry* entry;
    };
    std::optional<Upcoming> nextFor(int server, bool restartsOnly) const;

    ServerFleet& fleet_;
    ConsoleMirror& mirror_;
    LauncherLog& log_;
    Clock& clock_;
    QTimeZone zone_;
    QList<ScheduleEntry> entries_;
    QList<Planned> planned_;
    QHash<QString, std::int64_t> lastRuns_; // by schedule name: the time it last stood for
    std::unique_ptr<CheckedFolder> folder_;
    QString fileName_;
    std::unique_ptr<Run> run_;
    BackupStep backup_;
    bool busy_ = false;
    bool ownStop_ = false; // the stop of all servers under way is the run's own
    bool saveFailed_ = false;
    std::uint64_t runId_ = 0; // told apart from the runs before it, for a late backup's answer
    std::optional<QList<ScheduleEntry>> pendingEntries_; // came while transition() ran
    ClockTimer* tmrWake_;
};
