// 100,000 lines through LauncherLogAdd on the shown window, each followed by one pass of the
// event loop as a line that arrives on its own would get: the resident memory they add, and the
// cost of the last thousand lines against the first thousand. The log keeps its newest lines in
// memory, so the launcher's memory after the last line stays near what it was after the first
// thousand.

#include "BenchLauncher.h"
#include "BundledFonts.h"
#include "Cases.h"
#include "Measure.h"
#include "Report.h"

#include <QApplication>

namespace {

constexpr int kLines = 100000;
constexpr int kBatch = 1000;
constexpr double kAddedTargetMb = 40.0;
constexpr double kGrowthTarget = 2.0;
constexpr double kBoundedTargetMb = 5.0;

} // namespace

int RunLogBench(int argc, char** argv, const BenchOptions& options) {
    BenchApplication app(argc, argv);
    BenchWorld world;
    if (!world.isValid())
        return 1;
    BenchLauncher launcher(world);
    const int lines = options.quick ? kLines / 5 : kLines;

    BenchLauncher::runEventsFor(500);
    const double mbBefore = measure::ResidentMb();
    std::vector<double> first, last;
    double mbAfterFirst = 0;
    const auto start = measure::SteadyClock::now();
    for (int line = 1; line <= lines; ++line) {
        const auto lineStart = measure::SteadyClock::now();
        launcher.core().log().note(QStringLiteral("Map Server just crashed! (line %1)").arg(line));
        QCoreApplication::processEvents();
        const double ms = measure::MsSince(lineStart);
        if (line <= kBatch)
            first.push_back(ms);
        if (line == kBatch) {
            BenchLauncher::runEventsFor(500);
            mbAfterFirst = measure::ResidentMb();
        } else if (line > lines - kBatch)
            last.push_back(ms);
    }
    const double totalS = measure::MsSince(start) / 1000.0;
    BenchLauncher::runEventsFor(500);
    const double addedMb = measure::ResidentMb() - mbBefore;
    const double boundedMb = measure::ResidentMb() - mbAfterFirst;
    const double firstMs = measure::Mean(first);
    const double lastMs = measure::Mean(last);
    std::printf("%d lines in %.1f s: first %d %.4f ms/line, last %d %.4f ms/line; +%.1f MB\n",
                lines, totalS, kBatch, firstMs, kBatch, lastMs, addedMb);

    report::Row(report::Format("resident memory added by %d log lines", lines),
                report::Format("%.1f MB", addedMb),
                report::Format("target %.0f MB", kAddedTargetMb),
                report::Format("%.2f of target", addedMb / kAddedTargetMb),
                report::PassIf(addedMb < kAddedTargetMb));
    report::Row(report::Format("memory after %d log lines, against after %d", lines, kBatch),
                report::Format("+%.1f MB", boundedMb),
                report::Format("target %.0f MB", kBoundedTargetMb),
                report::Format("%.2f of target", boundedMb / kBoundedTargetMb),
                report::PassIf(boundedMb <= kBoundedTargetMb));
    report::Row(
        report::Format("LauncherLogAdd + event pass, lines %d..%d", lines - kBatch + 1, lines),
        report::Format("%.3f ms per line", lastMs),
        report::Format("lines 1..%d: %.3f ms", kBatch, firstMs),
        report::Format("%.2fx (target <= %.0fx)", lastMs / firstMs, kGrowthTarget),
        report::PassIf(lastMs / firstMs <= kGrowthTarget));
    return 0;
}
