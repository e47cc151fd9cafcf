// Times the Linux process primitives that the launcher calls on every status tick:
//   one GetProcessList (and, for scale, one run of `ps -e`), and
//   one GetConsoleText on a console holding about 2,000 lines.
//
// Usage: bench_platform [--processes N]
//   --processes N  first start idle processes until about N processes run.
// Everything runs on a private tmux socket that is closed at the end.

#include "linux/CommandRunner.h"
#include "linux/LinuxApis.h"
#include "linux/TmuxClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

double MedianMs(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = SteadyClock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int ProcessCount() {
    return static_cast<int>(
        QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs).size());
}

// Idle children that make the process table bigger; they die with us.
class IdleProcesses {
public:
    explicit IdleProcesses(int total) {
        for (int missing = total - ProcessCount(); missing > 0; --missing) {
            const pid_t pid = fork();
            if (pid == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                for (;;)
                    pause();
            }
            if (pid < 0)
                break;
            children_.push_back(pid);
        }
    }
    ~IdleProcesses() {
        for (const pid_t pid : children_)
            kill(pid, SIGKILL);
        for (const pid_t pid : children_)
            waitpid(pid, nullptr, 0);
    }

private:
    std::vector<pid_t> children_;
};

// A private tmux world, closed whatever happens.
class PrivateTmux {
public:
    PrivateTmux() {
        qputenv("TMUX_TMPDIR", QFile::encodeName(folder_.path()));
        config_.tmuxSocketName =
            QStringLiteral("corvane-bench-%1").arg(QCoreApplication::applicationPid());
        config_.trampolinePath = QStringLiteral(CORVANE_LAUNCHER_DIR "/corvane-exec");
    }
    ~PrivateTmux() { TmuxClient(config_).Run({{"kill-server"}}); }
    const LinuxBackendConfig& config() const { return config_; }

private:
    QTemporaryDir folder_;
    LinuxBackendConfig config_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int wanted = 0;
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--processes"));
    if (at >= 0 && at + 1 < args.size())
        wanted = args[at + 1].toInt();

    IdleProcesses idle(wanted);
    PrivateTmux tmux;
    LinuxApis apis(tmux.config());

    const int processes = ProcessCount();
    std::size_t entries = 0;
    const double listMs = MedianMs(51, [&] { entries = apis.GetProcessList().count(u','); });
    const auto env = CurrentEnvironmentWithout({});
    const double psMs = MedianMs(11, [&] { RunCommand({"ps", "-e"}, env, 10000); });
    std::printf("GetProcessList: %.3f ms median of 51 (%zu entries, %d processes); "
                "ps -e: %.3f ms median of 11 (%.1fx)\n",
                listMs, entries, processes, psMs, psMs / listMs);

    qputenv("CORVANE_STANDIN_BURST", "2000");
    ServerProcess server;
    const double launchMs = MedianMs(1, [&] {
        server = apis.LaunchServer(QStringLiteral(CORVANE_LAUNCHER_DIR "/login-server"),
                                   QStringLiteral("Login Server"));
    });
    if (server.lPID <= 0) {
        std::fprintf(stderr, "could not launch the stand-in server\n");
        return 1;
    }
    const QString last = QStringLiteral("wide line:");
    for (int i = 0; i < 500 && !apis.GetConsoleText(QStringLiteral("Login Server")).contains(last);
         ++i)
        QThread::msleep(10);
    qsizetype lines = 0;
    const double captureMs = MedianMs(
        21, [&] { lines = apis.GetConsoleText(QStringLiteral("Login Server")).count(u'\n') + 1; });
    std::printf("GetConsoleText: %.3f ms median of 21 (%lld lines)\n", captureMs,
                static_cast<long long>(lines));
    std::printf("LaunchServer: %.3f ms (one run, new tmux server)\n", launchMs);
    const double closeMs =
        MedianMs(1, [&] { apis.CloseServerConsole(QStringLiteral("Login Server")); });
    std::printf("CloseServerConsole: %.3f ms\n", closeMs);
    apis.ReleaseProcessHandle(server.hProcess);
    return 0;
}
