#pragma once

#include "HealthRules.h"
#include "ProcessHandle.h"
#include "ServerResources.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class ConsoleLineWatch;
class modAPIs;

// The health probes of one running, ready server. Nothing here waits: look() runs when
// nextLookMs() has come; a port probe begun at one look is answered by the next, so that each
// connection has the probe's whole interval to be taken. A port counts only while the server's
// own processes hold it and none of them is stopped; what they use comes from the latest sample.
class HealthProbes {
public:
    // mustPassFirst: a probe fails the server only once it has passed since it was ready (after a
    // restart for a probe that had not).
    HealthProbes(modAPIs& apis, const QString& title, ProcessHandle process,
                 const std::vector<HealthProbe>& probes, std::int64_t nowMs,
                 bool mustPassFirst = false);
    ~HealthProbes();
    HealthProbes(const HealthProbes&) = delete;
    HealthProbes& operator=(const HealthProbes&) = delete;

    // The reason the server counts as hung, once a probe has failed: "hung (no answer on port
    // 5121 for 45 s)". Nothing while every probe passes.
    std::optional<QString> look(std::int64_t nowMs, const ServerResources& usage);
    std::int64_t nextLookMs() const;
    // What the log is to tell of the probes since the last call (a probe that has not passed
    // yet, and so is not acted on).
    QStringList takeNotes();
    // The failure look() gave came from a probe that had not passed since the server was ready.
    bool failedBeforePassing() const { return failedBeforePassing_; }
    // The server process they look at.
    ProcessHandle process() const { return process_; }

private:
    // Why the last look at a port missed.
    enum class Miss { None, NoAnswer, NotItsOwn, Stopped };
    struct Running {
        HealthProbe probe;
        QRegularExpression pattern;
        std::int64_t dueMs = 0;
        std::int32_t connection = -1; // the port probe begun at the last look
        int missed = 0;
        bool passed = false; // once since the server was ready
        bool toldNotPassed = false;
    };
    void notPassedYet(Running& running);
    std::optional<QString> lookAtPort(Running& running, std::int64_t nowMs,
                                      const ServerResources& usage);
    std::optional<QString> lookAtConsole(std::int64_t nowMs, const ServerResources& usage);

    modAPIs& apis_;
    ProcessHandle process_;
    bool mustPassFirst_;
    bool failedBeforePassing_ = false;
    std::vector<Running> probes_;
    std::unique_ptr<ConsoleLineWatch> console_; // when a probe reads the console
    std::int64_t startMs_;
    std::int64_t lastOutputMs_;
    // When its processes' CPU time was last seen to move, and what it was then.
    std::int64_t lastCpuMs_;
    double lastCpuSeconds_ = -1;
    QStringList notes_;
};
