#include "LinuxApis.h"

#include "ConsoleCloser.h"
#include "ConsoleEndings.h"
#include "ConsoleInput.h"
#include "InstallationProcesses.h"
#include "Pidfd.h"
#include "PortHolders.h"
#include "ProcessLister.h"
#include "ProcessPriority.h"
#include "ProcessSessions.h"
#include "UniqueFd.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <csignal>
#include <limits>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

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
                     .toStdString()),
      endNotices_(config) {
    ConsoleLogNotices::RemoveStale();
}

LinuxApis::~LinuxApis() {
    for (const QString& name : std::as_const(aside_))
        tmux_.Run({{"kill-session", "-t", TmuxClient::SessionTarget(name)}});
}

ServerProcess LinuxApis::LaunchServer(const QString& sExePath, const QString& sTitle) {
    if (!leftReadyClosed_) {
        // Ready consoles of a launcher that is gone, whether or not this one makes any: their
        // helpers ended with it, unheard, and their consoles stay until closed.
        leftReadyClosed_ = true;
        launcher_.closeLeftReady();
    }
    ServerProcess launched = launcher_.launch(sExePath, sTitle);
    endAsked_.remove(sTitle);
    oomKillsAtLaunch_.remove(sTitle);
    if (launched.lPID > 0) {
        const MemoryCgroup group = MemoryCgroupOf(launched.lPID);
        if (const long long kills = OomKillsIn(group); kills >= 0)
            oomKillsAtLaunch_.insert(sTitle, {group, kills});
    }
    if (readyConsoles_ && launched.lPID > 0 && IsDescriptor(launched.hProcess)) {
        const int pidfd = static_cast<int>(launched.hProcess.raw());
        launchedTitles_.insert(pidfd, sTitle);
        // The console for its next relaunch is made once the caller has had its answer, and only
        // while this server runs and nobody asked it to end.
        QTimer::singleShot(0, readyContext_.get(), [this, pidfd, sExePath, sTitle] {
            if (readyConsoles_ && launchedTitles_.value(pidfd) == sTitle &&
                !endAsked_.contains(sTitle) && !PidfdProcessEnded(pidfd))
                launcher_.prepare(sExePath, sTitle);
        });
    }
    if (onLogProblem_) {
        const QStringList problems = launcher_.takeLogProblems();
        logProblems_ << problems;
        // Once the launch has been told of, as a look at a time of the caller's own would.
        if (!problems.isEmpty())
            launchProblemsTold_->start();
    }
    return launched;
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

std::int32_t LinuxApis::SendConsoleLines(const QString& sTitle, const QStringList& sLines) {
    return static_cast<std::int32_t>(TypeConsoleLines(tmux_, sTitle, sLines));
}

std::int32_t LinuxApis::CloseServerConsole(const QString& sTitle) {
    endAsked_.insert(sTitle);
    launcher_.closeReady(sTitle);
    // A console whose server has ended already is simply closed; one whose server is asked to end
    // goes with it, as a stop is no crash to look into.
    if (CloseEndedConsoleOf(tmux_, sTitle))
        return 1;
    if (TmuxClient::IsExactTitle(sTitle))
        tmux_.Run(
            {{"set-option", "-w", "-t", TmuxClient::PaneTarget(sTitle), "remain-on-exit", "off"}});
    return AskServerToEnd(sTitle);
}

std::int32_t LinuxApis::AskServerToEnd(const QString& sTitle) {
    // A server asked to end is not relaunched through a console made ready before.
    endAsked_.insert(sTitle);
    launcher_.closeReady(sTitle);
    const CloseRequest request = closeRequests_.value(sTitle, CloseRequest::Default());
    return DeliverCloseRequest(tmux_, sTitle, request) ? 1 : 0;
}

std::int32_t LinuxApis::SignalServer(const QString& sTitle, ProcessHandle hProcess,
                                     std::int32_t lSignal) {
    if (DeliverCloseRequest(tmux_, sTitle, CloseRequest{lSignal, QString()}))
        return 1;
    if (!IsDescriptor(hProcess) || PidfdProcessEnded(static_cast<int>(hProcess.raw())))
        return 0;
    // No console of ours: the server's own process group, as its console would reach it.
    const pid_t pid = PidOfPidfd(static_cast<int>(hProcess.raw()));
    const pid_t group = pid > 0 ? getpgid(pid) : -1;
    if (group > 0 && kill(-group, lSignal) == 0)
        return 1;
    return syscall(SYS_pidfd_send_signal, static_cast<int>(hProcess.raw()), lSignal, nullptr, 0) ==
                   0
               ? 1
               : 0;
}

std::int32_t LinuxApis::KillServer(ProcessHandle hProcess) {
    if (!IsDescriptor(hProcess) || PidfdProcessEnded(static_cast<int>(hProcess.raw())))
        return 0;
    if (const auto title = launchedTitles_.constFind(static_cast<int>(hProcess.raw()));
        title != launchedTitles_.cend()) {
        endAsked_.insert(*title);
        launcher_.closeReady(*title);
    }
    const pid_t pid = PidOfPidfd(static_cast<int>(hProcess.raw()));
    if (pid <= 0)
        return 0;
    // Every process of the console's session, its helper among them; just the process when it
    // leads none (a server started some other way).
    bool sent = false;
    for (const pid_t member : SessionOf(pid)) {
        const UniqueFd memberFd(OpenPidfd(member));
        sent = (memberFd &&
                syscall(SYS_pidfd_send_signal, memberFd.get(), SIGKILL, nullptr, 0) == 0) ||
               sent;
    }
    return sent ? 1 : 0;
}

bool LinuxApis::SetCloseRequest(const QString& sTitle, const QString& sRequest) {
    const std::optional<CloseRequest> request = CloseRequest::FromText(sRequest);
    if (!request)
        return false;
    closeRequests_.insert(sTitle, *request);
    return true;
}

std::vector<ServerUsage> LinuxApis::ReadServerUsage(const std::vector<ProcessHandle>& hServers) {
    // A handle names the console's first process, which leads the server's process group.
    std::vector<pid_t> leaders;
    leaders.reserve(hServers.size());
    for (const ProcessHandle handle : hServers) {
        const int pidfd = IsDescriptor(handle) ? static_cast<int>(handle.raw()) : -1;
        if (pidfd < 0 || PidfdProcessEnded(pidfd)) {
            leaders.push_back(0);
            continue;
        }
        // Its id, read once: while the process runs, the id is its own.
        auto known = usagePids_.find(pidfd);
        if (known == usagePids_.end())
            known = usagePids_.insert(pidfd, PidOfPidfd(pidfd));
        leaders.push_back(*known);
    }
    return usage_.read(leaders);
}

modAPIs::PortHolder LinuxApis::PortHolderOf(ProcessHandle hProcess, std::uint16_t port,
                                            PortProtocol protocol) {
    const std::vector<ino_t> sockets = PortSocketInodes(port, protocol == PortProtocol::Udp);
    if (sockets.empty())
        return PortHolder::Nobody;
    const int pidfd = IsDescriptor(hProcess) ? static_cast<int>(hProcess.raw()) : -1;
    const pid_t leader = pidfd >= 0 && !PidfdProcessEnded(pidfd) ? PidOfPidfd(pidfd) : 0;
    if (leader <= 0)
        return PortHolder::Other;
    // The server program's own process, and the console's first process with the members of the
    // group it leads as the latest usage reading found them (a script's children).
    std::vector<pid_t> processes = usage_.knownProcesses(leader);
    if (const pid_t program = ServerProcessId(hProcess);
        program > 0 && std::find(processes.begin(), processes.end(), program) == processes.end())
        processes.insert(processes.begin(), program);
    bool unreadable = false;
    for (const pid_t pid : processes) {
        const int holds = HoldsSocket(pid, sockets);
        if (holds == 1)
            return PortHolder::Server;
        unreadable = unreadable || holds < 0;
    }
    return unreadable ? PortHolder::Unknown : PortHolder::Other;
}

bool LinuxApis::ProcessRuns(ProcessHandle hProcess) {
    // Called on every tick, where the whole list is taken only now and then.
    launcher_.settleHandOvers();
    // A launched server's handle names its console's first process, which lives until nothing
    // of the server is left.
    return IsDescriptor(hProcess) && !PidfdProcessEnded(static_cast<int>(hProcess.raw()));
}

std::int32_t LinuxApis::ServerProcessId(ProcessHandle hProcess) {
    if (!IsDescriptor(hProcess))
        return 0;
    const int pidfd = static_cast<int>(hProcess.raw());
    if (const pid_t told = launcher_.programPidOf(pidfd); told >= 0)
        return told;
    const pid_t pid = PidOfPidfd(pidfd);
    if (pid <= 0 || PidfdProcessEnded(pidfd))
        return 0;
    // A console's helper runs the program as its first child.
    if (ProgramNameOfExeLink(ExeLinkOf(pid)) == ProgramFileName(config_.trampolinePath))
        return std::max<pid_t>(FirstChildOf(pid), 0);
    return pid;
}

ServerProcess LinuxApis::FindRunningServer(const QString& sExePath) {
    // A console that this or an earlier launcher made for the program: its helper holds the whole
    // server, whatever the program has executed since.
    const pid_t console = FindConsoleHelper(QFile::encodeName(config_.trampolinePath).toStdString(),
                                            QFile::encodeName(sExePath).toStdString());
    if (UniqueFd pidfd(OpenPidfd(console)); pidfd && !PidfdProcessEnded(pidfd.get())) {
        const pid_t program = FirstChildOf(console);
        return ServerProcess{ProcessHandle(pidfd.release()),
                             static_cast<std::int32_t>(program > 0 ? program : console), sExePath};
    }
    // One started some other way: by its program's name, among this installation's processes.
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

OsResult LinuxApis::SetProcessPriority(ProcessHandle hProcess, std::int32_t lPriorityClass) {
    const std::optional<int> nice = NiceForPriorityClass(lPriorityClass);
    if (!nice)
        return OsResult::Failed(QStringLiteral("unknown priority class %1").arg(lPriorityClass));
    const NiceChange change = IsDescriptor(hProcess)
                                  ? SetNiceOfSession(static_cast<int>(hProcess.raw()), *nice)
                                  : NiceChange::NoProcess;
    return change == NiceChange::Done
               ? OsResult::Done()
               : OsResult::Failed(QString::fromUtf8(DescribeNiceChange(change)));
}

bool LinuxApis::WatchProcessEnd(ProcessHandle hProcess, std::function<void()> onEnd) {
    return IsDescriptor(hProcess) &&
           endWatch_.watch(static_cast<int>(hProcess.raw()), std::move(onEnd));
}

void LinuxApis::ReleaseProcessHandle(ProcessHandle hProcess) {
    if (!IsDescriptor(hProcess))
        return;
    endWatch_.forget(static_cast<int>(hProcess.raw()));
    usagePids_.remove(static_cast<int>(hProcess.raw()));
    launcher_.forgetStart(static_cast<int>(hProcess.raw()));
    launchedTitles_.remove(static_cast<int>(hProcess.raw()));
    ClosePidfd(static_cast<int>(hProcess.raw()));
}

bool LinuxApis::FileExists(const QString& sPath) {
    struct stat st;
    const QByteArray path = QFile::encodeName(sPath);
    return !path.isEmpty() && stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

ConsoleEnding LinuxApis::ExamineEndedConsole(const QString& sTitle, std::int32_t lLines) {
    ConsoleEnding ending = ExamineConsoleEnding(tmux_, sTitle, lLines);
    // A SIGKILL while the kernel counted an out-of-memory kill in the server's memory cgroup is
    // the kernel's, not somebody's kill -9.
    if (const auto launch = oomKillsAtLaunch_.constFind(sTitle);
        launch != oomKillsAtLaunch_.constEnd() && ending.state == ConsoleEnding::State::Ended &&
        ending.exitStatus < 0 && ending.how.startsWith(QStringLiteral("killed by signal 9 ")) &&
        OomKillsIn(launch->group) > launch->kills)
        ending.how += QStringLiteral(" by the kernel's out-of-memory killer");
    // Seen with tmux 3.3: while only this (output-less) control client talks to it, tmux may leave
    // the last output of an ended process unread and so never mark its console dead. A client that
    // comes and goes sets it going again; the caller asks once more a moment later.
    // A console whose end is waited for has such a client: the one that waits.
    if (ending.state == ConsoleEnding::State::StillRunning && !endNotices_.watching(sTitle))
        TmuxClient(config_).Run({{"display-message", "-p", "."}});
    return ending;
}

void LinuxApis::CloseEndedConsole(const QString& sTitle) {
    const bool closed = CloseEndedConsoleOf(tmux_, sTitle);
    const bool aside = aside_.contains(sTitle) && TmuxClient::IsExactTitle(sTitle);
    // A console moved aside is forgotten once it is closed or gone: its hook cannot run any more.
    const bool gone =
        !closed && (endNotices_.knows(sTitle) || aside) && TmuxClient::IsExactTitle(sTitle) &&
        tmux_.Run({{"has-session", "-t", TmuxClient::SessionTarget(sTitle)}}).exitCode == 1;
    if (closed || gone) {
        endNotices_.forget(sTitle);
        aside_.remove(sTitle);
        oomKillsAtLaunch_.remove(sTitle);
    } else if (aside) {
        // tmux did not answer (stopped, say), or has not seen the end yet: the console is to close
        // itself, as soon as tmux carries this out. Dead by then, it is closed at once; else its
        // hook closes it once it is.
        const std::string pane = TmuxClient::PaneTarget(sTitle);
        const std::string close = "kill-pane -t " + TmuxClient::QuoteWord(pane);
        tmux_.SendEach({{"set-hook", "-p", "-t", pane, "pane-died", close},
                        {"if-shell", "-F", "-t", pane, "#{pane_dead}", close}});
        endNotices_.forget(sTitle);
    }
}

QString LinuxApis::MoveEndedConsoleAside(const QString& sTitle, std::int32_t lPID) {
    // No server title ends in a parenthesis with a number in it.
    const QString aside = sTitle + QStringLiteral(" (ended %1)").arg(lPID);
    if (!TmuxClient::IsExactTitle(sTitle) || !TmuxClient::IsExactTitle(aside) || lPID <= 0)
        return QString();
    // Sent without waiting for the answer: tmux carries out commands in the order they come, so
    // the title is free for whatever comes next, and the relaunch need not wait a round trip. In
    // one write, so that the hook is there before tmux carries out anything else. A console that
    // could not be moved (it was gone already) is gone under its new name too, as a look tells.
    tmux_.SendEach({
        {"rename-session", "-t", TmuxClient::SessionTarget(sTitle),
         TmuxClient::FormatLiteral(aside.toStdString())},
        endNotices_.hookFor(aside),
    });
    aside_.insert(aside);
    if (oomKillsAtLaunch_.contains(sTitle))
        oomKillsAtLaunch_.insert(aside, oomKillsAtLaunch_.take(sTitle));
    return aside;
}

bool LinuxApis::WatchConsoleEnding(const QString& sName, std::function<void()> onKnown) {
    return endNotices_.watch(sName, std::move(onKnown));
}

void LinuxApis::SetReadyConsoles(bool bOn) {
    readyConsoles_ = bOn;
    if (!bOn)
        launcher_.closeAllReady();
}

void LinuxApis::SetLaunchOptions(const QString& sTitle, const LaunchOptions& options) {
    launcher_.setLaunchOptions(sTitle, options);
}

void LinuxApis::SetConsoleLog(const QString& sTitle, const ConsoleLog& log) {
    if (log.file.isEmpty() || log.maxBytes <= 0 || log.kept < 0) {
        launcher_.setLogCommand(sTitle, std::string());
        return;
    }
    if (!notices_) {
        notices_ = std::make_unique<ConsoleLogNotices>();
        WatchConsoleLogNotices();
    }
    launcher_.setLogCommand(sTitle, ConsoleLogCommand(logHelper_, log, notices_->path()));
}

QStringList LinuxApis::TakeConsoleLogProblems() {
    QStringList problems = std::exchange(logProblems_, {});
    problems << launcher_.takeLogProblems();
    if (notices_)
        problems << notices_->take();
    return problems;
}

bool LinuxApis::WatchConsoleLogProblems(std::function<void()> onProblem) {
    onLogProblem_ = std::move(onProblem);
    if (!onLogProblem_) { // nobody to tell: the notices wait in their pipe
        noticesWatch_.reset();
        return true;
    }
    if (!launchProblemsTold_) {
        launchProblemsTold_ = std::make_unique<QTimer>();
        launchProblemsTold_->setSingleShot(true);
        QObject::connect(launchProblemsTold_.get(), &QTimer::timeout, launchProblemsTold_.get(),
                         [this] {
                             if (onLogProblem_ && !logProblems_.isEmpty())
                                 onLogProblem_();
                         });
    }
    WatchConsoleLogNotices();
    return true;
}

void LinuxApis::WatchConsoleLogNotices() {
    if (!onLogProblem_ || !notices_ || noticesWatch_ || notices_->fd() < 0)
        return;
    noticesWatch_ = std::make_unique<QSocketNotifier>(notices_->fd(), QSocketNotifier::Read);
    QObject::connect(noticesWatch_.get(), &QSocketNotifier::activated, noticesWatch_.get(),
                     [this] { ReadConsoleLogNotices(); });
}

void LinuxApis::ReadConsoleLogNotices() {
    // All that can be read is read, so that the pipe is quiet until the next notice; a line
    // written in part waits for its end.
    const QStringList notices = notices_->take();
    logProblems_ << notices;
    if (!notices.isEmpty() && onLogProblem_)
        onLogProblem_();
}
