// What a sample of the servers' resource use costs the launcher: three servers, each a process
// group of a console's helper and the server (and once more with a child of the server in each),
// among some hundred other processes, read through the Linux backend as the launcher's sampler
// does every few seconds.

#include "Cases.h"
#include "IdleProcesses.h"
#include "Measure.h"
#include "Report.h"
#include "linux/LinuxApis.h"
#include "linux/Pidfd.h"

#include <QCoreApplication>
#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr double kTargetMs = 0.2; // of CPU per sample of three servers
constexpr int kServers = 3;
constexpr int kOtherProcesses = 300;

// A process that leads a session and a group of its own, as a console's first process does, with
// more processes in it; all wait until killed.
pid_t StartGroup(int more) {
    const pid_t parent = getpid();
    const pid_t leader = fork();
    if (leader != 0)
        return leader;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    setsid();
    if (getppid() != parent)
        _exit(0);
    for (int i = 0; i < more; ++i) {
        if (fork() == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            for (;;)
                pause();
        }
    }
    for (;;)
        pause();
}

// The launcher's CPU time per sample of three servers of that many processes each, in ms.
struct SampleCost {
    double perSampleMs = 0;
    double firstMs = 0;
    int processes = 0; // running, all told
    bool allFound = false;
};

SampleCost MeasureSamples(int argc, char** argv, int perServer, int samples) {
    // The processes are forked before Qt starts, so that they share as little as possible.
    std::vector<pid_t> leaders;
    for (int i = 0; i < kServers; ++i)
        leaders.push_back(StartGroup(perServer - 1));
    SampleCost cost;
    {
        IdleProcesses idle(kOtherProcesses);
        int args = argc;
        QCoreApplication app(args, argv);
        LinuxApis apis(
            LinuxBackendConfig::ForInstalledLauncher(QCoreApplication::applicationDirPath()));
        std::vector<ProcessHandle> handles;
        for (const pid_t leader : leaders)
            handles.emplace_back(OpenPidfd(leader));
        cost.processes = IdleProcesses::RunningProcesses();
        // The first sample reads every process once; the others only the servers' own.
        double cpuBefore = measure::SelfCpuMs();
        std::vector<ServerUsage> usage = apis.ReadServerUsage(handles);
        cost.firstMs = measure::SelfCpuMs() - cpuBefore;
        int members = 0;
        cpuBefore = measure::SelfCpuMs();
        for (int i = 0; i < samples; ++i) {
            usage = apis.ReadServerUsage(handles);
            members = 0;
            for (const ServerUsage& server : usage)
                members += server.processes;
        }
        cost.perSampleMs = (measure::SelfCpuMs() - cpuBefore) / samples;
        cost.allFound = members == kServers * perServer;
        for (const ProcessHandle handle : handles)
            apis.ReleaseProcessHandle(handle);
    }
    for (const pid_t leader : leaders)
        kill(-leader, SIGKILL);
    for (const pid_t leader : leaders)
        waitpid(leader, nullptr, 0);
    return cost;
}

} // namespace

int RunResourceSampleBench(int argc, char** argv, const BenchOptions& options) {
    const int samples = options.quick ? 500 : 5000;
    bool allFound = true;
    for (const int perServer : {2, 3}) {
        const SampleCost cost = MeasureSamples(argc, argv, perServer, samples);
        allFound = allFound && cost.allFound;
        std::printf("resource sample: %.4f ms CPU per sample of %d servers of %d processes (mean "
                    "of %d), the first %.3f ms; %d processes running\n",
                    cost.perSampleMs, kServers, perServer, samples, cost.firstMs, cost.processes);
        // A console's helper and its server are what a server is; a child of the server is more.
        const bool judged = perServer == 2;
        report::Row(report::Format("Resource sample of %d servers (%d processes each), %d "
                                   "processes running",
                                   kServers, perServer, cost.processes),
                    report::Format("%.3f ms CPU%s", cost.perSampleMs,
                                   cost.allFound ? "" : " (not all found)"),
                    report::Format("first sample, every process read: %.2f ms", cost.firstMs),
                    report::Format("target < %.1f ms", kTargetMs),
                    !cost.allFound ? report::Verdict::Fail
                    : judged       ? report::PassIf(cost.perSampleMs < kTargetMs)
                                   : report::Verdict::Info);
    }
    return allFound ? 0 : 1;
}
