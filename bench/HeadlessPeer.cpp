#include "HeadlessPeer.h"

#include "Measure.h"
#include "PeerProcess.h"
#include "ProcessTree.h"
#include "Report.h"
#include "linux/LinuxBackendConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

using peerprocess::Reaped;

namespace {

const QString kDaemon = QStringLiteral(CORVANE_LAUNCHER_DIR "/corvane-launcherd");
const QString kControl = QStringLiteral(CORVANE_LAUNCHER_DIR "/corvanectl");

double RusageMs(const rusage& usage) {
    const auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

} // namespace

HeadlessPeer::HeadlessPeer(BenchWorld& world)
    : world_(world), folder_(QDir::cleanPath(world.launcherFolder() + "/../headless")) {
    // The settings of the desktop peer: crashes relaunched at once, with a console ready for
    // each, every console logged to disk; the status interval is the default 5 s.
    world.presetSetting(QStringLiteral("CrashRelaunch Burst"), QStringLiteral("1000"));
    world.presetSetting(QStringLiteral("CrashRelaunch Ready Console"), QStringLiteral("1"));
    world.presetSetting(QStringLiteral("LogServerMessages"), QStringLiteral("1"));
    QDir().mkpath(folder_ + QStringLiteral("/state"));
    socketName_ = LinuxBackendConfig::SocketNameForFolder(
                      QFileInfo(world.launcherFolder()).canonicalFilePath())
                      .toStdString();
    // tmux's server leaves the launcher's tree: it stays below this process, to be found and
    // waited for, in a PID namespace or not.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

HeadlessPeer::~HeadlessPeer() {
    peerprocess::EndedWithin(client_, 0);
    if (daemon_ > 0) {
        // As systemctl stop asks it: the servers' stop sequences, then its end.
        ::kill(daemon_, SIGTERM);
        peerprocess::EndedWithin(daemon_, 20000);
    }
    if (tmuxServer_ <= 0)
        tmuxServer_ = askTmuxServer();
    if (tmuxServer_ > 0) {
        tmuxCommand("kill-server");
        // The server is this process's child by now (a subreaper's); reaped, or killed and reaped.
        peerprocess::EndedWithin(tmuxServer_, 2000);
    }
}

bool HeadlessPeer::Built() {
    return QFileInfo(kDaemon).isExecutable() && QFileInfo(kControl).isExecutable();
}

std::string HeadlessPeer::tmuxCommand(const std::string& tmuxArguments) const {
    // A one-off client on the launcher's socket, in the world's TMUX_TMPDIR.
    const std::string command =
        "tmux -f /dev/null -L " + socketName_ + " " + tmuxArguments + " 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return {};
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        output += buffer;
    ::pclose(pipe);
    return output;
}

pid_t HeadlessPeer::askTmuxServer() const {
    const pid_t pid =
        static_cast<pid_t>(std::atoi(tmuxCommand("display-message -p '#{pid}'").c_str()));
    return pid > 0 ? pid : -1;
}

pid_t HeadlessPeer::control(const std::vector<std::string>& arguments,
                            const QString& output) const {
    std::vector<std::string> command{QFile::encodeName(kControl).toStdString(), "--server-dir",
                                     QFile::encodeName(world_.launcherFolder()).toStdString()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return peerprocess::Spawn(command, folder_ + QLatin1Char('/') + output);
}

bool HeadlessPeer::start() {
    if (daemon_ > 0)
        return false;
    const QString errors = folder_ + QStringLiteral("/launcherd.err");
    daemon_ = peerprocess::Spawn(
        {QFile::encodeName(kDaemon).toStdString(), "--server-dir",
         QFile::encodeName(world_.launcherFolder()).toStdString(), "--start"},
        errors,
        {"XDG_CONFIG_HOME=" + QFile::encodeName(world_.settingsFolder()).toStdString(),
         "XDG_STATE_HOME=" + QFile::encodeName(folder_ + "/state").toStdString()});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (daemon_ > 0 && !Reaped(daemon_) && std::chrono::steady_clock::now() < deadline) {
        // Online, with the three servers running.
        QFile log(errors);
        if (world_.ownProcesses().size() == ServerNames().size() && log.open(QIODevice::ReadOnly) &&
            log.readAll().contains("Map Server PID is")) {
            tmuxServer_ = askTmuxServer();
            return tmuxServer_ > 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::fprintf(stderr, "headless launcher: not online within 30 s; see %s\n", qPrintable(errors));
    return false;
}

double HeadlessPeer::cpuMs() const {
    return DaemonPeer::cpuMs() + std::max(measure::WaitedChildrenCpuMs(daemon_), 0.0) +
           proctree::CpuMs(proctree::Tree(tmuxServer_, ServerNames()));
}

double HeadlessPeer::residentMb() const {
    return DaemonPeer::residentMb() +
           proctree::ResidentMb(proctree::Tree(tmuxServer_, ServerNames()));
}

double HeadlessPeer::proportionalMb() const {
    return DaemonPeer::proportionalMb() +
           proctree::ProportionalMb(proctree::Tree(tmuxServer_, ServerNames()));
}

std::string HeadlessPeer::residentParts() const {
    const std::vector<pid_t> helpers = proctree::Tree(tmuxServer_, ServerNames());
    return report::Format("%s + tmux server %.1f + %zu process(es) below it %.1f MB",
                          DaemonPeer::residentParts().c_str(), measure::ResidentMb(tmuxServer_),
                          helpers.empty() ? 0 : helpers.size() - 1,
                          proctree::ResidentMb(helpers) - measure::ResidentMb(tmuxServer_));
}

void HeadlessPeer::requestStopAll() {
    client_ = control({"stop"}, QStringLiteral("corvanectl-stop.out"));
}

bool HeadlessPeer::stopRequestDone() {
    return Reaped(client_);
}

QString HeadlessPeer::consoleLogFolder() const {
    return world_.launcherFolder() + QStringLiteral("/logs");
}

HeadlessPeer::StatusCost HeadlessPeer::statusCost(int calls, double idleCpuPerMs) {
    StatusCost cost;
    double clientMs = 0;
    const double launcherBefore = cpuMs();
    const auto start = measure::SteadyClock::now();
    for (int call = 0; call < calls; ++call) {
        pid_t client = control({"status"}, QStringLiteral("corvanectl-status.out"));
        int status = 0;
        rusage usage{};
        if (client <= 0 || ::wait4(client, &status, 0, &usage) != client) {
            ++cost.failed;
            continue;
        }
        clientMs += RusageMs(usage);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            ++cost.failed;
    }
    const double launcherMs = cpuMs() - launcherBefore - idleCpuPerMs * measure::MsSince(start);
    cost.clientMs = clientMs / calls;
    cost.launcherMs = launcherMs / calls;
    return cost;
}
