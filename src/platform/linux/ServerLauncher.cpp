#include "ServerLauncher.h"

#include "ConsoleEndings.h"
#include "LaunchChannel.h"
#include "Pidfd.h"
#include "TrampolineProtocol.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Size of each console; output wider than this wraps and is joined again on capture.
constexpr const char* kConsoleColumns = "200";
constexpr const char* kConsoleRows = "50";

// Why the file at path cannot be executed; empty when it can.
QString ExecutableFileProblem(const std::string& path, const QString& shownPath) {
    struct stat st;
    if (path.empty())
        return QStringLiteral("no program path was given");
    if (stat(path.c_str(), &st) != 0)
        return shownPath + QStringLiteral(" cannot be reached: ") +
               QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return shownPath + QStringLiteral(" is not a file");
    if (access(path.c_str(), X_OK) != 0)
        return shownPath + QStringLiteral(" is not executable");
    return QString();
}

// The launcher's environment for a program that runs in folder: PWD names that folder, and the
// operator's variables come over it.
std::vector<std::string> ProgramEnvironment(const std::string& folder, const QStringList& extra) {
    std::vector<std::string> environment = CurrentEnvironmentWithout({"TMUX", "TMUX_PANE", "PWD"});
    std::string pwd = folder;
    if (pwd.size() > 1 && pwd.ends_with('/'))
        pwd.pop_back();
    environment.push_back("PWD=" + pwd);
    for (const QString& variable : extra) {
        const std::string entry = variable.toStdString();
        const std::string name = entry.substr(0, entry.find('=') + 1);
        std::erase_if(environment, [&](const std::string& e) { return e.starts_with(name); });
        environment.push_back(entry);
    }
    return environment;
}

std::vector<std::string> ToStrings(const QStringList& list) {
    std::vector<std::string> out;
    for (const QString& item : list)
        out.push_back(item.toStdString());
    return out;
}

// The file name of the program at path, as tmux names a console's window after it.
std::string ProgramName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string CurrentFolder() {
    std::string buf(4096, '\0');
    while (getcwd(buf.data(), buf.size()) == nullptr) {
        if (errno != ERANGE)
            return "/";
        buf.resize(buf.size() * 2);
    }
    buf.resize(std::char_traits<char>::length(buf.c_str()));
    return buf;
}

// What new-session prints for the new console: "<pane pid> <session id> <session name>".
struct NewSession {
    pid_t pid = -1;
    std::string id;
    std::string name;
};

bool ParseNewSession(const std::string& output, NewSession& session) {
    std::string line = output;
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    if (second == std::string::npos)
        return false;
    const auto [end, ec] = std::from_chars(line.data(), line.data() + first, session.pid);
    session.id = line.substr(first + 1, second - first - 1);
    session.name = line.substr(second + 1);
    return ec == std::errc() && end == line.data() + first && session.pid > 0 &&
           !session.id.empty() && session.id[0] == '$';
}

} // namespace

ServerLauncher::ServerLauncher(const LinuxBackendConfig& config, TmuxClient tmux)
    : config_(config), tmux_(std::move(tmux)) {}

CommandResult ServerLauncher::makeConsole(const std::vector<TmuxClient::Command>& commands,
                                          const std::shared_ptr<LaunchChannel>& shared) {
    return tmux_.RunList(
        commands, [shared](const CommandResult& late, TmuxControlConnection& connection) {
            // This launch was reported failed: a console tmux made for it after all is closed at
            // once, and its trampoline, never told to go, runs nothing.
            NewSession session;
            if (late.succeeded() && ParseNewSession(late.output, session))
                connection.send("kill-session -t " + TmuxClient::QuoteWord(session.id));
            shared->reclaimFolder();
        });
}

ServerLauncher::~ServerLauncher() {
    // A helper that has ended already went with its tmux server, most likely: asking tmux to
    // close its console would only start a new one. Its hand-over is dropped all the same.
    for (auto& [title, ready] : ready_)
        if (PidfdProcessEnded(ready.pidfd.get())) {
            ready.channel->reclaimFolder();
            ready.channel.reset();
        }
    closeAllReady(true);
}

QString ServerLauncher::ReadyName(const QString& title) {
    // Given as "<title> $ready", which tmux keeps as "<title> \$ready", the '$' escaped.
    return title + QStringLiteral(" \\$ready");
}

