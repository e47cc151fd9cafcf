#pragma once

#include "CrashBackoff.h"
#include "CrashTally.h"
#include "HealthRules.h"
#include "ServerProcess.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>

class Clock;

// One server as the launcher supervises it: the record of its process, what the launcher means it
// to do (its state), the fields that belong to that state, and its crash history. The state
// changes only through the named transitions below; each checks that the server is in a state it
// may leave that way, and tells every observer the new state and the old one. A transition from
// any other state is a mistake in the launcher: it is refused and counted, and a debug build
// stops at it (see illegalTransitions).
class ServerSupervisor : public QObject {
    Q_OBJECT
public:
    enum class State {
        NotStarted,     // nothing was asked of it yet
        Starting,       // a start of it is under way
        Running,        // meant to run: the crash check watches it
        Stopping,       // its stop sequence runs, or it outlived it; started again after a restart
        Stopped,        // stopped by the operator
        CrashedWaiting, // crashed; its relaunch is due at dueMs, or after the crash notice
        StartFailed,    // a start of it did not succeed, and nobody is retrying it
    };
    Q_ENUM(State)

    // Its times are those of clock.
    ServerSupervisor(int index, Clock& clock, QObject* parent = nullptr);

    int index() const { return index_; }
    // "Map Server": the log's name and the title of its console.
    const QString& name() const;
    // "/map-server": appended to the server folder.
    const QString& programFile() const;

    State state() const { return state_; }
    // ---- transitions
    // A start of it begins: by the operator, a start sequence, a relaunch after a crash (from
    // Running or CrashedWaiting), or the second half of a restart.
    bool beginStart();
    // The start did not succeed, and nobody retries it.
    bool startFailed();
    // It runs as the record's process (a start, an adoption, a restart that left it running): its
    // uptime counts from nowMs when the process is a new one.
    bool markRunning(std::int64_t nowMs);
    // A relaunch after a crash could not be started: it is watched again, so that a later check
    // finds it missing and tries again.
    bool watchAgain();
    // A start sequence stopped before it: nothing was asked of it.
    bool leftNotStarted();
    // It crashed, and its relaunch waits: until dueMs, or (empty) for the first check after the
    // crash notice that stands now, which ends at noticeEndsAtMs.
    bool crashed(std::optional<std::int64_t> dueMs, std::int64_t noticeEndsAtMs = 0);
    // Its stop sequence begins: to stop it, or to start it again once it has ended (a restart).
    bool stopAsked(bool restart);
    // A restart under way goes on as a stop: it is not started again.
    bool restartBecomesStop();
    // It was stopped, by the operator or from inside (an in-game shutdown), or has ended.
    bool stopped();
    // Its relaunch after a crash: counted, and part of the crash notice that follows.
    void relaunched();
    // The crash notice ended, or the servers were stopped: a later crash is a new one.
    void crashNoticeEnded() { inCrashNotice_ = false; }

    // How many transitions were refused, in this process; and whether a refusal stops the program
    // (on by default in a debug build).
    static int illegalTransitions();
    static void setIllegalTransitionsFatal(bool fatal);

    // The crash check looks at it.
    bool watched() const { return state_ == State::Running; }
    // Starting, running, restarting or waiting for its relaunch.
    bool meantToRun() const;
    // Meant to run, or being stopped: the launcher is online while any server is, so that it
    // never shows itself offline while a server it asked to stop still runs.
    bool keepsLauncherOnline() const { return meantToRun() || state_ == State::Stopping; }
    // Stopping to be started again (a restart), not for good.
    bool restarting() const { return restarting_; }
    // When a crashed server is relaunched; empty: at the first check after the crash notice, or
    // in any state but CrashedWaiting.
    const std::optional<std::int64_t>& dueMs() const { return dueMs_; }
    // Waiting for the first check after the crash notice: when the notice that stood at its crash
    // ends. Another server's crash begins the notice again, but puts this relaunch off no further.
    std::int64_t noticeEndsAtMs() const { return noticeEndsAtMs_; }
    // It was relaunched while the current crash notice stood, or began it.
    bool inCrashNotice() const { return inCrashNotice_; }

    // The record of its process, as the last launch or adoption gave it; the fleet hands a
    // replaced record's handle back.
    ServerProcess process;
    // When, on the launcher's clock, it was last seen running as a new process.
    std::int64_t runningSinceMs() const { return sinceMs_; }
    // Whether that is the time of the process it has now: not while a start of it is under way.
    bool runningSinceKnown() const { return process.lPID > 0 && sincePid_ == process.lPID; }

    // ---- health
    // The installation's readiness rule, probes and expected exit statuses.
    HealthRules health;
    // Running, and ready by its rule (at once by the default one). Both false outside Running.
    bool ready() const { return ready_; }
    bool awaitingReady() const { return awaitingReady_; }
    // Its readiness rule is being waited for (awaiting), or its verdict came: observers are told.
    void setReadiness(bool awaiting, bool isReady);
    std::uint64_t probeFailures = 0; // since the launcher started

    // ---- crash history
    CrashBackoff backoff;
    CrashTally tally; // since the launcher started; never reset
    int relaunchesSinceOnline = 0;
    QString lastEnding; // how its last crash ended, when that is known
    // Its last crash as the log and its report told it: how it ended (or the failed probe), the
    // report's file (empty when none was written) and the console's last lines.
    struct CrashAccount {
        QString how;
        QString reportFile;
        QString lastLines;
        bool hung = false; // it still ran, but failed a health probe
    };
    CrashAccount lastCrash;
    QString lastStartError;       // why its last start did not succeed
    std::int32_t reportedPid = 0; // the process whose crash was reported last

    // Its state in a line for its tab's tooltip, at nowMs of the launcher's clock.
    QString describe(std::int64_t nowMs) const;

signals:
    // Its state changed from from to state; or, with both the same, its readiness did.
    void stateChanged(int server, ServerSupervisor::State state, ServerSupervisor::State from);

private:
    // The one place a server's state changes; false (and nothing changed) for an edge the
    // transitions do not take.
    bool changeState(State next);
    // A transition from a state it does not leave that way: refused, counted and warned of.
    bool refuse(const char* transition, State next);

    int index_;
    Clock& clock_;
    State state_ = State::NotStarted;
    bool restarting_ = false;
    std::optional<std::int64_t> dueMs_;
    std::int64_t noticeEndsAtMs_ = 0;
    bool inCrashNotice_ = false;
    bool ready_ = false;
    bool awaitingReady_ = false;
    std::int32_t sincePid_ = 0;
    std::int64_t sinceMs_ = 0;
};
