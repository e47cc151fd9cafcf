#pragma once

#include "HealthRules.h"
#include "ProcessHandle.h"

#include <QRegularExpression>
#include <QString>
#include <cstdint>
#include <memory>

class ConsoleLineWatch;
class modAPIs;

// Waits for one started server to be ready by its rule: a console line, or its port held by its
// own processes (for TCP, taking a connection too). Nothing here waits: look() is called when
// nextLookMs() has come, and each look takes the answer of the probe the last one began.
class ReadinessWatch {
public:
    enum class Verdict { Waiting, Ready, NotReady };

    ReadinessWatch(modAPIs& apis, const QString& title, ProcessHandle process,
                   const ReadinessRule& rule, std::int64_t startedMs);
    ~ReadinessWatch();
    ReadinessWatch(const ReadinessWatch&) = delete;
    ReadinessWatch& operator=(const ReadinessWatch&) = delete;

    Verdict look(std::int64_t nowMs);
    std::int64_t nextLookMs() const { return nextLookMs_; }
    // What made it ready, for the log: "port 6900 accepting", "printed \"World loaded\""; once
    // not ready, what was seen instead, if anything: "port 6900 held by another program".
    const QString& how() const { return how_; }
    std::int64_t startedMs() const { return startedMs_; }
    const ReadinessRule& rule() const { return rule_; }

private:
    // Whether the server's own processes hold the port; the answer is kept in how_ otherwise.
    bool holdsPort();

    modAPIs& apis_;
    ProcessHandle process_;
    ReadinessRule rule_;
    QRegularExpression pattern_;
    std::unique_ptr<ConsoleLineWatch> console_;
    std::int32_t probe_ = -1;
    std::int64_t probeBegunMs_ = 0;
    std::int64_t startedMs_;
    std::int64_t nextLookMs_;
    QString how_;
};
