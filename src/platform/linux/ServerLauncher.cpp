#include "ServerLauncher.h"

#include "LaunchChannel.h"
#include "Pidfd.h"

#include <QFile>
#include <cerrno>
#include <charconv>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Size of each console; output wider than this wraps and is joined again on capture.
constexpr const char* kConsoleColumns = "200";
constexpr const char* kConsoleRows = "50";

bool IsExecutableFile(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           access(path.c_str(), X_OK) == 0;
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

ServerLauncher::ServerLauncher(const LinuxBackendConfig& config) : config_(config), tmux_(config) {}

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

ServerProcess ServerLauncher::launch(const QString& exePath, const QString& title) const {
    const std::string path = QFile::encodeName(exePath).toStdString();
    const std::string trampoline = QFile::encodeName(config_.trampolinePath).toStdString();
    if (!TmuxClient::IsExactTitle(title) || !IsExecutableFile(path) ||
        !IsExecutableFile(trampoline))
        return ServerProcess::failed();

    const std::string current = CurrentFolder();
    LaunchChannel channel;
    if (!channel.open(CurrentEnvironmentWithout({"TMUX", "TMUX_PANE"})))
        return ServerProcess::failed();

    const CommandResult created = tmux_.Run({
        {"set-option", "-g", "history-limit", std::to_string(config_.historyLimit)},
        {"new-session", "-d", "-s", TmuxClient::FormatLiteral(title.toStdString()), "-c",
         TmuxClient::FormatLiteral(WorkingFolderOf(path, current)), "-x", kConsoleColumns, "-y",
         kConsoleRows, "-P", "-F", "#{pane_pid} #{session_id} #{session_name}", "--", trampoline,
         channel.folder(), AbsolutePathOf(path, current)},
    });
    if (!created.succeeded())
        return ServerProcess::failed();
    NewSession session;
    if (!ParseNewSession(created.output, session)) {
        // tmux made the console but its answer makes no sense: the title is ours, end it.
        endSession(TmuxClient::SessionTarget(title));
        return ServerProcess::failed();
    }
    if (session.name != title.toStdString()) {
        endSession(session.id);
        return ServerProcess::failed();
    }

    // Take hold of the process before the trampoline may execute the program, so the pidfd
    // names this very process however quickly the program ends.
    UniqueFd pidfd(OpenPidfd(session.pid));
    channel.release();
    const LaunchChannel::Verdict verdict = channel.awaitVerdict(config_.execVerdictWaitMs);
    const bool gone = !pidfd || PidfdProcessEnded(pidfd.get());
    bool failed = verdict == LaunchChannel::Verdict::ExecFailed ||
                  verdict == LaunchChannel::Verdict::Vanished || !pidfd;
    if (verdict == LaunchChannel::Verdict::NoAnswer && gone) {
        // The console ended without the trampoline ever reporting: it never ran.
        channel.reclaimFolder();
        failed = true;
    }
    if (failed) {
        endSession(session.id);
        return ServerProcess::failed();
    }
    return ServerProcess{ProcessHandle(pidfd.release()), static_cast<std::int32_t>(session.pid),
                         exePath};
}