void ServerLauncher::setLaunchOptions(const QString& title, const LaunchOptions& options) {
    const LaunchOptions known = launchOptions_.value(title);
    if (known.arguments != options.arguments || known.environment != options.environment ||
        known.workingFolder != options.workingFolder)
        closeReady(title);
    launchOptions_.insert(title, options);
}

void ServerLauncher::setLogCommand(const QString& title, const std::string& command) {
    if (logCommands_.value(title) != command)
        closeReady(title);
    logCommands_.insert(title, command);
}

ServerLauncher::Plan ServerLauncher::planFor(const std::string& path, const QString& title) const {
    const std::string current = CurrentFolder();
    const LaunchOptions options = launchOptions_.value(title);
    Plan plan;
    plan.program = AbsolutePathOf(path, current);
    plan.folder =
        options.workingFolder.isEmpty()
            ? WorkingFolderOf(path, current)
            : AbsolutePathOf(QFile::encodeName(options.workingFolder).toStdString(), current);
    plan.environment = ProgramEnvironment(plan.folder, options.environment);
    plan.arguments = ToStrings(options.arguments);
    plan.logCommand = logCommands_.value(title);
    return plan;
}

void ServerLauncher::close(Ready& ready, bool wait) {
    if (!ready.channel) {
        ready.pidfd.reset();
        return;
    }
    ready.channel->awaitVerdict(0);
    if (!wait && ready.channel->trampolineHasOpened()) {
        // Its helper has all it needs, and ends without a word in the console log once the
        // hand-over is dropped: tmux closes the console in its own time.
        tmux_.Send({"kill-session", "-t", ready.sessionId});
    } else {
        // Closed before the hand-over is dropped: its helper, hung up with its console, can no
        // longer report or run anything, and the hand-over folder is ours to remove.
        tmux_.Run({{"kill-session", "-t", ready.sessionId}});
        ready.channel->reclaimFolder();
    }
    ready.channel.reset();
    ready.pidfd.reset();
}

void ServerLauncher::closeReady(const QString& title, bool wait) {
    const auto found = ready_.find(title);
    if (found == ready_.end())
        return;
    Ready ready = std::move(found->second);
    ready_.erase(found);
    close(ready, wait);
}

void ServerLauncher::closeAllReady(bool wait) {
    while (!ready_.empty())
        closeReady(ready_.begin()->first, wait);
}

void ServerLauncher::closeLeftReady() {
    const CommandResult listed =
        tmux_.Run({{"list-sessions", "-F", "#{session_id} #{session_name}"}});
    if (!listed.succeeded())
        return;
    const std::string suffix = ReadyName(QString()).toStdString();
    std::vector<TmuxClient::Command> kills;
    std::size_t start = 0;
    while (start < listed.output.size()) {
        std::size_t end = listed.output.find('\n', start);
        if (end == std::string::npos)
            end = listed.output.size();
        const std::string entry = listed.output.substr(start, end - start);
        start = end + 1;
        const std::size_t space = entry.find(' ');
        if (space == std::string::npos || !entry.ends_with(suffix))
            continue;
        const std::string id = entry.substr(0, space);
        const bool ours = std::any_of(ready_.begin(), ready_.end(),
                                      [&](const auto& r) { return r.second.sessionId == id; });
        if (!ours)
            kills.push_back({"kill-session", "-t", id});
    }
    if (!kills.empty())
        tmux_.RunEach(kills);
}

