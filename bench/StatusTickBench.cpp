// The launcher with three stand-in servers online, auto-restart on and the Map Server tab
// selected: the time from a click on Start Servers to the online state, resident memory once
// online, the CPU cost of a whole status tick (launcher, tmux clients and tmux server together)
// with 2,000 lines in the map server's console,
// and how long a posted input event waits during WaitSeconds and during a crash notice.

#include "BenchLauncher.h"
#include "BundledFonts.h"
#include "Cases.h"
#include "LatencyProbe.h"
#include "Measure.h"
#include "Report.h"
#include "VbCheckBox.h"

#include <QApplication>
#include <QTimer>
#include <csignal>
#include <poll.h>

namespace {

constexpr int kTicks = 100;
constexpr int kTickSpacingMs = 100;
constexpr double kTickTargetMs = 1.0;
constexpr double kLatencyTargetMs = 60.0;
constexpr double kOnlineMemoryTargetMb = 80.0;
constexpr int kProbePeriodMs = 10;

struct CpuSnapshot {
    double self, children, tmuxServer;
};

CpuSnapshot TakeCpu(pid_t tmuxServer) {
    // The tmux clients: those that ended, and a persistent one that still runs.
    return {measure::SelfCpuMs(), measure::ChildrenCpuMs() + measure::LiveChildrenCpuMs(tmuxServer),
            measure::ProcessCpuMs(tmuxServer)};
}

void LatencyRow(const std::string& during, const std::vector<double>& latencies) {
    const double p99 = measure::Percentile(latencies, 99);
    std::printf("latency %s: %zu events, p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", during.c_str(),
                latencies.size(), measure::Percentile(latencies, 50), p99,
                measure::Percentile(latencies, 100));
    report::Row("input event handled, " + during,
                report::Format("p99 %.1f ms (max %.1f, %zu events)", p99,
                               measure::Percentile(latencies, 100), latencies.size()),
                "target 60 ms", report::Format("p99 %.2f of target", p99 / kLatencyTargetMs),
                report::PassIf(!latencies.empty() && p99 < kLatencyTargetMs));
}

// Kills the running map server of this world, as a crash would, and waits on the launcher's own
// handle of it until it has ended: a tick right after the kill could still find it running.
bool CrashMapServer(BenchWorld& world, BenchLauncher& launcher) {
    const pid_t pid = launcher.fleet().ServerProc(2).lPID;
    const int pidfd = static_cast<int>(launcher.fleet().ServerProc(2).hProcess.raw());
    const std::vector<pid_t> own = world.ownProcesses();
    if (pid <= 0 || pidfd <= 2 || std::find(own.begin(), own.end(), pid) == own.end())
        return false;
    ::kill(pid, SIGKILL);
    pollfd ended{pidfd, POLLIN, 0};
    return ::poll(&ended, 1, 2000) == 1;
}

} // namespace

