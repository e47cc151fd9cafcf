#include "HealthProbes.h"

#include "ConsoleLineWatch.h"
#include "ConsolePattern.h"
#include "modAPIs.h"

#include <algorithm>
#include <utility>

namespace {

// How often the console is read for the probes that watch it.
constexpr std::int64_t kConsoleLookMs = 1000;

} // namespace

HealthProbes::HealthProbes(modAPIs& apis, const QString& title,
                           const std::vector<HealthProbe>& probes, std::int64_t nowMs)
    : apis_(apis), lastOutputMs_(nowMs) {
    bool readsConsole = false;
    for (const HealthProbe& probe : probes) {
        Running running{probe, ConsolePattern::Compile(probe.pattern), nowMs, -1, 0};
        if (probe.kind == HealthProbe::Kind::Port)
            running.connection = apis_.BeginPortProbe(probe.port);
        running.dueMs =
            nowMs + (probe.kind == HealthProbe::Kind::Port ? std::int64_t{1000} * probe.everySeconds
                                                           : kConsoleLookMs);
        readsConsole = readsConsole || probe.kind != HealthProbe::Kind::Port;
        probes_.push_back(std::move(running));
    }
    if (readsConsole)
        console_ = std::make_unique<ConsoleLineWatch>(apis_, title);
}

HealthProbes::~HealthProbes() {
    for (const Running& running : probes_)
        if (running.connection >= 0)
            apis_.EndPortProbe(running.connection);
}

std::int64_t HealthProbes::nextLookMs() const {
    std::int64_t next = INT64_MAX;
    for (const Running& running : probes_)
        next = std::min(next, running.dueMs);
    return next;
}

std::optional<QString> HealthProbes::look(std::int64_t nowMs) {
    if (console_ && std::any_of(probes_.begin(), probes_.end(), [nowMs](const Running& r) {
            return r.probe.kind != HealthProbe::Kind::Port && r.dueMs <= nowMs;
        })) {
        if (std::optional<QString> failed = lookAtConsole(nowMs))
            return failed;
    }
    for (Running& running : probes_)
        if (running.probe.kind == HealthProbe::Kind::Port && running.dueMs <= nowMs)
            if (std::optional<QString> failed = lookAtPort(running, nowMs))
                return failed;
    return std::nullopt;
}

std::optional<QString> HealthProbes::lookAtPort(Running& running, std::int64_t nowMs) {
    const HealthProbe& probe = running.probe;
    const bool taken = running.connection >= 0 &&
                       apis_.PortProbeAnswer(running.connection) == modAPIs::PortAnswer::Accepting;
    if (running.connection >= 0)
        apis_.EndPortProbe(std::exchange(running.connection, -1));
    running.missed = taken ? 0 : running.missed + 1;
    running.dueMs = nowMs + std::int64_t{1000} * probe.everySeconds;
    if (running.missed >= probe.misses)
        return QStringLiteral("hung (no answer on port %1 for %2 s)")
            .arg(probe.port)
            .arg(probe.misses * probe.everySeconds);
    running.connection = apis_.BeginPortProbe(probe.port);
    return std::nullopt;
}

std::optional<QString> HealthProbes::lookAtConsole(std::int64_t nowMs) {
    const QStringList lines = console_->newLines();
    if (!lines.isEmpty())
        lastOutputMs_ = nowMs;
    for (Running& running : probes_) {
        if (running.probe.kind == HealthProbe::Kind::Port)
            continue;
        running.dueMs = nowMs + kConsoleLookMs;
        if (running.probe.kind == HealthProbe::Kind::Silence &&
            nowMs - lastOutputMs_ >= std::int64_t{1000} * running.probe.everySeconds)
            return QStringLiteral("hung (no console output for %1 s)")
                .arg(running.probe.everySeconds);
        if (running.probe.kind != HealthProbe::Kind::Line)
            continue;
        for (const QString& line : lines)
            if (ConsolePattern::Match(running.pattern, line).hasMatch())
                return QStringLiteral("hung (printed \"%1\")").arg(line.trimmed().left(80));
    }
    return std::nullopt;
}