bool ServerLauncher::prepare(const QString& exePath, const QString& title) {
    const std::string path = QFile::encodeName(exePath).toStdString();
    const std::string trampoline = QFile::encodeName(config_.trampolinePath).toStdString();
    if (!TmuxClient::IsExactTitle(title) || !ExecutableFileProblem(path, exePath).isEmpty() ||
        !ExecutableFileProblem(trampoline, config_.trampolinePath).isEmpty())
        return false;
    const Plan plan = planFor(path, title);
    if (const auto found = ready_.find(title); found != ready_.end()) {
        Ready& ready = found->second;
        if (ready.plan == plan && !PidfdProcessEnded(ready.pidfd.get()) &&
            ready.channel->awaitVerdict(0) == LaunchChannel::Verdict::NoAnswer)
            return true;
        closeReady(title);
    }
    const auto shared = std::make_shared<LaunchChannel>();
    if (!shared->open(plan.environment, plan.arguments))
        return false;
    const QString name = ReadyName(title);
    const std::string target = TmuxClient::PaneTarget(name);
    const std::string described = "#{pane_pid} #{session_id} #{session_name}";
    std::vector<TmuxClient::Command> commands = {
        {"new-session", "-d",
         "-s",          TmuxClient::FormatLiteral((title + " $ready").toStdString()),
         "-n",          TmuxClient::FormatLiteral(ProgramName(path)),
         "-c",          TmuxClient::FormatLiteral(plan.folder),
         "-x",          kConsoleColumns,
         "-y",          kConsoleRows,
         "-P",          "-F",
         described,     "--",
         trampoline,    shared->folder(),
         plan.program,  corvane::trampoline::kReadyWord},
    };
    if (!plan.logCommand.empty()) {
        commands.push_back({"pipe-pane", "-O", "-t", target, plan.logCommand});
        commands.push_back({"display-message", "-p", "-t", target, described});
    }
    const auto create = [&] { return makeConsole(commands, shared); };
    CommandResult created = create();
    if (created.started && !created.timedOut && !created.succeeded()) {
        // A console of that name left by a launcher that is gone, or this one made with its pipe
        // refused: no server runs in either, so it is closed and made anew, once.
        endSession(TmuxClient::SessionTarget(name));
        created = create();
        if (created.started && !created.timedOut && !created.succeeded())
            endSession(TmuxClient::SessionTarget(name));
    }
    NewSession session;
    if (!created.succeeded() || !ParseNewSession(created.output, session)) {
        if (created.succeeded())
            endSession(TmuxClient::SessionTarget(name));
        return false;
    }
    UniqueFd pidfd(OpenPidfd(session.pid));
    if (session.name != name.toStdString() || !pidfd) {
        endSession(session.id);
        shared->reclaimFolder();
        return false;
    }
    Ready made{plan, shared, std::move(pidfd), session.pid, session.id};
    // Another was made meanwhile (the wait for tmux lets events run): one is enough.
    if (ready_.contains(title)) {
        close(made, false);
        return true;
    }
    ready_[title] = std::move(made);
    return true;
}

bool ServerLauncher::takeReady(const QString& title, const Plan& plan, Ready& taken) {
    const auto found = ready_.find(title);
    if (found == ready_.end())
        return false;
    taken = std::move(found->second);
    ready_.erase(found);
    // Its helper still waits, for this very program, and the title is free: it is ours.
    const bool fits = taken.plan == plan && !PidfdProcessEnded(taken.pidfd.get()) &&
                      taken.channel->awaitVerdict(0) == LaunchChannel::Verdict::NoAnswer;
    if (fits) {
        const TmuxClient::Command rename = {"rename-session", "-t", taken.sessionId,
                                            TmuxClient::FormatLiteral(title.toStdString())};
        CommandResult renamed = tmux_.Run({rename});
        // A console of that title whose server has ended is closed: the title is free again.
        if (renamed.started && !renamed.timedOut && !renamed.succeeded() &&
            CloseEndedConsoleOf(tmux_, title))
            renamed = tmux_.Run({rename});
        if (renamed.succeeded())
            return true;
    }
    close(taken, false);
    return false;
}

std::string ServerLauncher::WorkingFolderOf(const std::string& path,
                                            const std::string& currentFolder) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return currentFolder.ends_with('/') ? currentFolder : currentFolder + "/";
    return AbsolutePathOf(path.substr(0, slash + 1), currentFolder);
}

std::string ServerLauncher::AbsolutePathOf(const std::string& path,
                                           const std::string& currentFolder) {
    if (path.starts_with('/'))
        return path;
    return (currentFolder.ends_with('/') ? currentFolder : currentFolder + "/") + path;
}

void ServerLauncher::endSession(const std::string& target) const {
    tmux_.Run({{"kill-session", "-t", target}});
}

