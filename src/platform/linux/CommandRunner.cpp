#include "CommandRunner.h"

#include "UniqueFd.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using SteadyClock = std::chrono::steady_clock;

// RAII for the spawn attribute and file action objects.
struct SpawnSetup {
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    SpawnSetup() {
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

bool PrepareSpawn(SpawnSetup& s, int stdoutFd) {
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    bool ok =
        posix_spawnattr_setsigmask(&s.attr, &none) == 0 &&
        posix_spawnattr_setsigdefault(&s.attr, &all) == 0 &&
        posix_spawnattr_setflags(&s.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
    ok = ok && posix_spawn_file_actions_addopen(&s.actions, 0, "/dev/null", O_RDONLY, 0) == 0;
    ok = ok && posix_spawn_file_actions_adddup2(&s.actions, stdoutFd, 1) == 0;
    ok = ok && posix_spawn_file_actions_addopen(&s.actions, 2, "/dev/null", O_WRONLY, 0) == 0;
    ok = ok && posix_spawn_file_actions_addclosefrom_np(&s.actions, 3) == 0;
    return ok;
}

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

    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (const std::string& e : environment)
        env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);

    SpawnSetup setup;
    if (!PrepareSpawn(setup, writeEnd.get()))
        return result;
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &setup.actions, &setup.attr, args.data(), env.data()) != 0)
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
