#include "PrivateXServer.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kDisplayFd = 3; // where Xvfb finds the pipe on which to say its display number

// Reads one line from fd within the time limit.
std::string ReadLine(int fd, int timeoutMs) {
    std::string line;
    char c = 0;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, timeoutMs) > 0 && read(fd, &c, 1) == 1 && c != '\n')
        line.push_back(c);
    return line;
}

} // namespace

PrivateXServer::PrivateXServer() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], kDisplayFd);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string fd = std::to_string(kDisplayFd);
    char* argv[] = {const_cast<char*>("Xvfb"),         const_cast<char*>("-displayfd"),
                    const_cast<char*>(fd.c_str()),     const_cast<char*>("-noreset"),
                    const_cast<char*>("-nolisten"),    const_cast<char*>("tcp"),
                    const_cast<char*>("-screen"),      const_cast<char*>("0"),
                    const_cast<char*>("1280x1024x24"), nullptr};
    const int spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        pid_ = -1;
        close(fds[0]);
        return;
    }
    const std::string number = ReadLine(fds[0], kStartTimeoutMs);
    close(fds[0]);
    if (!number.empty())
        display_ = QStringLiteral(":") + QString::fromStdString(number);
}

PrivateXServer::~PrivateXServer() {
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
}
