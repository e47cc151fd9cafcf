// corvane-exec: runs one server program inside the console that tmux made for it.
//
// tmux runs its command without a shell only when given two or more words, so the launcher
// always starts this program, which replaces itself with the server program: no shell ever sees
// the path. See TrampolineProtocol.h for the hand-over with the launcher.

#include "../TrampolineProtocol.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace proto = corvane::trampoline;

// Variables that describe the console the program really runs in; the console's own values win
// over the launcher's.
constexpr const char* kConsoleVariables[] = {"TERM", "TMUX", "TMUX_PANE"};

bool IsConsoleVariable(const std::string& entry) {
    for (const char* name : kConsoleVariables) {
        const std::size_t len = std::strlen(name);
        if (entry.size() > len && entry.compare(0, len, name) == 0 && entry[len] == '=')
            return true;
    }
    return false;
}

// Reads the launcher's environment file; false when it cannot be read.
bool ReadEnvironment(const std::string& path, std::vector<std::string>& entries) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string data;
    char buf[8192];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) != 0) {
        if (n < 0) {
            if (errno == EINTR)
                continue;
            close(fd);
            return false;
        }
        data.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\0', start);
        if (end == std::string::npos)
            end = data.size();
        std::string entry = data.substr(start, end - start);
        if (entry.find('=') != std::string::npos && !IsConsoleVariable(entry))
            entries.push_back(std::move(entry));
        start = end + 1;
    }
    return true;
}

// The launcher's environment, with the console's own description of itself.
std::vector<std::string> ProgramEnvironment(const std::string& folder) {
    std::vector<std::string> entries;
    if (!ReadEnvironment(folder + "/" + proto::kEnvironFile, entries)) {
        // The launcher gave up on us; what tmux handed down is the best we have.
        for (char** e = environ; *e != nullptr; ++e)
            entries.emplace_back(*e);
        return entries;
    }
    for (const char* name : kConsoleVariables) {
        if (const char* value = getenv(name))
            entries.push_back(std::string(name) + "=" + value);
    }
    return entries;
}

void WriteAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (fd >= 0 && size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

// Blocks until the launcher says "go", closes its end, or the time runs out.
void AwaitGo(int fd) {
    if (fd < 0)
        return;
    for (;;) {
        char byte;
        const ssize_t n = read(fd, &byte, 1);
        if (n >= 0)
            return; // a byte, or end-of-file: no launcher left to wait for
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return;
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, proto::kGoTimeoutMs);
        if (r == 0 || (r < 0 && errno != EINTR))
            return;
    }
}

void RemoveFolder(const std::string& folder) {
    unlink((folder + "/" + proto::kEnvironFile).c_str());
    unlink((folder + "/" + proto::kReportFifo).c_str());
    unlink((folder + "/" + proto::kGoFifo).c_str());
    rmdir(folder.c_str());
}

// The program starts as from a fresh terminal: no signal ignored or blocked (tmux leaves some
// ignored in its panes, and we ignore SIGPIPE ourselves).
void ResetSignals() {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig)
        sigaction(sig, &dfl, nullptr); // fails harmlessly for SIGKILL, SIGSTOP and unused numbers
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: corvane-exec <launch-folder> <program>\n");
        return 127;
    }
    const std::string folder = argv[1];
    char* const program = argv[2];

    // A launcher that stopped listening must not kill us with SIGPIPE when we report.
    std::signal(SIGPIPE, SIG_IGN);

    // Non-blocking opens: a launcher that has already gone away must not hold us up.
    const int report =
        open((folder + "/" + proto::kReportFifo).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    const int go = open((folder + "/" + proto::kGoFifo).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const std::vector<std::string> entries = ProgramEnvironment(folder);
    RemoveFolder(folder);

    std::vector<char*> envp;
    envp.reserve(entries.size() + 1);
    for (const std::string& e : entries)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    WriteAll(report, &proto::kReadyByte, 1);
    AwaitGo(go);
    if (go >= 0)
        close(go);

    ResetSignals();
    char* const programArgv[] = {program, nullptr};
    execve(program, programArgv, envp.data());

    const int error = errno;
    char message[1 + sizeof error];
    message[0] = proto::kFailedByte;
    std::memcpy(message + 1, &error, sizeof error);
    WriteAll(report, message, sizeof message);
    std::fprintf(stderr, "corvane-exec: cannot run %s: %s\n", program, std::strerror(error));
    return 127;
}
