#include "PeerProcess.h"

#include <QFile>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace peerprocess {

pid_t Spawn(const std::vector<std::string>& arguments, const QString& outputPath,
            const std::vector<std::string>& extraEnvironment) {
    if (arguments.empty())
        return -1;
    const QByteArray output = QFile::encodeName(outputPath);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.constData(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    // An extra variable replaces one of the same name, which a program might read first.
    const auto replaced = [&](const char* variable) {
        const std::string_view name(variable, std::strcspn(variable, "="));
        for (const std::string& extra : extraEnvironment)
            if (extra.size() > name.size() && extra.compare(0, name.size(), name) == 0 &&
                extra[name.size()] == '=')
                return true;
        return false;
    };
    std::vector<char*> envp;
    for (char** variable = environ; *variable != nullptr; ++variable)
        if (!replaced(*variable))
            envp.push_back(*variable);
    for (const std::string& variable : extraEnvironment)
        envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool Reaped(pid_t& pid) {
    if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == pid)
        pid = -1;
    return pid <= 0;
}

bool EndedWithin(pid_t& pid, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!Reaped(pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (pid <= 0)
        return true;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
    return false;
}

} // namespace peerprocess
