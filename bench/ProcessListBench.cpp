// One GetProcessList with about 2,000 processes running, against `ps -e -o pid=,comm=` and
// `pgrep -x map-server` at the same moment: the three are run in turn, round after round.

#include "Cases.h"
#include "IdleProcesses.h"
#include "Measure.h"
#include "Report.h"
#include "linux/CommandRunner.h"
#include "linux/LinuxApis.h"
#include "linux/Pidfd.h"

#include <QCoreApplication>
#include <algorithm>
#include <unistd.h>

namespace {

constexpr int kProcesses = 2000;
constexpr double kTargetRatio = 10.0;

} // namespace

int RunProcessListBench(int argc, char** argv, const BenchOptions& options) {
    // The children are forked before Qt starts, so that they share as little as possible.
    IdleProcesses idle(kProcesses);
    QCoreApplication app(argc, argv);
    // Every process is looked at, although only those of this folder are listed.
    LinuxApis apis(
        LinuxBackendConfig::ForInstalledLauncher(QCoreApplication::applicationDirPath()));
    const std::vector<std::string> env = CurrentEnvironmentWithout({});
    const int processes = IdleProcesses::RunningProcesses();

    const int rounds = options.quick ? 11 : 31;
    std::vector<double> list, ps, pgrep;
    qsizetype entries = 0;
    std::size_t psLines = 0;
    for (int round = 0; round < rounds; ++round) {
        auto start = measure::SteadyClock::now();
        entries = apis.GetProcessList().count(u',');
        list.push_back(measure::MsSince(start));

        start = measure::SteadyClock::now();
        const CommandResult psRun = RunCommand({"ps", "-e", "-o", "pid=,comm="}, env, 10000);
        ps.push_back(measure::MsSince(start));
        psLines =
            static_cast<std::size_t>(std::count(psRun.output.begin(), psRun.output.end(), '\n'));

        start = measure::SteadyClock::now();
        RunCommand({"pgrep", "-x", "map-server"}, env, 10000);
        pgrep.push_back(measure::MsSince(start));
    }
    // What a status tick costs while every server runs: each server's own handle checked, three
    // times (here three handles on this very process, which runs the bench program).
    const QString self = QCoreApplication::applicationFilePath();
    std::vector<ProcessHandle> handles;
    for (int i = 0; i < 3; ++i)
        handles.emplace_back(OpenPidfd(getpid()));
    std::vector<double> byHandle;
    bool allRun = true;
    for (int round = 0; round < rounds; ++round) {
        const auto start = measure::SteadyClock::now();
        for (const ProcessHandle handle : handles)
            allRun = apis.ProcessRuns(handle) && allRun;
        byHandle.push_back(measure::MsSince(start));
    }
    for (const ProcessHandle handle : handles)
        apis.ReleaseProcessHandle(handle);

    const double listMs = measure::Median(list);
    const double handleMs = measure::Median(byHandle);
    const double psMs = measure::Median(ps);
    const double pgrepMs = measure::Median(pgrep);
    std::printf("GetProcessList %.3f ms (%lld entries), ps %.3f ms (%zu lines), pgrep %.3f ms; "
                "%d processes, median of %d rounds\n",
                listMs, static_cast<long long>(entries), psMs, psLines, pgrepMs, processes, rounds);

    const std::string what = report::Format("GetProcessList, %d processes", processes);
    const std::string measured = report::Format("%.2f ms", listMs);
    report::Row(what, measured, report::Format("ps -e -o pid=,comm=: %.1f ms", psMs),
                report::Format("%.1fx faster (target >= %.0fx)", psMs / listMs, kTargetRatio),
                report::PassIf(psMs / listMs >= kTargetRatio));
    report::Row(what, measured, report::Format("pgrep -x map-server: %.1f ms", pgrepMs),
                report::Format("%.1fx faster", pgrepMs / listMs), report::Verdict::Info);
    report::Row("crash check of 3 running servers by their own handles",
                report::Format("%.4f ms%s", handleMs, allRun ? "" : " (a check failed)"),
                report::Format("GetProcessList: %.2f ms", listMs),
                report::Format("%.0fx less", listMs / handleMs),
                allRun ? report::Verdict::Info : report::Verdict::Fail);
    return 0;
}
