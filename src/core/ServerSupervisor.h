#pragma once

#include "CrashBackoff.h"
#include "CrashTally.h"
#include "HealthRules.h"
#include "ServerProcess.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>

// One server as the launcher supervises it: the record of its process, what the launcher means it
// to do (its state), the deadline that belongs to that state, and its crash history. The state
// changes only through changeState(), which tells every observer.
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

    explicit ServerSupervisor(int index, QObject* parent = nullptr);

    int index() const { return index_; }
    // "Map Server": the log's name and the title of its console.
    const QString& name() const;
    // "/map-server": appended to the server folder.
    const QString& programFile() const;

    State state() const { return state_; }
    // The one place a server's state changes.
    void changeState(State next);
    // The crash check looks at it.
    bool watched() const { return state_ == State::Running; }
    // Starting, running, restarting or waiting for its relaunch.
    bool meantToRun() const;
    // Meant to run, or being stopped: the launcher is online while any server is, so that it
    // never shows itself offline while a server it asked to stop still runs.
    bool keepsLauncherOnline() const { return meantToRun() || state_ == State::Stopping; }
    // Stopping to be started again (a restart), not for good.
    bool restarting = false;

    // The record of its process, as the last launch or adoption gave it; the fleet hands a
    // replaced record's handle back.
    ServerProcess process;
    // It runs as the record's process: the state becomes Running, and its uptime counts from
    // nowMs when the process is a new one.
    void markRunning(std::int64_t nowMs);
    // When, on the launcher's clock, it was last seen running as a new process.
    std::int64_t runningSinceMs() const { return sinceMs_; }

    // ---- health
    // The installation's readiness rule, probes and expected exit statuses.
    HealthRules health;
    // Running, and ready by its rule (at once by the default one). Both false outside Running.
    bool ready() const { return ready_; }
    bool awaitingReady() const { return awaitingReady_; }
    // Its readiness rule is being waited for (awaiting), or its verdict came: observers are told.
    void setReadiness(bool awaiting, bool isReady);
    std::uint64_t probeFailures = 0; // since the launcher started

    // The deadline of the current state: when a crashed server is relaunched (empty: at the first
    // check after the crash notice), or when a restart stops waiting for the server to end. Empty
    // in the other states.
    std::optional<std::int64_t> dueMs;

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
    // It was relaunched while the current crash notice stood, or began it.
    bool inCrashNotice = false;

    // Its state in a line for its tab's tooltip, at nowMs of the launcher's clock.
    QString describe(std::int64_t nowMs) const;

signals:
    void stateChanged(int server, ServerSupervisor::State state);

private:
    int index_;
    State state_ = State::NotStarted;
    bool ready_ = false;
    bool awaitingReady_ = false;
    std::int32_t sincePid_ = 0;
    std::int64_t sinceMs_ = 0;
};
