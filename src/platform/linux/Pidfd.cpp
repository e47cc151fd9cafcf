#include "Pidfd.h"

#include "UniqueFd.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The "Pid:" line of fd's fdinfo: its value, or nothing when the line is absent.
bool ReadFdinfoPid(int fd, pid_t& pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fdinfo/%d", fd);
    UniqueFd info(open(path, O_RDONLY | O_CLOEXEC));
    if (!info)
        return false;
    char buf[1024];
    const ssize_t n = read(info.get(), buf, sizeof buf - 1);
    if (n <= 0)
        return false;
    buf[n] = '\0';
    const char* line = std::strstr(buf, "\nPid:");
    if (line == nullptr)
        return false;
    pid = static_cast<pid_t>(std::strtol(line + 5, nullptr, 10));
    return true;
}

} // namespace

int OpenPidfd(pid_t pid) {
    if (pid <= 0)
        return -1;
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0)
        return -1;
    // pidfd_open always sets close-on-exec.
    return UniqueFd::AboveStandardStreams(fd).release();
}

pid_t PidOfPidfd(int fd) {
    pid_t pid = -1;
    if (fd < 0 || !ReadFdinfoPid(fd, pid) || pid <= 0)
        return -1;
    return pid;
}

bool PidfdProcessEnded(int fd) {
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    // A pidfd becomes readable when its process exits; an invalid descriptor counts as ended.
    return r != 0 || (p.revents & POLLNVAL) != 0;
}

void ClosePidfd(int fd) {
    pid_t pid;
    if (fd > 2 && ReadFdinfoPid(fd, pid))
        close(fd);
}
