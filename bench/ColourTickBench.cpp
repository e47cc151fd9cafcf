// One whole status tick with the Map tab showing 2,000 lines of coloured history, and the same
// tick with the same text printed without colours: the CPU of the launcher, its tmux client and
// the tmux server together, per tick.

#include "BenchLauncher.h"
#include "BundledFonts.h"
#include "Cases.h"
#include "Measure.h"
#include "MessagePane.h"
#include "Report.h"

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTimer>
#include <unistd.h>

namespace {

constexpr int kTicks = 100;
constexpr int kTickSpacingMs = 100;
constexpr double kTickTargetMs = 5.0;

struct Cpu {
    double launcher, clients, server; // the launcher; its tmux clients; the tmux server
};

Cpu CpuMs(pid_t tmuxServer) {
    return {measure::SelfCpuMs(), measure::ChildrenCpuMs() + measure::LiveChildrenCpuMs(tmuxServer),
            measure::ProcessCpuMs(tmuxServer)};
}

} // namespace

int RunColourTickBench(int argc, char** argv, const BenchOptions&, bool coloured) {
    if (!coloured)
        qputenv("CORVANE_BENCH_PLAIN", "1");
    BenchApplication app(argc, argv);
    BenchWorld world;
    // The map server is one that leaves coloured history in its console.
    const QString map = world.launcherFolder() + QStringLiteral("/map-server");
    if (!world.isValid() || !QFile::remove(map) ||
        !QFile::copy(QCoreApplication::applicationDirPath() +
                         QStringLiteral("/corvane-bench-coloured-server"),
                     map)) {
        std::fprintf(stderr, "could not make the benchmark folder\n");
        return 1;
    }
    BenchLauncher launcher(world);
    frmMain& w = launcher.window();
    if (launcher.startServers() < 0) {
        std::fprintf(stderr, "the servers did not come online\n");
        return 1;
    }
    launcher.fleet().tmrStatusUpdater->stop();
    launcher.selectTab(3);
    BenchLauncher::runEventsFor(2000);
    const pid_t tmuxServer = world.tmuxServerPid();
    const Cpu before = CpuMs(tmuxServer);
    for (int tick = 0; tick < kTicks; ++tick) {
        launcher.fleet().tmrStatusUpdater_Timer();
        BenchLauncher::runEventsFor(kTickSpacingMs);
    }
    const Cpu after = CpuMs(tmuxServer);
    const double launcherMs = (after.launcher - before.launcher) / kTicks;
    const double clientsMs = (after.clients - before.clients) / kTicks;
    const double serverMs = (after.server - before.server) / kTicks;
    const double perTickMs = launcherMs + clientsMs + serverMs;
    const int lines = w.txtOutput->document()->blockCount();
    std::printf("%s: %.2f ms CPU per tick, %d lines in the pane\n", coloured ? "coloured" : "plain",
                perTickMs, lines);
    report::Row(
        report::Format("one status tick, Map tab, 2,000 lines of %s history",
                       coloured ? "coloured" : "the same text in plain"),
        report::Format("%.2f ms CPU (launcher %.2f + tmux clients %.2f + tmux server %.2f; %d "
                       "lines shown)",
                       perTickMs, launcherMs, clientsMs, serverMs, lines),
        report::Format("target %.0f ms", kTickTargetMs),
        report::Format("%.2f of target", perTickMs / kTickTargetMs),
        report::PassIf(perTickMs < kTickTargetMs && lines >= 2000));
    launcher.stopServers();
    world.endEverything();
    return 0;
}
