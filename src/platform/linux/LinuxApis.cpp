#include "LinuxApis.h"

#include "ConsoleCloser.h"
#include "ConsoleEndings.h"
#include "ConsoleInput.h"
#include "InstallationProcesses.h"
#include "Pidfd.h"
#include "ProcessLister.h"
#include "ProcessPriority.h"
#include "UniqueFd.h"

#include <QFile>
#include <QFileInfo>
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
    : config_(config), installationFolder_(QFile::encodeName(config.serverFolder).toStdString()),
      socketName_(config.tmuxSocketName), tmux_(config), captures_(tmux_), launcher_(config, tmux_),
      logHelper_(QFile::encodeName(QFileInfo(config.trampolinePath).absolutePath() +
                                   QStringLiteral("/corvane-log"))
                     .toStdString()) {}

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
    return CaptureConsole(sTitle, false);
}

QString LinuxApis::GetConsoleColourText(const QString& sTitle) {
    return CaptureConsole(sTitle, true);
}

QString LinuxApis::CaptureConsole(const QString& sTitle, bool colours) {
    return captures_.capture(sTitle, colours, ConsoleLineLimit()).value_or(QStringLiteral(" "));
}

std::int32_t LinuxApis::SendConsoleInput(const QString& sTitle, const QString& sLine) {
    return TypeConsoleLine(tmux_, sTitle, sLine) ? 1 : 0;
}

std::int32_t LinuxApis::CloseServerConsole(const QString& sTitle) {
    // A console whose server has ended already is simply closed; one whose server is asked to end
    // goes with it, as a stop is no crash to look into.
    if (CloseEndedConsoleOf(tmux_, sTitle))
        return 1;
    if (TmuxClient::IsExactTitle(sTitle))
        tmux_.Run(
            {{"set-option", "-w", "-t", TmuxClient::PaneTarget(sTitle), "remain-on-exit", "off"}});
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
    if (!IsDescriptor(hProcess))
        return false;
    const int pidfd = static_cast<int>(hProcess.raw());
    const std::string program = ProgramFileName(sExePath);
    // A console whose trampoline has not yet executed the program (slow on a busy machine)
    // holds a server being started, not a crashed one. Asked first: once the execution has been
    // heard of, the process runs the program.
    return launcher_.isStarting(pidfd, program) || PidfdRunsProgram(pidfd, program);
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
    launcher_.forgetStart(static_cast<int>(hProcess.raw()));
    ClosePidfd(static_cast<int>(hProcess.raw()));
}

bool LinuxApis::FileExists(const QString& sPath) {
    struct stat st;
    const QByteArray path = QFile::encodeName(sPath);
    return !path.isEmpty() && stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

ConsoleEnding LinuxApis::ExamineEndedConsole(const QString& sTitle, std::int32_t lLines) {
    const ConsoleEnding ending = ExamineConsoleEnding(tmux_, sTitle, lLines);
    // Seen with tmux 3.3: while only this (output-less) control client talks to it, tmux may leave
    // the last output of an ended process unread and so never mark its console dead. A client that
    // comes and goes sets it going again; the caller asks once more a moment later.
    if (ending.state == ConsoleEnding::State::StillRunning)
        TmuxClient(config_).Run({{"display-message", "-p", "."}});
    return ending;
}

void LinuxApis::CloseEndedConsole(const QString& sTitle) {
    CloseEndedConsoleOf(tmux_, sTitle);
}

void LinuxApis::SetConsoleLog(const QString& sTitle, const ConsoleLog& log) {
    if (log.file.isEmpty() || log.maxBytes <= 0 || log.kept < 0) {
        launcher_.setLogCommand(sTitle, std::string());
        return;
    }
    if (!notices_)
        notices_ = std::make_unique<ConsoleLogNotices>();
    launcher_.setLogCommand(sTitle, ConsoleLogCommand(logHelper_, log, notices_->path()));
}

QStringList LinuxApis::TakeConsoleLogProblems() {
    QStringList problems = launcher_.takeLogProblems();
    if (notices_)
        problems << notices_->take();
    return problems;
}