// Why tmux refused to make the console: most often a console of that title is still open, left
// by an earlier run of the launcher.
QString ServerLauncher::creationFailure(const CommandResult& created, const QString& title) const {
    if (!created.started)
        return QStringLiteral("tmux (\"%1\") could not be run; is it installed and in the PATH?")
            .arg(config_.tmuxProgram);
    if (created.timedOut)
        return QStringLiteral("tmux did not answer within %1 ms").arg(config_.tmuxTimeoutMs);
    if (tmux_.Run({{"has-session", "-t", TmuxClient::SessionTarget(title)}}).succeeded())
        return QStringLiteral("a console titled \"%1\" is already open, so this server may "
                              "still be running from an earlier start")
            .arg(title);
    return QStringLiteral("tmux could not create the console (exit code %1)").arg(created.exitCode);
}

void ServerLauncher::settleHandOvers() {
    std::erase_if(openHandOvers_, [](const std::shared_ptr<LaunchChannel>& channel) {
        channel->awaitVerdict(0);
        return channel->trampolineHasOpened();
    });
}

pid_t ServerLauncher::programPidOf(int pidfd) {
    const auto found = starting_.find(pidfd);
    if (found == starting_.end())
        return -1;
    Start& start = found->second;
    if (start.programPid > 0)
        return start.programPid;
    const LaunchChannel::Verdict verdict = start.channel->awaitVerdict(0);
    if (verdict == LaunchChannel::Verdict::Started) {
        start.programPid = start.channel->programPid();
        start.channel.reset();
        return start.programPid;
    }
    if (verdict == LaunchChannel::Verdict::NoAnswer && !PidfdProcessEnded(pidfd))
        return 0;
    starting_.erase(found);
    return -1;
}

