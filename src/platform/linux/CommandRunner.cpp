#include "CommandRunner.h"

#include "HelperSpawn.h"
#include "UniqueFd.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using SteadyClock = std::chrono::steady_clock;

// Reads the pipe until end-of-file or the deadline; false on timeout.
bool ReadUntilEnd(int fd, std::string& out, SteadyClock::time_point deadline) {
    char buf[16384];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, static_cast<int>(left.count()) + 1);
    }
}

int WaitForExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

CommandResult RunCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, int timeoutMs) {
    CommandResult result;
    if (argv.empty())
        return result;

    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return result;
    // Keep both ends clear of 0..2 so that the dup2 onto standard output cannot collide.
    UniqueFd readEnd = UniqueFd::AboveStandardStreams(fds[0]);
    UniqueFd writeEnd = UniqueFd::AboveStandardStreams(fds[1]);
    if (!readEnd || !writeEnd)
        return result;
    // The child's end must block: a program writing into a non-blocking pipe may lose output.
    fcntl(writeEnd.get(), F_SETFL, 0);

    const UniqueFd noInput =
        UniqueFd::AboveStandardStreams(open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!noInput)
        return result;
    const pid_t pid = SpawnHelper(argv, environment, noInput.get(), writeEnd.get());
    if (pid < 0)
        return result;
    result.started = true;
    writeEnd.reset();

    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    if (!ReadUntilEnd(readEnd.get(), result.output, deadline)) {
        result.timedOut = true;
        kill(pid, SIGKILL);
    }
    result.exitCode = WaitForExit(pid);
    return result;
}

std::vector<std::string> CurrentEnvironmentWithout(const std::vector<std::string>& names) {
    std::vector<std::string> entries;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        bool drop = false;
        for (const std::string& name : names) {
            if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
                entry[name.size()] == '=')
                drop = true;
        }
        if (!drop)
            entries.push_back(entry);
    }
    return entries;
}
