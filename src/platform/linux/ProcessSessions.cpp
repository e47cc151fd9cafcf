#include "ProcessSessions.h"

#include "ProcessLister.h"
#include "TrampolineProtocol.h"
#include "UniqueFd.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads a small /proc file of pid into buf; what was read.
std::string_view ReadProc(pid_t pid, const char* file, char* buf, std::size_t size) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/%s", static_cast<int>(pid), file);
    UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC));
    if (!fd)
        return {};
    const ssize_t n = read(fd.get(), buf, size);
    return n > 0 ? std::string_view(buf, static_cast<std::size_t>(n)) : std::string_view();
}

} // namespace

std::vector<pid_t> SessionOf(pid_t pid) {
    char buf[1024];
    const ProcStat leader = ParseProcStat(ReadProc(pid, "stat", buf, sizeof buf));
    if (!leader.valid || leader.session != pid)
        return {pid};
    std::vector<pid_t> members;
    VisitProcessIds([&](pid_t other, ino_t) {
        const ProcStat stat = ParseProcStat(ReadProc(other, "stat", buf, sizeof buf));
        if (stat.valid && stat.session == pid && stat.state != 'Z' && stat.state != 'X')
            members.push_back(other);
        return true;
    });
    return members;
}

pid_t FirstChildOf(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "task/%d/children", static_cast<int>(pid));
    char buf[256];
    const std::string_view children = ReadProc(pid, path, buf, sizeof buf - 1);
    pid_t child = -1;
    std::from_chars(children.data(), children.data() + children.size(), child);
    return child > 0 ? child : -1;
}

pid_t FindConsoleHelper(const std::string& helperPath, const std::string& programPath) {
    char helper[PATH_MAX];
    if (realpath(helperPath.c_str(), helper) == nullptr)
        return -1;
    const uid_t me = getuid();
    pid_t found = -1;
    VisitProcessIds([&](pid_t pid, ino_t) {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%d", static_cast<int>(pid));
        struct stat st;
        if (stat(path, &st) != 0 || st.st_uid != me || ExeLinkOf(pid) != helper)
            return true;
        // Its command line: the helper, the hand-over folder, the program.
        char args[2 * PATH_MAX + 64];
        const std::string_view line = ReadProc(pid, "cmdline", args, sizeof args);
        const std::size_t first = line.find('\0');
        const std::size_t second =
            first == std::string_view::npos ? first : line.find('\0', first + 1);
        if (second == std::string_view::npos)
            return true;
        const std::string_view program(programPath.c_str(), programPath.size() + 1);
        const std::string_view rest = line.substr(second + 1);
        if (rest == program)
            found = pid;
        // A console made ready for a relaunch runs the server only once it was told to go: until
        // then its helper has no child, and it is no running server.
        else if (rest.starts_with(program) &&
                 rest.substr(program.size()) ==
                     std::string_view(corvane::trampoline::kReadyWord,
                                      std::strlen(corvane::trampoline::kReadyWord) + 1) &&
                 FirstChildOf(pid) > 0)
            found = pid;
        return found < 0;
    });
    return found;
}