int RunStatusTickBench(int argc, char** argv, const BenchOptions& options) {
    // The map server's console holds 2,000 lines of history, as a server's does after a while.
    // Quiet, all three servers print nothing more; else the map server's status line comes every
    // second, and the other two print theirs as usual.
    const bool quiet = qEnvironmentVariableIntValue("CORVANE_STANDIN_QUIET") != 0;
    if (!quiet)
        qputenv("CORVANE_STANDIN_KNOBS_FOR", "map-server");
    qputenv("CORVANE_STANDIN_BURST", "2000");
    BenchApplication app(argc, argv);
    BenchWorld world;
    if (!world.isValid()) {
        std::fprintf(stderr, "could not make the benchmark folder\n");
        return 1;
    }
    BenchLauncher launcher(world);

    const double toOnlineMs = launcher.startServers();
    if (toOnlineMs < 0) {
        std::fprintf(stderr, "the servers did not come online\n");
        return 1;
    }
    BenchLauncher::runEventsFor(1000);
    const double onlineMb = measure::ResidentMb();
    report::Row("click on Start Servers to online", report::Format("%.0f ms", toOnlineMs),
                "3 x 0.5 s settle time",
                report::Format("%.2fx the settle time", toOnlineMs / 1500.0),
                report::Verdict::Info);
    report::Row("resident memory once online", report::Format("%.1f MB", onlineMb),
                report::Format("target %.0f MB", kOnlineMemoryTargetMb),
                report::Format("%.2f of target", onlineMb / kOnlineMemoryTargetMb),
                report::PassIf(onlineMb < kOnlineMemoryTargetMb));

    // The ticks are driven by hand, each one as the timer would run it, with the event loop
    // running between them so that the window repaints what each tick changed.
    launcher.fleet().tmrStatusUpdater->stop();
    launcher.selectTab(3);
    if (launcher.core().options().autoRestart != 1 ||
        launcher.core().options().messageUpdate == 0) {
        std::fprintf(stderr, "auto-restart and the message update must be on\n");
        return 1;
    }
    BenchLauncher::runEventsFor(2000);
    const pid_t tmuxServer = world.tmuxServerPid();
    std::vector<double> tickWall;
    const CpuSnapshot before = TakeCpu(tmuxServer);
    for (int tick = 0; tick < kTicks; ++tick) {
        const auto start = measure::SteadyClock::now();
        launcher.fleet().tmrStatusUpdater_Timer();
        tickWall.push_back(measure::MsSince(start));
        BenchLauncher::runEventsFor(kTickSpacingMs);
    }
    const CpuSnapshot after = TakeCpu(tmuxServer);
    const double selfMs = after.self - before.self;
    const double childrenMs = after.children - before.children;
    const double serverMs = after.tmuxServer - before.tmuxServer;
    const double perTickMs = (selfMs + childrenMs + serverMs) / kTicks;
    const int crashes = launcher.logLinesWith(QStringLiteral("just crashed"));
    std::printf("%d ticks: launcher %.1f ms, tmux clients %.1f ms, tmux server %.1f ms CPU; "
                "tick wall median %.2f ms, max %.2f ms; crash lines %d\n",
                kTicks, selfMs, childrenMs, serverMs, measure::Median(tickWall),
                measure::Percentile(tickWall, 100), crashes);
    const QByteArray label = qgetenv("CORVANE_BENCH_LABEL");
    // The quiet case has the target; with the map server printing its status line every second,
    // one tick in ten (100 ms apart) finds new text and captures the console again.
    report::Row(std::string("one status tick, 3 servers online, auto-restart on, Map tab, 2,000 "
                            "lines, ") +
                    (quiet ? "map server quiet" : "map server printing a line a second") +
                    (label.isEmpty() ? std::string() : " [" + label.toStdString() + "]"),
                report::Format("%.2f ms CPU (launcher %.2f + tmux clients %.2f + tmux server %.2f)",
                               perTickMs, selfMs / kTicks, childrenMs / kTicks, serverMs / kTicks),
                report::Format("tick period 5 s; target %.0f ms", kTickTargetMs),
                report::Format("%.2f of target; %.3f%% of the period", perTickMs / kTickTargetMs,
                               perTickMs / 5000.0 * 100.0),
                quiet ? report::PassIf(perTickMs < kTickTargetMs && crashes == 0)
                      : report::Verdict::Info);
    report::Row(report::Format("launcher CPU for %d ticks, 3 servers online", kTicks),
                report::Format("%.1f ms (launcher process alone)", selfMs),
                report::Format("with its helpers: %.1f ms", selfMs + childrenMs + serverMs), "-",
                report::Verdict::Info);

    // Input events during a plain wait, and during a tick that finds the map server crashed.
    const int waitSeconds = options.quick ? 3 : 10;
    LatencyProbe probe(kProbePeriodMs);
    probe.start();
    launcher.fleet().WaitSeconds(static_cast<float>(waitSeconds));
    probe.stop();
    LatencyRow(report::Format("during WaitSeconds(%d)", waitSeconds), probe.latenciesMs());

    launcher.setNoticeSeconds(5);
    if (!CrashMapServer(world, launcher)) {
        std::fprintf(stderr, "could not crash the map server\n");
        return 1;
    }
    probe.clear();
    probe.start();
    launcher.fleet().tmrStatusUpdater_Timer();
    BenchLauncher::runEventsFor(5000); // the notice, which no longer holds the tick
    probe.stop();
    if (launcher.logLinesWith(QStringLiteral("Map Server just crashed!")) != 1) {
        std::fprintf(stderr, "the tick did not see the crash\n");
        return 1;
    }
    LatencyRow("during a crash tick (relaunch + 5 s notice)", probe.latenciesMs());

    launcher.stopServers();
    world.endEverything();
    return 0;
}
