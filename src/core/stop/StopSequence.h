#pragma once

#include "StopPlan.h"

#include <QRegularExpression>
#include <cstdint>
#include <memory>

class ConsoleLineWatch;
class LauncherLog;
class ServerFleet;

// One server's stop: its plan's steps run in order, each wait bounded by its own time, nothing
// waited for in a nested loop. The fleet calls advance() when a step may be due (on its timer,
// and when a process ends). A plan other than the default tells each step in the log.
class StopSequence {
public:
    StopSequence(ServerFleet& fleet, LauncherLog& log, int server, StopPlan plan);
    ~StopSequence();

    // Runs the first step. Its result, for the log line that follows a close request: nonzero
    // when the request was delivered.
    std::int32_t begin();
    // Runs what is due now; true once the steps are done, or the server has ended.
    bool advance();
    // The fleet has acted on the end of the sequence (a restart started, a stop settled, a
    // server that outlived it named).
    bool concluded() const { return concluded_; }
    void conclude() { concluded_ = true; }
    // Whether the server had ended when the sequence finished.
    bool serverEnded() const { return ended_; }
    // When advance() should run at the latest: the running step's deadline, or the next look
    // at the console.
    std::int64_t nextCheckMs() const;
    // The seconds the plan waits in all, for the log.
    int plannedSeconds() const;
    const StopPlan& plan() const { return plan_; }

private:
    std::int32_t runAction(const StopStep& step);
    bool runWait(const StopStep& step, std::int64_t now);
    void lookAtConsole();
    void note(const QString& message) const;

    ServerFleet& fleet_;
    LauncherLog& log_;
    int server_;
    StopPlan plan_;
    QRegularExpression saveConfirmation_;
    QRegularExpression awaited_; // the running AwaitLine step's pattern
    QString awaitedText_;        // as written
    std::unique_ptr<ConsoleLineWatch> console_;
    std::size_t step_ = 0;
    std::int64_t stepStartedMs_ = 0;
    bool saved_ = false;
    std::int64_t endSeenMs_ = -1; // when the end was seen while the save was still unconfirmed
    bool lineSeen_ = false;
    bool ended_ = false;
    bool finished_ = false;
    bool concluded_ = false;
};
