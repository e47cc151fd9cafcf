// What a sample of the servers' resource use costs the launcher: three servers, each a process
// group of three processes (a console's helper, the server and a child of it), among some hundred
// other processes, read through the Linux backend as the launcher's sampler does every few seconds.

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
// two more processes in it; all wait until killed.
pid_t StartGroup() {
    const pid_t parent = getpid();
    const pid_t leader = fork();
    if (leader != 0)
        return leader;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    setsid();
    if (getppid() != parent)
        _exit(0);
    for (int i = 0; i < 2; ++i) {
        if (fork() == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            for (;;)
                pause();
        }
    }
    for (;;)
        pause();
}

} // namespace

int RunResourceSampleBench(int argc, char** argv, const BenchOptions& options) {
    // The processes are forked before Qt starts, so that they share as little as possible.
    std::vector<pid_t> leaders;
    for (int i = 0; i < kServers; ++i)
        leaders.push_back(StartGroup());
    IdleProcesses idle(kOtherProcesses);
    QCoreApplication app(argc, argv);
    LinuxApis apis(
        LinuxBackendConfig::ForInstalledLauncher(QCoreApplication::applicationDirPath()));
    std::vector<ProcessHandle> handles;
    for (const pid_t leader : leaders)
        handles.emplace_back(OpenPidfd(leader));
    const int processes = IdleProcesses::RunningProcesses();

    // The first sample reads every process once; the others only the servers' own.
    double cpuBefore = measure::SelfCpuMs();
    std::vector<ServerUsage> usage = apis.ReadServerUsage(handles);
    const double firstMs = measure::SelfCpuMs() - cpuBefore;
    const int samples = options.quick ? 500 : 5000;
    cpuBefore = measure::SelfCpuMs();
    int members = 0;
    for (int i = 0; i < samples; ++i) {
        usage = apis.ReadServerUsage(handles);
        members = 0;
        for (const ServerUsage& server : usage)
            members += server.processes;
    }
    const double perSampleMs = (measure::SelfCpuMs() - cpuBefore) / samples;

    for (const ProcessHandle handle : handles)
        apis.ReleaseProcessHandle(handle);
    for (const pid_t leader : leaders)
        kill(-leader, SIGKILL);
    for (const pid_t leader : leaders)
        waitpid(leader, nullptr, 0);

    const bool allFound = members == kServers * 3;
    std::printf("resource sample: %.4f ms CPU per sample of %d servers (%d processes in their "
                "groups, mean of %d), the first %.3f ms; %d processes running\n",
                perSampleMs, kServers, members, samples, firstMs, processes);
    report::Row(report::Format("Resource sample of %d servers (%d processes each), %d processes "
                               "running",
                               kServers, 3, processes),
                report::Format("%.3f ms CPU%s", perSampleMs, allFound ? "" : " (not all found)"),
                report::Format("first sample, every process read: %.2f ms", firstMs),
                report::Format("target < %.1f ms", kTargetMs),
                report::PassIf(allFound && perSampleMs < kTargetMs));
    return allFound ? 0 : 1;
}
