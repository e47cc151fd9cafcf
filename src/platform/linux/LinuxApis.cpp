#include "LinuxApis.h"

#include "ConsoleText.h"
#include "Pidfd.h"
#include "ProcessLister.h"
#include "ProcessPriority.h"

#include <QFile>
#include <limits>
#include <sys/stat.h>

namespace {

// A handle value that can be a descriptor of ours.
bool IsDescriptor(ProcessHandle handle) {
    return handle.raw() > 2 && handle.raw() <= std::numeric_limits<int>::max();
}

} // namespace

LinuxApis::LinuxApis(const LinuxBackendConfig& config) : tmux_(config), launcher_(config, tmux_) {}

ServerProcess LinuxApis::LaunchServer(const QString& sExePath, const QString& sTitle) {
    return launcher_.launch(sExePath, sTitle);
}

QString LinuxApis::LastLaunchError() {
    return launcher_.lastError();
}

QString LinuxApis::GetProcessList() {
    launcher_.settleHandOvers(); // once a tick
    const std::string list = ListRunningProcesses();
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
    if (!TmuxClient::IsExactTitle(sTitle))
        return 0;
    // Closing the session hangs up its terminal: the processes in it get SIGHUP, as when a
    // terminal window is closed.
    const CommandResult closed =
        tmux_.Run({{"kill-session", "-t", TmuxClient::SessionTarget(sTitle)}});
    return closed.succeeded() ? 1 : 0;
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

void LinuxApis::ReleaseProcessHandle(ProcessHandle hProcess) {
    if (IsDescriptor(hProcess))
        ClosePidfd(static_cast<int>(hProcess.raw()));
}

bool LinuxApis::FileExists(const QString& sPath) {
    struct stat st;
    const QByteArray path = QFile::encodeName(sPath);
    return !path.isEmpty() && stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}
