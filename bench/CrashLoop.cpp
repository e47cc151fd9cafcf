// The long crash-loop run: the real launcher, at a 1-second interval with a 5-second crash notice,
// with a stand-in map server that exits at once on every start, for the given minutes. A
// timestamped event is posted every ~100 ms throughout. At the end it prints the relaunches done,
// the launcher's resident memory and open descriptors at the start (once online) and at the end,
// and the slowest event latency seen. SIGINT or SIGTERM end the run early, with the same figures.

#include "BenchLauncher.h"
#include "BundledFonts.h"
#include "Cases.h"
#include "LatencyProbe.h"
#include "Measure.h"
#include "QSettingsStore.h"
#include "Report.h"

#include <QApplication>
#include <QTimer>
#include <atomic>
#include <csignal>

namespace {

std::atomic<bool> interrupted{false};

void OnStopSignal(int) {
    interrupted = true;
}

struct Sample {
    double minute;
    double residentMb;
    int descriptors;
};

} // namespace

int RunCrashLoop(int argc, char** argv, const BenchOptions& options) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    QApplication app(argc, argv);
    registerBundledFonts();
    qputenv("CORVANE_STANDIN_KNOBS_FOR", "map-server");
    qputenv("CORVANE_STANDIN_EXIT_AT_ONCE", "1");
    BenchWorld world;
    if (!world.isValid())
        return 1;
    // Relaunched at once every time, never put off: the soak wants as many rounds as it can get.
    world.presetSetting(QStringLiteral("CrashRelaunch Burst"), QStringLiteral("1000"));
    BenchLauncher launcher(world);
    launcher.setIntervalSeconds(1);
    launcher.setNoticeSeconds(5);
    launcher.selectTab(3);

    if (launcher.startServers() < 0) {
        std::fprintf(stderr, "the servers did not come online\n");
        return 1;
    }
    const int logLinesAtStart = int(launcher.core().log().lines().size());
    std::vector<Sample> samples{{0, measure::ResidentMb(), measure::OpenDescriptors()}};
    LatencyProbe probe(100);
    probe.start();

    const auto start = measure::SteadyClock::now();
    const double runMs = options.minutes * 60000.0;
    bool finished = false;
    QTimer watch;
    watch.setInterval(200);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const double elapsed = measure::MsSince(start);
        if (elapsed / 60000.0 >= static_cast<double>(samples.size())) {
            samples.push_back(
                {elapsed / 60000.0, measure::ResidentMb(), measure::OpenDescriptors()});
            std::printf("minute %.1f: %.1f MB, %d descriptors, %d map relaunches\n",
                        samples.back().minute, samples.back().residentMb,
                        samples.back().descriptors,
                        launcher.logLinesWith(QStringLiteral("> Starting Map Server ...")) - 1);
            std::fflush(stdout);
        }
        if (finished || (elapsed < runMs && !interrupted))
            return;
        // This may run inside a tick's wait: the figures are taken here, the stop ends that tick.
        finished = true;
        samples.push_back({elapsed / 60000.0, measure::ResidentMb(), measure::OpenDescriptors()});
        probe.stop();
        launcher.stopServers();
        QCoreApplication::exit(0);
    });
    watch.start();
    app.exec();
    watch.stop();
    probe.stop();

    const double minutes = measure::MsSince(start) / 60000.0;
    const int relaunches = launcher.logLinesWith(QStringLiteral("> Starting Map Server ...")) - 1;
    const int mapCrashes = launcher.logLinesWith(QStringLiteral("Map Server just crashed!"));
    const int otherCrashes = launcher.logLinesWith(QStringLiteral("just crashed!")) - mapCrashes;
    const int launchFailures = launcher.logLinesWith(QStringLiteral("Error Starting")) +
                               launcher.logLinesWith(QStringLiteral("Cannot find"));
    const int logLines = int(launcher.core().log().lines().size()) - logLinesAtStart;
    const std::vector<double>& latencies = probe.latenciesMs();
    world.endEverything();
    const std::size_t leftOver = world.ownProcesses().size();

    std::printf("\ncrash loop, %.1f minutes at a 1 s interval with a 5 s crash notice\n", minutes);
    std::printf(
        "  map server relaunches done:   %d (crash lines %d; other servers' crash lines %d; "
        "failed starts %d)\n",
        relaunches, mapCrashes, otherCrashes, launchFailures);
    std::printf("  log lines added while online: %d\n", logLines);
    std::printf(
        "  resident memory:              %.1f MB at start, %.1f MB at the end (max %.1f)\n",
        samples.front().residentMb, samples.back().residentMb,
        std::max_element(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) {
            return a.residentMb < b.residentMb;
        })->residentMb);
    std::printf("  open descriptors:             %d at start, %d at the end\n",
                samples.front().descriptors, samples.back().descriptors);
    std::printf("  event latency (%zu events):   slowest %.1f ms, p99 %.1f ms, p50 %.1f ms\n",
                latencies.size(), measure::Percentile(latencies, 100),
                measure::Percentile(latencies, 99), measure::Percentile(latencies, 50));
    std::printf("  processes of the run left:    %zu\n", leftOver);
    return relaunches > 0 && otherCrashes == 0 && leftOver == 0 ? 0 : 1;
}
