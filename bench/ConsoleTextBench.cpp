// One GetConsoleText on a console with 2,000 lines of history and on one with 50,000, side by
// side: the stand-in servers print that many lines at start (CORVANE_STANDIN_BURST). Each is a
// first capture, by a backend that has kept nothing of the console yet.

#include "BenchWorld.h"
#include "Cases.h"
#include "Measure.h"
#include "Report.h"

#include <QCoreApplication>
#include <QThread>

namespace {

constexpr double kTargetMs = 10.0;
constexpr double kLinearTolerance = 1.5; // per-line cost may grow this much and still be linear

struct Console {
    QString title;
    QString program;
    int lines;
    ServerProcess process;
    std::vector<double> times;
    qsizetype capturedLines = 0;
};

// Waits until the console's last burst line is on its screen.
bool AwaitBurst(BenchWorld& world, const Console& console, int timeoutMs) {
    // "=title:", the console's pane (built in steps: GCC 12 warns falsely on "=" + std::string).
    std::string pane = "=";
    pane.append(console.title.toStdString()).append(":");
    for (int waited = 0; waited < timeoutMs; waited += 100) {
        const auto screen = world.tmux({"capture-pane", "-p", "-t", pane});
        if (screen && screen->contains("wide line:"))
            return true;
        QThread::msleep(100);
    }
    return false;
}

} // namespace

int RunConsoleTextBench(int argc, char** argv, const BenchOptions& options) {
    QCoreApplication app(argc, argv);
    BenchWorld world;
    if (!world.isValid()) {
        std::fprintf(stderr, "could not make the benchmark folder\n");
        return 1;
    }
    std::vector<Console> consoles{
        {QStringLiteral("Login Server"), QStringLiteral("login-server"), 2000, {}, {}, 0},
        {QStringLiteral("Char Server"), QStringLiteral("char-server"), 50000, {}, {}, 0}};
    for (Console& console : consoles) {
        qputenv("CORVANE_STANDIN_BURST", QByteArray::number(console.lines));
        console.process = world.apis().LaunchServer(
            world.launcherFolder() + QLatin1Char('/') + console.program, console.title);
        qunsetenv("CORVANE_STANDIN_BURST");
        if (console.process.lPID <= 0 || !AwaitBurst(world, console, 120000)) {
            std::fprintf(stderr, "the %s console did not fill\n", qPrintable(console.title));
            return 1;
        }
    }

    const int runs = options.quick ? 7 : 21;
    for (int run = 0; run < runs; ++run) {
        for (Console& console : consoles) {
            LinuxApis fresh(world.config());
            fresh.GetConsoleText(QStringLiteral("no such console")); // starts its tmux client
            const auto start = measure::SteadyClock::now();
            const QString text = fresh.GetConsoleText(console.title);
            console.times.push_back(measure::MsSince(start));
            console.capturedLines = text.count(u'\n') + 1;
        }
    }
    for (Console& console : consoles)
        world.apis().ReleaseProcessHandle(console.process.hProcess);
    world.endEverything();

    const Console& small = consoles[0];
    const Console& large = consoles[1];
    const double smallMs = measure::Median(small.times);
    const double largeMs = measure::Median(large.times);
    const double perLineRatio = (largeMs / static_cast<double>(large.capturedLines)) /
                                (smallMs / static_cast<double>(small.capturedLines));
    std::printf("GetConsoleText %.3f ms at %lld lines, %.3f ms at %lld lines, median of %d\n",
                smallMs, static_cast<long long>(small.capturedLines), largeMs,
                static_cast<long long>(large.capturedLines), runs);

    report::Row(report::Format("GetConsoleText, %lld lines of history",
                               static_cast<long long>(small.capturedLines)),
                report::Format("%.2f ms", smallMs), report::Format("target %.0f ms", kTargetMs),
                report::Format("%.2f of target", smallMs / kTargetMs),
                report::PassIf(smallMs < kTargetMs));
    report::Row(
        report::Format("GetConsoleText, %lld lines of history",
                       static_cast<long long>(large.capturedLines)),
        report::Format("%.2f ms", largeMs),
        report::Format("%lld lines: %.2f ms", static_cast<long long>(small.capturedLines), smallMs),
        report::Format("per-line cost %.2fx (target <= %.1fx: linear)", perLineRatio,
                       kLinearTolerance),
        report::PassIf(perLineRatio <= kLinearTolerance));
    return 0;
}
