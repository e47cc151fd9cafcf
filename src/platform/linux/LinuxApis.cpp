#include "LinuxApis.h"

#include "ConsoleCloser.h"
#include "ConsoleText.h"
#include "InstallationProcesses.h"
#include "Pidfd.h"
#include "ProcessLister.h"
#include "ProcessPriority.h"
#include "UniqueFd.h"

#include <QFile>
#include <limits>
#include <sys/stat.h>

namespace {

// A handle value that can be a descriptor of ours.
bool IsDescriptor(ProcessHandle handle) {
    return handle.raw() > 2 && handle.raw() <= std::numeric_limits<int>::max();
}

// The program file name of a launched path: what follows its last '/'.
std::string ProgramFileName(const QString& path) {
    return QFile::encodeName(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1)).toStdString();
}

} // namespace

LinuxApis::LinuxApis(const LinuxBackendConfig& config)
    : installationFolder_(QFile::encodeName(config.serverFolder).toStdString()),
      socketName_(config.tmuxSocketName), tmux_(config), launcher_(config, tmux_) {}

ServerProcess LinuxApis::LaunchServer(const QString& sExePath, const QString& sTitle) {
    return launcher_.launch(sExePath, sTitle);
}

QString LinuxApis::LastLaunchError() {
    return launcher_.lastError();
}

QString LinuxApis::GetProcessList() {
    launcher_.settleHandOvers();
    const std::string list = ListRunningProcesses(installationFolder_);
    return QString::fromUtf8(list.data(), static_cast<qsizetype>(list.size()));
}

QString LinuxApis::GetConsoleText(const QString& sTitle) {
    const QString missing = QStringLiteral(" ");
    if (!TmuxClient::IsExactTitle(sTitle))
        return missing;
    // -J joins lines that wrapped at the console's edge; without -e no escape codes appear. Only
    // the tail is asked for: tmux's cost grows with every line it formats.
    const CommandResult capture =
        tmux_.Run({{"capture-pane", "-p", "-J", "-S", std::to_string(-ConsoleLineLimit()), "-t",
                    TmuxClient::PaneTarget(sTitle)}});
    if (!capture.succeeded())
        return missing;
    return ConsoleTextFromCapture(capture.output, ConsoleLineLimit());
}

std::int32_t LinuxApis::CloseServerConsole(const QString& sTitle) {
    const CloseRequest request = closeRequests_.value(sTitle, CloseRequest::Default());
    return DeliverCloseRequest(tmux_, sTitle, request) ? 1 : 0;
}

bool LinuxApis::SetCloseRequest(const QString& sTitle, const QString& sRequest) {
    const std::optional<CloseRequest> request = CloseRequest::FromText(sRequest);
    if (!request)
        return false;
    closeRequests_.insert(sTitle, *request);
    return true;
}

bool LinuxApis::ProcessRunsProgram(ProcessHandle hProcess, const QString& sExePath) {
    // Called on every tick, where the whole list is taken only now and then.
    launcher_.settleHandOvers();
    return IsDescriptor(hProcess) &&
           PidfdRunsProgram(static_cast<int>(hProcess.raw()), ProgramFileName(sExePath));
}

ServerProcess LinuxApis::FindRunningServer(const QString& sExePath) {
    const std::string program = ProgramFileName(sExePath);
    const pid_t pid = FindInstallationProcess(installationFolder_, program);
    UniqueFd pidfd(OpenPidfd(pid));
    // Held now; it must still be that program, or the id went to another process meanwhile.
    if (!pidfd || !PidfdRunsProgram(pidfd.get(), program))
        return ServerProcess{};
    return ServerProcess{ProcessHandle(pidfd.release()), static_cast<std::int32_t>(pid), sExePath};
}

QString LinuxApis::ConsoleLocation() {
    return QStringLiteral("Server consoles are on tmux socket \"%1\"; to see one: tmux -L %1 "
                          "attach -t \"=Map Server\"")
        .arg(socketName_);
}

std::int32_t LinuxApis::SetProcessPriority(ProcessHandle hProcess, std::int32_t lPriorityClass) {
    const std::optional<int> nice = NiceForPriorityClass(lPriorityClass);
    if (!nice) {
        lastPriorityError_ = QStringLiteral("unknown priority class %1").arg(lPriorityClass);
        return 0;
    }
    const NiceChange change = IsDescriptor(hProcess)
                                  ? SetNiceOfEveryThread(static_cast<int>(hProcess.raw()), *nice)
                                  : NiceChange::NoProcess;
    lastPriorityError_ = QString::fromUtf8(DescribeNiceChange(change));
    return change == NiceChange::Done ? 1 : 0;
}

QString LinuxApis::LastPriorityError() {
    return lastPriorityError_;
}

bool LinuxApis::WatchProcessEnd(ProcessHandle hProcess, std::function<void()> onEnd) {
    return IsDescriptor(hProcess) &&
           endWatch_.watch(static_cast<int>(hProcess.raw()), std::move(onEnd));
}

void LinuxApis::ReleaseProcessHandle(ProcessHandle hProcess) {
    if (!IsDescriptor(hProcess))
        return;
    endWatch_.forget(static_cast<int>(hProcess.raw()));
    ClosePidfd(static_cast<int>(hProcess.raw()));
}

bool LinuxApis::FileExists(const QString& sPath) {
    struct stat st;
    const QByteArray path = QFile::encodeName(sPath);
    return !path.isEmpty() && stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}
