#include "ProcessLister.h"

#include "UniqueFd.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

namespace {

constexpr std::string_view kDeletedMarker = " (deleted)";

bool IsPidName(const char* name) {
    if (*name == '\0')
        return false;
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return false;
    }
    return true;
}

// The stat line of one process; empty when it has gone.
std::string_view ReadStat(int procFd, const char* pid, char* buf, std::size_t size) {
    char path[32];
    std::snprintf(path, sizeof path, "%s/stat", pid);
    UniqueFd fd(openat(procFd, path, O_RDONLY | O_CLOEXEC));
    if (!fd)
        return {};
    const ssize_t n = read(fd.get(), buf, size);
    return n > 0 ? std::string_view(buf, static_cast<std::size_t>(n)) : std::string_view();
}

// Appends the entry of one process, or nothing when it is ended or gone.
void AppendProcess(int procFd, const char* pid, std::string& out) {
    char path[32];
    std::snprintf(path, sizeof path, "%s/exe", pid);
    char target[PATH_MAX];
    const ssize_t n = readlinkat(procFd, path, target, sizeof target);
    if (n > 0) {
        // A readable executable link means the process still has its memory: not a zombie.
        out.append(pid).push_back(':');
        out.append(ProgramNameOfExeLink(std::string_view(target, static_cast<std::size_t>(n))));
        out.push_back(',');
        return;
    }
    char buf[1024];
    const ProcStat stat = ParseProcStat(ReadStat(procFd, pid, buf, sizeof buf));
    if (!stat.valid)
        return;
    // A zombie leader whose other threads still run is a live process.
    if ((stat.state == 'Z' || stat.state == 'X') && stat.threads <= 1)
        return;
    out.append(pid).push_back(':');
    out.append(stat.shortName);
    out.push_back(',');
}

} // namespace

std::string_view ProgramNameOfExeLink(std::string_view target) {
    if (target.size() > kDeletedMarker.size() && target.ends_with(kDeletedMarker))
        target.remove_suffix(kDeletedMarker.size());
    const std::size_t slash = target.rfind('/');
    return slash == std::string_view::npos ? target : target.substr(slash + 1);
}

ProcStat ParseProcStat(std::string_view line) {
    // "pid (name) S ppid ..." - the name may itself hold spaces and parentheses, so it ends at
    // the last ')'.
    ProcStat stat;
    const std::size_t open = line.find('(');
    const std::size_t close = line.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open ||
        close + 2 >= line.size())
        return stat;
    stat.shortName = line.substr(open + 1, close - open - 1);
    stat.state = line[close + 2];
    // Thread count is field 20; the state is field 3.
    std::size_t pos = close + 2;
    for (int field = 3; field < 20; ++field) {
        pos = line.find(' ', pos);
        if (pos == std::string_view::npos)
            return stat;
        ++pos;
    }
    std::from_chars(line.data() + pos, line.data() + line.size(), stat.threads);
    stat.valid = true;
    return stat;
}

std::string ListRunningProcesses() {
    DIR* dir = opendir("/proc");
    if (dir == nullptr)
        return {};
    const int procFd = dirfd(dir);
    std::string out;
    out.reserve(64 * 1024);
    while (const dirent* entry = readdir(dir)) {
        if (IsPidName(entry->d_name))
            AppendProcess(procFd, entry->d_name, out);
    }
    closedir(dir);
    return out;
}
