// The launcher online with the Map Server tab selected and a 1 s status interval while the map
// server's console holds or prints what is hardest to mirror, or while the tmux server is stopped:
// how long the window stalls, how late input events are handled, the CPU per tick (the launcher,
// its tmux clients and the tmux server together) and the launcher's resident memory.

#include "BenchLauncher.h"
#include "BundledFonts.h"
#include "Cases.h"
#include "LatencyProbe.h"
#include "Measure.h"
#include "MessagePane.h"
#include "Report.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <csignal>
#include <cstring>

namespace {

constexpr double kP99TargetMs = 60.0;
constexpr double kStallTargetMs = 250.0;
constexpr double kMemoryTargetMb = 80.0;
constexpr int kProbePeriodMs = 10;
constexpr int kIntervalSeconds = 1;

struct Kind {
    const char* name;
    const char* what;
    const char* knob; // stand-in knob for the map server, "NAME=value"
    bool stopTmux;
};

constexpr Kind kKinds[] = {
    {"history", "a console with 50,000 lines of history", "CORVANE_STANDIN_BURST=50000", false},
    {"flood", "a server printing 1 MB/s", "CORVANE_STANDIN_FLOOD=1000000", false},
    {"longline", "one 1 MB line without spaces", "CORVANE_STANDIN_LONG_LINE=1048576", false},
    {"combining", "60,000 lines heavy with combining marks", "CORVANE_STANDIN_COMBINING=60000",
     false},
    {"stalled", "the tmux server stopped (SIGSTOP) for 20 s, 2,000 lines of history",
     "CORVANE_STANDIN_BURST=2000", true},
};

double AllCpuMs(pid_t tmuxServer) {
    return measure::SelfCpuMs() + measure::ChildrenCpuMs() +
           measure::LiveChildrenCpuMs(tmuxServer) + measure::ProcessCpuMs(tmuxServer);
}

int Run(int argc, char** argv, const BenchOptions& options, const Kind& kind) {
    const char* equals = std::strchr(kind.knob, '=');
    qputenv("CORVANE_STANDIN_KNOBS_FOR", "map-server");
    qputenv(QByteArray(kind.knob, static_cast<qsizetype>(equals - kind.knob)), equals + 1);
    BenchApplication app(argc, argv);
    BenchWorld world;
    if (!world.isValid())
        return 1;
    BenchLauncher launcher(world);
    frmMain& w = launcher.window();
    launcher.setIntervalSeconds(kIntervalSeconds);
    launcher.selectTab(3);
    if (launcher.startServers() < 0) {
        std::fprintf(stderr, "the servers did not come online\n");
        return 1;
    }
    // Let the map server print what it prints at start.
    BenchLauncher::runEventsFor(options.quick ? 2000 : 5000);

    const pid_t tmuxServer = world.tmuxServerPid();
    const int seconds = kind.stopTmux ? 20 : (options.quick ? 5 : 15);
    LatencyProbe probe(kProbePeriodMs);
    const double cpuBefore = AllCpuMs(tmuxServer);
    const auto start = measure::SteadyClock::now();
    probe.start();
    if (kind.stopTmux)
        ::kill(tmuxServer, SIGSTOP);
    BenchLauncher::runEventsFor(seconds * 1000);
    if (kind.stopTmux)
        ::kill(tmuxServer, SIGCONT);
    probe.stop();
    const double elapsedMs = measure::MsSince(start);
    const double cpuMs = AllCpuMs(tmuxServer) - cpuBefore;
    const double residentMb = measure::ResidentMb();
    const double peakMb = measure::PeakResidentMb();

    const std::vector<double>& latencies = probe.latenciesMs();
    const double p99 = measure::Percentile(latencies, 99);
    const double longest = measure::Percentile(latencies, 100);
    const double ticks = elapsedMs / (kIntervalSeconds * 1000.0);
    const double perTick = cpuMs / ticks;
    std::printf("%s: %zu events, p50 %.1f ms, p99 %.1f ms, max %.1f ms; CPU %.1f ms over %.1f s; "
                "RSS %.1f MB (peak %.1f); pane %lld characters\n",
                kind.name, latencies.size(), measure::Percentile(latencies, 50), p99, longest,
                cpuMs, elapsedMs / 1000.0, residentMb, peakMb,
                static_cast<long long>(w.txtOutput->toPlainText().size()));
    const QByteArray label = qgetenv("CORVANE_BENCH_LABEL");
    report::Row(std::string("Map tab, 1 s ticks, ") + kind.what +
                    (label.isEmpty() ? "" : " [" + label.toStdString() + "]"),
                report::Format("longest stall %.0f ms, p99 %.1f ms; CPU %.2f ms per tick; RSS "
                               "%.1f MB (peak %.1f)",
                               longest, p99, perTick, residentMb, peakMb),
                "targets: p99 60 ms, stall 250 ms, RSS 80 MB",
                report::Format("p99 %.2f, stall %.2f, RSS %.2f of target", p99 / kP99TargetMs,
                               longest / kStallTargetMs, peakMb / kMemoryTargetMb),
                report::PassIf(!latencies.empty() && p99 <= kP99TargetMs &&
                               longest <= kStallTargetMs && peakMb < kMemoryTargetMb));
    launcher.stopServers();
    world.endEverything();
    return 0;
}

} // namespace

int RunHostileConsoleBench(int argc, char** argv, const BenchOptions& options, const char* kind) {
    for (const Kind& k : kKinds) {
        if (std::strcmp(kind, k.name) == 0)
            return Run(argc, argv, options, k);
    }
    std::fprintf(stderr, "no such console case: %s\n", kind);
    return 2;
}
