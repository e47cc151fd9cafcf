// The launcher's CPU use while it only watches: 60 s online at the 5-second interval, three
// stand-in servers running and the Map Server tab selected, then 60 s offline.

#include "BenchLauncher.h"
#include "BundledFonts.h"
#include "Cases.h"
#include "Measure.h"
#include "Report.h"

#include <QApplication>
#include <QTimer>

namespace {

constexpr double kOnlineTargetPercent = 0.5;
constexpr double kOfflineTargetPercent = 0.1;

// CPU of this process over a stretch of event loop, as a percentage of one core.
double CpuPercentOver(int seconds) {
    const double cpuBefore = measure::SelfCpuMs();
    const auto start = measure::SteadyClock::now();
    BenchLauncher::runEventsFor(seconds * 1000);
    return (measure::SelfCpuMs() - cpuBefore) / measure::MsSince(start) * 100.0;
}

} // namespace

int RunIdleCpuBench(int argc, char** argv, const BenchOptions& options) {
    BenchApplication app(argc, argv);
    BenchWorld world;
    if (!world.isValid())
        return 1;
    BenchLauncher launcher(world);
    const int seconds = options.quick ? 10 : 60;

    launcher.setIntervalSeconds(5);
    if (launcher.startServers() < 0 || !launcher.fleet().tmrStatusUpdater->isActive()) {
        std::fprintf(stderr, "the servers did not come online with the status timer on\n");
        return 1;
    }
    launcher.selectTab(3);
    BenchLauncher::runEventsFor(1000);
    const pid_t tmuxServer = world.tmuxServerPid();
    const double childrenBefore = measure::ChildrenCpuMs();
    const double serverBefore = measure::ProcessCpuMs(tmuxServer);
    const double online = CpuPercentOver(seconds);
    const double helpers = (measure::ChildrenCpuMs() - childrenBefore +
                            measure::ProcessCpuMs(tmuxServer) - serverBefore) /
                           (seconds * 1000.0) * 100.0;
    const int crashes = launcher.logLinesWith(QStringLiteral("just crashed"));

    launcher.stopServers();
    world.endEverything();
    BenchLauncher::runEventsFor(1000);
    const double offline = CpuPercentOver(seconds);
    std::printf("online %.3f%% (helpers %.3f%%, crash lines %d), offline %.3f%% over %d s\n",
                online, helpers, crashes, offline, seconds);

    report::Row(
        report::Format("launcher CPU, %d s online, 5 s interval, Map tab", seconds),
        report::Format("%.3f%% of a core (tmux clients and server: %.3f%% more)", online, helpers),
        report::Format("one core; target %.1f%%", kOnlineTargetPercent),
        report::Format("%.2f of target", online / kOnlineTargetPercent),
        report::PassIf(online < kOnlineTargetPercent && crashes == 0));
    report::Row(report::Format("launcher CPU, %d s offline", seconds),
                report::Format("%.3f%% of a core", offline),
                report::Format("one core; target %.1f%%", kOfflineTargetPercent),
                report::Format("%.2f of target", offline / kOfflineTargetPercent),
                report::PassIf(offline < kOfflineTargetPercent));
    return 0;
}
