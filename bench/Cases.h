#pragma once

// The benchmark cases. Each runs in a process of its own (so that one case's memory, children
// and CPU time never count in another's), makes its own application object, prints its table
// rows through report::Row and returns the process exit code.

struct BenchOptions {
    bool quick = false;  // shorter runs, for development
    double minutes = 30; // length of the crash-loop run
};

int RunProcessListBench(int argc, char** argv, const BenchOptions& options);
int RunConsoleTextBench(int argc, char** argv, const BenchOptions& options);
int RunStatusTickBench(int argc, char** argv, const BenchOptions& options);
// The status tick on 2,000 lines of coloured history, or of the same text without colours.
int RunColourTickBench(int argc, char** argv, const BenchOptions& options, bool coloured);
int RunIdleCpuBench(int argc, char** argv, const BenchOptions& options);
int RunLogBench(int argc, char** argv, const BenchOptions& options);
int RunStartupBench(int argc, char** argv, const BenchOptions& options);
int RunPriorityStepBench(int argc, char** argv, const BenchOptions& options);
int RunConsoleLogBench(int argc, char** argv, const BenchOptions& options);
// The status endpoint under 1,000 requests a second and hundreds of idle connections.
int RunStatusLoadBench(int argc, char** argv, const BenchOptions& options);
// 100 alerts to an endpoint that takes 2 s to answer each, the window's event latency meanwhile.
int RunAlertLoadBench(int argc, char** argv, const BenchOptions& options);
// A backup of a 200 MB world, the window's event latency meanwhile, and the backup's rate.
int RunBackupLoadBench(int argc, char** argv, const BenchOptions& options);
// A tick of three servers' port probes, in CPU time.
int RunHealthProbeBench(int argc, char** argv, const BenchOptions& options);
// Input and timer events while the launcher waits out a 2-second WaitSeconds.
int RunWaitLatencyBench(int argc, char** argv, const BenchOptions& options);
// A sample of three servers' CPU, memory, threads and descriptors, in CPU time.
int RunResourceSampleBench(int argc, char** argv, const BenchOptions& options);
int RunCrashLoop(int argc, char** argv, const BenchOptions& options);
// timerOnly: the launcher learns of a crash from its status timer alone.
int RunCrashWakeBench(int argc, char** argv, const BenchOptions& options, bool timerOnly);
// The launcher beside supervisord and pm2 on the same servers: relaunch, CPU, memory, logging,
// stop.
int RunPeerBench(int argc, char** argv, const BenchOptions& options);
// kind: history, flood, longline, combining or stalled.
int RunHostileConsoleBench(int argc, char** argv, const BenchOptions& options, const char* kind);
// The history file after 90 days of three servers sampled every 2 s, with its compaction.
int RunHistorySizeBench(int argc, char** argv, const BenchOptions& options);
// The web panel's live pages: a console line's way to them, 50 of them open while the servers are
// quiet, or (flood) 50 watching a console that prints 1 MB/s.
int RunWebPanelBench(int argc, char** argv, const BenchOptions& options, bool flood);
// The charts page opened on a full day of samples.
int RunChartsOpenBench(int argc, char** argv, const BenchOptions& options);
