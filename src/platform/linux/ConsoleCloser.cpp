#include "ConsoleCloser.h"

#include "ConsoleInput.h"
#include "Pidfd.h"
#include "UniqueFd.h"

#include <charconv>
#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The process that runs in the console, as tmux tells it; -1 when there is none.
pid_t ConsoleProcess(const TmuxClient& tmux, const QString& title) {
    const auto ask = [&] {
        return tmux.Run(
            {{"display-message", "-p", "-t", TmuxClient::PaneTarget(title), "#{pane_pid}"}});
    };
    CommandResult answer = ask();
    // The first command of a freshly started tmux client now and then comes back empty; asking
    // once more costs a millisecond and spares a server the loss of its close request.
    if (answer.succeeded() && answer.output.empty())
        answer = ask();
    if (!answer.succeeded())
        return -1;
    pid_t pid = -1;
    const std::string& text = answer.output;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), pid);
    const bool whole = end == text.data() + text.size() || *end == '\n';
    return ec == std::errc() && whole && pid > 0 ? pid : -1;
}

bool SendSignal(const TmuxClient& tmux, const QString& title, int signal) {
    const pid_t pid = ConsoleProcess(tmux, title);
    // Held by a pidfd from here on, so the id cannot name another process meanwhile.
    const UniqueFd pidfd(OpenPidfd(pid));
    if (!pidfd || PidfdProcessEnded(pidfd.get()))
        return false;
    // The console's process leads its own process group (tmux made it a session leader), as the
    // foreground job of a terminal that Ctrl-C reaches; otherwise only the process is asked.
    if (getpgid(pid) == pid && kill(-pid, signal) == 0)
        return true;
    return syscall(SYS_pidfd_send_signal, pidfd.get(), signal, nullptr, 0) == 0;
}

} // namespace

bool DeliverCloseRequest(const TmuxClient& tmux, const QString& title,
                         const CloseRequest& request) {
    if (!TmuxClient::IsExactTitle(title))
        return false;
    if (request.signal != 0)
        return SendSignal(tmux, title, request.signal);
    return TypeConsoleLine(tmux, title, request.consoleInput);
}
