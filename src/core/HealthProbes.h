#pragma once

#include "HealthRules.h"

#include <QRegularExpression>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class ConsoleLineWatch;
class modAPIs;

// The health probes of one running, ready server. Nothing here waits: look() runs when
// nextLookMs() has come; a port probe begun at one look is answered by the next, so that each
// connection has the probe's whole interval to be taken.
class HealthProbes {
public:
    HealthProbes(modAPIs& apis, const QString& title, const std::vector<HealthProbe>& probes,
                 std::int64_t nowMs);
    ~HealthProbes();
    HealthProbes(const HealthProbes&) = delete;
    HealthProbes& operator=(const HealthProbes&) = delete;

    // The reason the server counts as hung, once a probe has failed: "hung (no answer on port
    // 5121 for 45 s)". Nothing while every probe passes.
    std::optional<QString> look(std::int64_t nowMs);
    std::int64_t nextLookMs() const;

private:
    struct Running {
        HealthProbe probe;
        QRegularExpression pattern;
        std::int64_t dueMs = 0;
        std::int32_t connection = -1; // the port probe begun at the last look
        int missed = 0;
    };
    std::optional<QString> lookAtPort(Running& running, std::int64_t nowMs);
    std::optional<QString> lookAtConsole(std::int64_t nowMs);

    modAPIs& apis_;
    std::vector<Running> probes_;
    std::unique_ptr<ConsoleLineWatch> console_; // when a probe reads the console
    std::int64_t lastOutputMs_;
};
