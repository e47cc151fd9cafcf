// corvane-exec: runs one server program inside the console that tmux made for it.
//
// tmux runs its command without a shell only when given two or more words, so the launcher
// always starts this program, which executes the server program directly: no shell ever sees the
// path. It stays in the console as the session's first process, holding it for as long as any
// process of the server runs. See TrampolineProtocol.h for the hand-over with the launcher.

#include "../TrampolineProtocol.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// The hand-over folder, opened once and proven to be the launcher's: a real folder (not a link)
// that belongs to the operator (our real user) and that nobody else may enter. Its name is seen
// by every user in tmux's command line, so another user may have made one of that name first.
int OpenTrustedFolder(const char* path) {
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & 07777) != 0700) {
        close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

// Opens an entry of the trusted folder, never through a link, and only when it is of the
// expected kind, belongs to the operator and is closed to everybody else.
int OpenEntry(int folder, const char* name, int flags, mode_t kind) {
    const int fd = openat(folder, name, flags | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || (st.st_mode & S_IFMT) != kind || st.st_uid != getuid() ||
        (st.st_mode & 077) != 0) {
        close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

// Reads a file of NUL-terminated entries; false when it cannot be read.
bool ReadEntries(int fd, std::vector<std::string>& entries) {
    std::string data;
    char buf[8192];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) != 0) {
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.append(buf, static_cast<std::size_t>(n));
    }
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\0', start);
        if (end == std::string::npos)
            end = data.size();
        entries.push_back(data.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

// Reads the launcher's environment file; false when it cannot be read.
bool ReadEnvironment(int fd, std::vector<std::string>& entries) {
    std::vector<std::string> given;
    if (!ReadEntries(fd, given))
        return false;
    for (std::string& entry : given)
        if (entry.find('=') != std::string::npos && !IsConsoleVariable(entry))
            entries.push_back(std::move(entry));
    // The console's own description of itself.
    for (const char* name : kConsoleVariables) {
        if (const char* value = getenv(name))
            entries.push_back(std::string(name) + "=" + value);
    }
    return true;
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

// Blocks until the launcher says "go"; false when it closes its end or says nothing within
// timeoutMs (-1: no limit), which means it gave up on this launch.
bool AwaitGo(int fd, int timeoutMs) {
    for (;;) {
        char byte;
        const ssize_t n = read(fd, &byte, 1);
        if (n > 0)
            return byte == proto::kGoByte;
        if (n == 0)
            return false;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return false;
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, timeoutMs);
        if (r == 0 || (r < 0 && errno != EINTR))
            return false;
    }
}

void RemoveFolder(int folder, const char* path) {
    unlinkat(folder, proto::kEnvironFile, 0);
    unlinkat(folder, proto::kArgvFile, 0);
    unlinkat(folder, proto::kReportFifo, 0);
    unlinkat(folder, proto::kGoFifo, 0);
    rmdir(path);
}

// Set when the console hung up (the kernel's SIGHUP: tmux closed the console, or its server is
// gone); a SIGHUP that somebody sent is a close request, which reached the whole group anyway.
volatile sig_atomic_t gHungUp = 0;

void OnHangUp(int, siginfo_t* info, void*) {
    if (info->si_code == SI_KERNEL)
        gHungUp = 1;
}

// The close requests reach the console's whole process group; they are the server's to act on.
// A hang-up of the console reaches only us, the session's leader: as a terminal's shell does, we
// pass it on to the server (see AwaitEveryProcess).
void IgnoreCloseRequests() {
    for (const int sig : {SIGTERM, SIGINT, SIGQUIT})
        std::signal(sig, SIG_IGN);
    struct sigaction hangUp {};
    hangUp.sa_sigaction = OnHangUp;
    hangUp.sa_flags = SA_SIGINFO; // no SA_RESTART: the wait below wakes for it
    sigemptyset(&hangUp.sa_mask);
    sigaction(SIGHUP, &hangUp, nullptr);
}

// Runs the program as a child of ours, as from a fresh terminal: no signal ignored or blocked
// (tmux leaves some ignored in its panes, and we ignore a few ourselves). posix_spawn, not fork:
// the child shares our memory until it has executed the program, so no page table is copied.
// Its process id once it has been executed; -1 with the errno of the failed execution in *error
// otherwise.
pid_t StartProgram(char* program, std::vector<std::string>& arguments, char* const envp[],
                   int* error) {
    std::vector<char*> programArgv{program};
    for (std::string& argument : arguments)
        programArgv.push_back(argument.data());
    programArgv.push_back(nullptr);
    posix_spawnattr_t attr;
    if ((*error = posix_spawnattr_init(&attr)) != 0)
        return -1;
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    pid_t child = -1;
    *error = posix_spawnattr_setsigdefault(&attr, &all);
    if (*error == 0)
        *error = posix_spawnattr_setsigmask(&attr, &none);
    if (*error == 0)
        *error = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    // glibc reports a failed execution here, with its errno.
    if (*error == 0)
        *error = posix_spawn(&child, program, nullptr, &attr, programArgv.data(), envp);
    posix_spawnattr_destroy(&attr);
    return *error == 0 ? child : -1;
}

// Waits for every process of the server: the program, and whatever it left behind, which comes
// to us as the subreaper. The program's own wait status.
int AwaitEveryProcess(pid_t program) {
    int programStatus = 0;
    for (;;) {
        int status = 0;
        const pid_t ended = waitpid(-1, &status, 0);
        if (ended < 0) {
            if (errno != EINTR)
                return programStatus; // ECHILD: nothing of the server is left
            if (gHungUp) {
                gHungUp = 0;
                kill(-getpgrp(), SIGHUP); // reaches us too, as a sent one: no loop
            }
            continue;
        }
        if (ended == program)
            programStatus = status;
    }
}

// Ends as the program ended, so that the console tells the same: its exit status, or its signal.
[[noreturn]] void EndAs(int status) {
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore); // the program has dumped its own core, if any
        std::signal(sig, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, sig);
        sigprocmask(SIG_UNBLOCK, &only, nullptr);
        kill(getpid(), sig);
        _exit(128 + sig); // a signal whose default is not to end: end with the shell's number
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

} // namespace

int main(int argc, char** argv) {
    // A console made ready ahead of a relaunch waits for its go as long as the launcher holds the
    // hand-over open, and ends without a word when it is closed: its console is never seen.
    const bool ready = argc == 4 && std::strcmp(argv[3], proto::kReadyWord) == 0;
    if (argc != 3 && !ready) {
        std::fprintf(stderr, "usage: corvane-exec <launch-folder> <program> [%s]\n",
                     proto::kReadyWord);
        return 127;
    }
    const char* folderPath = argv[1];
    char* const program = argv[2];

    // A launcher that stopped listening must not kill us with SIGPIPE when we report.
    std::signal(SIGPIPE, SIG_IGN);

    // Nothing runs unless every part of the hand-over is the launcher's own.
    const int folder = OpenTrustedFolder(folderPath);
    if (folder < 0) {
        std::fprintf(stderr, "corvane-exec: %s is not the launcher's private folder: %s\n",
                     folderPath, std::strerror(errno));
        return 126;
    }
    // Non-blocking opens: a launcher that has already gone away must not hold us up.
    const int report = OpenEntry(folder, proto::kReportFifo, O_WRONLY | O_NONBLOCK, S_IFIFO);
    const int go = OpenEntry(folder, proto::kGoFifo, O_RDONLY | O_NONBLOCK, S_IFIFO);
    const int environFile = OpenEntry(folder, proto::kEnvironFile, O_RDONLY, S_IFREG);
    const int argvFile = OpenEntry(folder, proto::kArgvFile, O_RDONLY, S_IFREG);
    std::vector<std::string> entries, arguments;
    const bool handedOver = report >= 0 && go >= 0 && environFile >= 0 && argvFile >= 0 &&
                            ReadEnvironment(environFile, entries) &&
                            ReadEntries(argvFile, arguments);
    RemoveFolder(folder, folderPath);
    close(folder);
    if (!handedOver) {
        std::fprintf(stderr,
                     "corvane-exec: the hand-over in %s is incomplete or not the "
                     "launcher's\n",
                     folderPath);
        return 126;
    }
    close(environFile);
    close(argvFile);

    std::vector<char*> envp;
    envp.reserve(entries.size() + 1);
    for (const std::string& e : entries)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    WriteAll(report, &proto::kReadyByte, 1);
    const bool goOn = AwaitGo(go, ready ? -1 : proto::kGoTimeoutMs);
    close(go);
    if (!goOn && ready)
        return 126;
    if (!goOn) {
        std::fprintf(stderr, "corvane-exec: the launcher gave up on starting %s\n", program);
        return 126;
    }

    // From here on the console is held until nothing of the server is left: what the program
    // leaves behind comes to us, and a close request is the server's business, not ours.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    IgnoreCloseRequests();
    int error = 0;
    const pid_t child = StartProgram(program, arguments, envp.data(), &error);
    if (child < 0) {
        char message[1 + sizeof error];
        message[0] = proto::kFailedByte;
        std::memcpy(message + 1, &error, sizeof error);
        WriteAll(report, message, sizeof message);
        std::fprintf(stderr, "corvane-exec: cannot run %s: %s\n", program, std::strerror(error));
        return 127;
    }
    char message[1 + sizeof child];
    message[0] = proto::kStartedByte;
    std::memcpy(message + 1, &child, sizeof child);
    WriteAll(report, message, sizeof message);
    close(report);
    EndAs(AwaitEveryProcess(child));
}