ServerProcess ServerLauncher::launch(const QString& exePath, const QString& title) {
    settleHandOvers();
    const std::string path = QFile::encodeName(exePath).toStdString();
    const std::string trampoline = QFile::encodeName(config_.trampolinePath).toStdString();
    if (!TmuxClient::IsExactTitle(title))
        return ServerProcess::failed(QStringLiteral("\"%1\" cannot be a console title").arg(title));
    if (const QString problem = ExecutableFileProblem(path, exePath); !problem.isEmpty())
        return ServerProcess::failed(problem);
    if (const QString problem = ExecutableFileProblem(trampoline, config_.trampolinePath);
        !problem.isEmpty())
        return ServerProcess::failed(QStringLiteral("the console helper cannot be run: ") +
                                     problem);

    const Plan plan = planFor(path, title);
    // tmux would start it in its own folder instead, without a word.
    if (struct stat folder{}; ::stat(plan.folder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        return ServerProcess::failed(QStringLiteral("its working folder %1 is not a folder")
                                         .arg(QFile::decodeName(plan.folder.c_str())));
    if (Ready ready; takeReady(title, plan, ready))
        return finishLaunch(exePath, std::move(ready.channel), std::move(ready.pidfd), 0, ready.pid,
                            ready.sessionId);
    // The hand-over lives as long as tmux may still carry out the launch: past a timeout, until
    // tmux answers late or is known never to answer.
    const auto shared = std::make_shared<LaunchChannel>();
    LaunchChannel& channel = *shared;
    if (!channel.open(plan.environment, plan.arguments))
        return ServerProcess::failed(
            QStringLiteral("the hand-over folder for the console helper cannot be made: ") +
            QString::fromLocal8Bit(std::strerror(errno)));

    // One command list, one round trip: the options, the console, and the pipe of its output to
    // the console log, given before the program runs so that its first line is logged too.
    const std::string& logCommand = plan.logCommand;
    const std::string consoleTarget = TmuxClient::PaneTarget(title);
    const std::string described = "#{pane_pid} #{session_id} #{session_name}";
    std::vector<TmuxClient::Command> commands = {
        {"set-option", "-g", "history-limit", std::to_string(config_.historyLimit)},
        // A console outlives its process, so that how it ended and its last lines can be read; a
        // deliberate stop turns this off for its console first.
        {"set-option", "-wg", "remain-on-exit", "on"},
        // Named at once (which turns tmux's automatic renaming off for it), as that renaming
        // names it once the console's helper has made way for the server: it would look the
        // console's foreground program up in /proc after every output.
        {"new-session", "-d", "-s", TmuxClient::FormatLiteral(title.toStdString()), "-n",
         TmuxClient::FormatLiteral(ProgramName(path)), "-c", TmuxClient::FormatLiteral(plan.folder),
         "-x", kConsoleColumns, "-y", kConsoleRows, "-P", "-F", described, "--", trampoline,
         channel.folder(), plan.program},
    };
    if (!logCommand.empty()) {
        // Only the last command's answer comes back: it tells the new console again. The list
        // ends at a command that fails, so the pipe is never given to another console of the title.
        commands.push_back({"pipe-pane", "-O", "-t", consoleTarget, logCommand});
        commands.push_back({"display-message", "-p", "-t", consoleTarget, described});
    }
    const auto create = [&] { return makeConsole(commands, shared); };
    CommandResult created = create();
    // A console of that title whose server has ended is closed: the title is free again.
    if (created.started && !created.timedOut && !created.succeeded() &&
        CloseEndedConsoleOf(tmux_, title))
        created = create();
    if (!created.succeeded() && !logCommand.empty() && created.started && !created.timedOut) {
        // The console may be made and only its pipe refused: it is ours when it runs this very
        // launch's hand-over.
        const std::vector<CommandResult> console = tmux_.RunEach({
            {"display-message", "-p", "-t", consoleTarget, "#{pane_start_command}"},
            {"display-message", "-p", "-t", consoleTarget, described},
        });
        if (console.size() == 2 && console[0].succeeded() && console[1].succeeded() &&
            console[0].output.find(channel.folder()) != std::string::npos) {
            logProblems_ << QStringLiteral(
                                "the output of %1 cannot be logged: tmux refused to pipe "
                                "it (exit code %2)")
                                .arg(title)
                                .arg(created.exitCode);
            created = console[1];
        }
    }
    if (!created.succeeded())
        return ServerProcess::failed(creationFailure(created, title));
    NewSession session;
    if (!ParseNewSession(created.output, session)) {
        // tmux made the console but its answer makes no sense: the title is ours, end it.
        endSession(TmuxClient::SessionTarget(title));
        return ServerProcess::failed(QStringLiteral("tmux gave an answer that cannot be read: ") +
                                     QString::fromStdString(created.output).trimmed());
    }
    if (session.name != title.toStdString()) {
        endSession(session.id);
        return ServerProcess::failed(QStringLiteral("tmux named the console \"%1\" instead")
                                         .arg(QString::fromStdString(session.name)));
    }

    // Take hold of the console's process before the trampoline may start the program, so the
    // pidfd names this very process however quickly the program ends.
    UniqueFd pidfd(OpenPidfd(session.pid));
    const int pidfdError = errno;
    return finishLaunch(exePath, shared, std::move(pidfd), pidfdError, session.pid, session.id);
}

ServerProcess ServerLauncher::finishLaunch(const QString& exePath,
                                           std::shared_ptr<LaunchChannel> shared, UniqueFd pidfd,
                                           int pidfdError, pid_t consolePid,
                                           const std::string& sessionId) {
    LaunchChannel& channel = *shared;
    channel.release();
    const LaunchChannel::Verdict verdict = channel.awaitVerdict(config_.execVerdictWaitMs);
    const bool gone = !pidfd || PidfdProcessEnded(pidfd.get());
    const bool neverRan = verdict == LaunchChannel::Verdict::NoAnswer && gone;
    if (neverRan) {
        // The console ended without the trampoline ever reporting: the folder is ours again.
        channel.reclaimFolder();
    }
    QString failure;
    if (verdict == LaunchChannel::Verdict::ExecFailed)
        failure = exePath + QStringLiteral(" could not be executed: ") +
                  QString::fromLocal8Bit(std::strerror(channel.execError()));
    else if (verdict == LaunchChannel::Verdict::Vanished)
        failure = QStringLiteral("the console helper ended before it could execute the program");
    else if (!pidfd)
        failure = QStringLiteral("the new process cannot be held: ") +
                  QString::fromLocal8Bit(std::strerror(pidfdError));
    else if (neverRan)
        failure = QStringLiteral("the console ended before the program was executed");
    if (!failure.isEmpty()) {
        endSession(sessionId);
        return ServerProcess::failed(failure);
    }
    if (!channel.trampolineHasOpened())
        openHandOvers_.push_back(shared);
    // The program's own id, as the helper told it; until it has, the console's.
    pid_t programPid = consolePid;
    if (verdict == LaunchChannel::Verdict::Started)
        programPid = channel.programPid();
    else
        starting_[pidfd.get()] = Start{shared, 0};
    return ServerProcess{ProcessHandle(pidfd.release()), static_cast<std::int32_t>(programPid),
                         exePath};
}
