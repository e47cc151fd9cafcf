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

HealthProbes::HealthProbes(modAPIs& apis, const QString& title, ProcessHandle process,
                           const std::vector<HealthProbe>& probes, std::int64_t nowMs,
                           bool mustPassFirst)
    : apis_(apis), process_(process), mustPassFirst_(mustPassFirst), startMs_(nowMs),
      lastOutputMs_(nowMs), lastCpuMs_(nowMs) {
    bool readsConsole = false;
    for (const HealthProbe& probe : probes) {
        Running running{probe, ConsolePattern::Compile(probe.pattern), nowMs, -1, 0};
        if (probe.kind == HealthProbe::Kind::Port && !probe.udp)
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

std::optional<QString> HealthProbes::look(std::int64_t nowMs, const ServerResources& usage) {
    if (console_ && std::any_of(probes_.begin(), probes_.end(), [nowMs](const Running& r) {
            return r.probe.kind != HealthProbe::Kind::Port && r.dueMs <= nowMs;
        })) {
        if (std::optional<QString> failed = lookAtConsole(nowMs, usage))
            return failed;
    }
    for (Running& running : probes_)
        if (running.probe.kind == HealthProbe::Kind::Port && running.dueMs <= nowMs)
            if (std::optional<QString> failed = lookAtPort(running, nowMs, usage))
                return failed;
    return std::nullopt;
}

std::optional<QString> HealthProbes::lookAtPort(Running& running, std::int64_t nowMs,
                                                const ServerResources& usage) {
    const HealthProbe& probe = running.probe;
    // A stopped server's listening socket still completes connections (the kernel takes them),
    // and another program may hold its port: neither is the server answering.
    Miss miss = Miss::None;
    if (!probe.udp && (running.connection < 0 ||
                       apis_.PortProbeAnswer(running.connection) != modAPIs::PortAnswer::Accepting))
        miss = Miss::NoAnswer;
    if (running.connection >= 0)
        apis_.EndPortProbe(std::exchange(running.connection, -1));
    if (miss == Miss::None && usage.sampled && usage.stoppedProcesses > 0)
        miss = Miss::Stopped;
    if (miss == Miss::None) {
        const modAPIs::PortHolder holder =
            apis_.PortHolderOf(process_, probe.port,
                               probe.udp ? modAPIs::PortProtocol::Udp : modAPIs::PortProtocol::Tcp);
        if (holder == modAPIs::PortHolder::Other || holder == modAPIs::PortHolder::Nobody)
            miss = Miss::NotItsOwn;
    }
    running.missed = miss == Miss::None ? 0 : running.missed + 1;
    running.passed = running.passed || miss == Miss::None;
    running.dueMs = nowMs + std::int64_t{1000} * probe.everySeconds;
    if (running.missed >= probe.misses && !running.passed && mustPassFirst_)
        notPassedYet(running);
    else if (running.missed >= probe.misses) {
        failedBeforePassing_ = !running.passed;
        const QString port =
            QString::number(probe.port) + (probe.udp ? QLatin1String("/udp") : QLatin1String());
        const int seconds = probe.misses * probe.everySeconds;
        if (miss == Miss::Stopped)
            return QStringLiteral("hung (stopped, port %1 not served for %2 s)")
                .arg(port)
                .arg(seconds);
        if (miss == Miss::NotItsOwn)
            return QStringLiteral("hung (port %1 not held by its own processes for %2 s)")
                .arg(port)
                .arg(seconds);
        return QStringLiteral("hung (no answer on port %1 for %2 s)").arg(port).arg(seconds);
    }
    if (!probe.udp)
        running.connection = apis_.BeginPortProbe(probe.port);
    return std::nullopt;
}

std::optional<QString> HealthProbes::lookAtConsole(std::int64_t nowMs,
                                                   const ServerResources& usage) {
    const QStringList lines = console_->newLines();
    if (!lines.isEmpty())
        lastOutputMs_ = nowMs;
    // The first sample only tells where its CPU time stands.
    if (usage.sampled && usage.cpuSeconds != lastCpuSeconds_) {
        if (lastCpuSeconds_ >= 0)
            lastCpuMs_ = nowMs;
        lastCpuSeconds_ = usage.cpuSeconds;
    }
    for (Running& running : probes_) {
        const HealthProbe::Kind kind = running.probe.kind;
        if (kind == HealthProbe::Kind::Port)
            continue;
        running.dueMs = nowMs + kConsoleLookMs;
        const std::int64_t sinceMs =
            kind == HealthProbe::Kind::Frozen ? std::max(lastOutputMs_, lastCpuMs_) : lastOutputMs_;
        running.passed = running.passed || sinceMs > startMs_;
        const bool failed =
            (kind == HealthProbe::Kind::Silence || kind == HealthProbe::Kind::Frozen) &&
            nowMs - sinceMs >= std::int64_t{1000} * running.probe.everySeconds;
        if (failed && !running.passed && mustPassFirst_) {
            notPassedYet(running);
            continue;
        }
        failedBeforePassing_ = failed && !running.passed;
        if (failed && kind == HealthProbe::Kind::Silence)
            return QStringLiteral("hung (no console output for %1 s)")
                .arg(running.probe.everySeconds);
        else if (failed)
            return QStringLiteral("hung (%1no console output and no CPU used for %2 s)")
                .arg(usage.stoppedProcesses > 0 ? QStringLiteral("stopped: ") : QString())
                .arg(running.probe.everySeconds);
        if (running.probe.kind != HealthProbe::Kind::Line)
            continue;
        for (const QString& line : lines)
            if (ConsolePattern::Match(running.pattern, line).hasMatch())
                return QStringLiteral("hung (printed \"%1\")").arg(line.trimmed().left(80));
    }
    return std::nullopt;
}

// A probe that has not passed once since the server was ready may be wrong about this server (a
// port it never opens, a console it never prints to): acting on it again after the restart it
// caused would restart a healthy server again and again, so it is told once and waits until it
// passes.
void HealthProbes::notPassedYet(Running& running) {
    if (running.toldNotPassed)
        return;
    running.toldNotPassed = true;
    const HealthProbe& probe = running.probe;
    QString what;
    if (probe.kind == HealthProbe::Kind::Port)
        what = QStringLiteral("port %1%2")
                   .arg(probe.port)
                   .arg(probe.udp ? QLatin1String("/udp") : QLatin1String());
    else
        what = QStringLiteral("%1 %2")
                   .arg(probe.kind == HealthProbe::Kind::Frozen ? QLatin1String("frozen")
                                                                : QLatin1String("silence"))
                   .arg(probe.everySeconds);
    notes_ << QStringLiteral("probe \"%1\" has not passed since the server was ready; it is "
                             "not acted on until it does")
                  .arg(what);
}

QStringList HealthProbes::takeNotes() {
    return std::exchange(notes_, {});
}
