// corvane-bench CASE [--quick] [--minutes M]
//   CASE: processes, console, tick, tick-coloured, tick-plaintext, idle, log, startup, priority,
//   crashloop, health, resources, consolelog, crashwake, crashwake-timer, status-load, web-panel,
//   web-panel-flood, alert-load, backup-load, waitlatency, history-size, charts-open, or
//   hostile-KIND with KIND
//   history, flood, longline, combining or stalled; peers (the launcher beside supervisord and
//   pm2).
// Prints the case's table rows (see Report.h); scripts/bench.sh runs every case and prints the
// table, scripts/crash-loop.sh runs the crash loop.

#include "Cases.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using CaseFunction = int (*)(int, char**, const BenchOptions&);

struct Case {
    const char* name;
    CaseFunction run;
};

constexpr Case kCases[] = {
    {"processes", RunProcessListBench},
    {"console", RunConsoleTextBench},
    {"tick", RunStatusTickBench},
    {"tick-coloured",
     [](int c, char** v, const BenchOptions& o) { return RunColourTickBench(c, v, o, true); }},
    {"tick-plaintext",
     [](int c, char** v, const BenchOptions& o) { return RunColourTickBench(c, v, o, false); }},
    {"idle", RunIdleCpuBench},
    {"log", RunLogBench},
    {"startup", RunStartupBench},
    {"priority", RunPriorityStepBench},
    {"crashloop", RunCrashLoop},
    {"health", RunHealthProbeBench},
    {"resources", RunResourceSampleBench},
    {"history-size", RunHistorySizeBench},
    {"charts-open", RunChartsOpenBench},
    {"status-load", RunStatusLoadBench},
    {"web-panel",
     [](int c, char** v, const BenchOptions& o) { return RunWebPanelBench(c, v, o, false); }},
    {"web-panel-flood",
     [](int c, char** v, const BenchOptions& o) { return RunWebPanelBench(c, v, o, true); }},
    {"alert-load", RunAlertLoadBench},
    {"backup-load", RunBackupLoadBench},
    {"consolelog", RunConsoleLogBench},
    {"waitlatency", RunWaitLatencyBench},
    {"crashwake",
     [](int c, char** v, const BenchOptions& o) { return RunCrashWakeBench(c, v, o, false); }},
    {"crashwake-timer",
     [](int c, char** v, const BenchOptions& o) { return RunCrashWakeBench(c, v, o, true); }},
    {"peers", RunPeerBench},
    {"hostile-history",
     [](int c, char** v, const BenchOptions& o) {
         return RunHostileConsoleBench(c, v, o, "history");
     }},
    {"hostile-flood",
     [](int c, char** v, const BenchOptions& o) {
         return RunHostileConsoleBench(c, v, o, "flood");
     }},
    {"hostile-longline",
     [](int c, char** v, const BenchOptions& o) {
         return RunHostileConsoleBench(c, v, o, "longline");
     }},
    {"hostile-combining",
     [](int c, char** v, const BenchOptions& o) {
         return RunHostileConsoleBench(c, v, o, "combining");
     }},
    {"hostile-stalled",
     [](int c, char** v, const BenchOptions& o) {
         return RunHostileConsoleBench(c, v, o, "stalled");
     }},
};

// The cases run as the first process of a PID namespace of their own (see scripts/bench.sh), which
// takes no signal it has no handler for: without these, an interrupt would not end a case. Ending
// that first process ends every process of the namespace.
void EndAtOnce(int signal) {
    std::_Exit(128 + signal);
}

int Usage() {
    std::fprintf(stderr, "usage: corvane-bench CASE [--quick] [--minutes M]\n  CASE:");
    for (const Case& c : kCases)
        std::fprintf(stderr, " %s", c.name);
    std::fprintf(stderr, "\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage();
    BenchOptions options;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            options.quick = true;
        else if (std::strcmp(argv[i], "--minutes") == 0 && i + 1 < argc)
            options.minutes = std::strtod(argv[++i], nullptr);
        else
            return Usage();
    }
    std::signal(SIGINT, EndAtOnce);
    std::signal(SIGTERM, EndAtOnce);
    std::signal(SIGHUP, EndAtOnce);
    for (const Case& c : kCases) {
        if (std::strcmp(argv[1], c.name) == 0) {
            int appArgc = 1;
            return c.run(appArgc, argv, options);
        }
    }
    return Usage();
}
