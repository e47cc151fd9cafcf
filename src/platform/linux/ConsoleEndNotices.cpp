#include "ConsoleEndNotices.h"

#include "CommandRunner.h"
#include "HelperSpawn.h"
#include "Pidfd.h"
#include "UniqueFd.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

ConsoleEndNotices::ConsoleEndNotices(const LinuxBackendConfig& config)
    // Its clients only wait on the server: none preloads anything into it.
    : clientArgv_(TmuxClient::ClientArgv(config)), environment_(TmuxClient::ClientEnvironment()) {}

ConsoleEndNotices::~ConsoleEndNotices() {
    while (!waiters_.isEmpty())
        forget(waiters_.begin().key());
}

TmuxClient::Command ConsoleEndNotices::hookFor(const QString& name) {
    // Unique to this launcher and this console, so that no other hook wakes it.
    static unsigned serial = 0;
    const std::string channel =
        "corvane-ended-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
    channels_.insert(name, channel);
    const std::string wake = "wait-for -S " + channel;
    return {"set-hook", "-p", "-t", TmuxClient::PaneTarget(name), "pane-died", wake};
}

bool ConsoleEndNotices::watch(const QString& name, std::function<void()> onKnown) {
    const auto channel = channels_.constFind(name);
    if (channel == channels_.constEnd() || waiters_.contains(name))
        return false;
    std::vector<std::string> argv = clientArgv_;
    argv.emplace_back("wait-for");
    argv.push_back(*channel);
    const UniqueFd devNull(open("/dev/null", O_RDWR | O_CLOEXEC));
    const pid_t pid = devNull ? SpawnHelper(argv, environment_, devNull.get(), devNull.get()) : -1;
    if (pid < 0)
        return false;
    const Waiter waiter{pid, OpenPidfd(pid)};
    if (waiter.pidfd < 0 ||
        !endWatch_.watch(waiter.pidfd,
                         [this, name, onKnown = std::move(onKnown)] { ended(name, onKnown); })) {
        endClient(waiter, true);
        return false;
    }
    waiters_.insert(name, waiter);
    return true;
}

void ConsoleEndNotices::ended(const QString& name, const std::function<void()>& onKnown) {
    if (endWaiter(name, false) && onKnown)
        onKnown();
}

void ConsoleEndNotices::forget(const QString& name) {
    channels_.remove(name);
    endWaiter(name, true);
}

// Ends the console's waiting client, if it has one; false when it has none.
bool ConsoleEndNotices::endWaiter(const QString& name, bool kill) {
    const auto found = waiters_.constFind(name);
    if (found == waiters_.constEnd())
        return false;
    const Waiter waiter = *found;
    waiters_.erase(found);
    endWatch_.forget(waiter.pidfd);
    endClient(waiter, kill);
    return true;
}

// Reaps the client, killing it first if asked: it is our child, and no zombie is left.
void ConsoleEndNotices::endClient(const Waiter& waiter, bool kill) {
    if (kill && waiter.pidfd >= 0)
        syscall(SYS_pidfd_send_signal, waiter.pidfd, SIGKILL, nullptr, 0);
    else if (kill)
        ::kill(waiter.pid, SIGKILL);
    int status = 0;
    while (waitpid(waiter.pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (waiter.pidfd >= 0)
        ClosePidfd(waiter.pidfd);
}
