#include "ProcessLister.h"

#include "UniqueFd.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view kDeletedMarker = " (deleted)";
// The kernel keeps this many bytes of the name a program was started as.
constexpr std::size_t kKernelNameLength = 15;

// The start of one of the process's files (stat, comm); empty when it has gone.
std::string_view ReadProcFile(int procFd, const char* pid, const char* leaf, char* buf,
                              std::size_t size) {
    char path[48];
    std::snprintf(path, sizeof path, "%s/%s", pid, leaf);
    UniqueFd fd(openat(procFd, path, O_RDONLY | O_CLOEXEC));
    if (!fd)
        return {};
    const ssize_t n = read(fd.get(), buf, size);
    return n > 0 ? std::string_view(buf, static_cast<std::size_t>(n)) : std::string_view();
}

// The target of one of the process's links (exe, cwd); empty when it cannot be read.
std::string_view ReadProcLink(int procFd, const char* pid, const char* leaf, char* buf,
                              std::size_t size) {
    char path[48];
    std::snprintf(path, sizeof path, "%s/%s", pid, leaf);
    const ssize_t n = readlinkat(procFd, path, buf, size);
    return n > 0 ? std::string_view(buf, static_cast<std::size_t>(n)) : std::string_view();
}

// True when path names a file directly inside folder.
bool LiesDirectlyIn(std::string_view path, std::string_view folder) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return false;
    return slash == 0 ? folder == "/" : path.substr(0, slash) == folder;
}

// Visits one process, or nothing when it is ended, gone or not of the installation. Returns what
// visit returned, true when it was not called.
bool VisitProcess(int procFd, const char* pid, const std::string& folder, const char* self,
                  const std::function<bool(const ListedProcess&)>& visit) {
    // The launcher is a process of its installation whatever its folders: so the list of an
    // installation is empty only when /proc cannot be read.
    const bool filtered = !folder.empty() && std::strcmp(pid, self) != 0;
    if (filtered) {
        struct stat st;
        if (fstatat(procFd, pid, &st, 0) != 0 || st.st_uid != geteuid())
            return true;
    }
    char target[PATH_MAX];
    const std::string_view exe = ReadProcLink(procFd, pid, "exe", target, sizeof target);
    std::string_view exeName;
    char statBuf[1024];
    if (!exe.empty()) {
        // A readable executable link means the process still has its memory: not a zombie.
        exeName = ProgramNameOfExeLink(exe);
    } else {
        const ProcStat stat =
            ParseProcStat(ReadProcFile(procFd, pid, "stat", statBuf, sizeof statBuf));
        if (!stat.valid)
            return true;
        // A zombie leader whose other threads still run is a live process.
        if ((stat.state == 'Z' || stat.state == 'X') && stat.threads <= 1)
            return true;
        exeName = stat.shortName;
    }
    if (filtered && (exe.empty() || !LiesDirectlyIn(ExeLinkPath(exe), folder))) {
        char cwd[PATH_MAX];
        if (ReadProcLink(procFd, pid, "cwd", cwd, sizeof cwd) != folder)
            return true;
    }
    char commBuf[64];
    std::string_view comm = ReadProcFile(procFd, pid, "comm", commBuf, sizeof commBuf);
    if (comm.ends_with('\n'))
        comm.remove_suffix(1);
    return visit(ListedProcess{pid, exeName, comm});
}

void AppendEntry(std::string& out, std::string_view pid, std::string_view name) {
    out.append(pid).push_back(':');
    out.append(name);
    out.push_back(',');
}

} // namespace

bool VisitRunningProcesses(const std::string& installationFolder,
                           const std::function<bool(const ListedProcess&)>& visit) {
    const UniqueFd procFd(open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!procFd)
        return false;
    char self[16];
    std::snprintf(self, sizeof self, "%d", static_cast<int>(getpid()));
    return VisitProcessIds([&](pid_t pid, ino_t) {
        char name[16];
        std::snprintf(name, sizeof name, "%d", static_cast<int>(pid));
        return VisitProcess(procFd.get(), name, installationFolder, self, visit);
    });
}

bool VisitProcessIds(const std::function<bool(pid_t pid, ino_t inode)>& visit) {
    DIR* dir = opendir("/proc");
    if (dir == nullptr)
        return false;
    while (const dirent* entry = readdir(dir)) {
        pid_t pid = 0;
        const std::string_view name(entry->d_name);
        const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (ec == std::errc() && end == name.data() + name.size() && pid > 0 &&
            !visit(pid, entry->d_ino))
            break;
    }
    closedir(dir);
    return true;
}

std::string ListRunningProcesses(const std::string& installationFolder) {
    std::string out;
    out.reserve(64 * 1024);
    VisitRunningProcesses(installationFolder, [&out](const ListedProcess& process) {
        AppendEntry(out, process.pid, process.exeName);
        const std::string_view shortExe = process.exeName.substr(0, kKernelNameLength);
        if (!process.kernelName.empty() && process.kernelName != shortExe)
            AppendEntry(out, process.pid, process.kernelName);
        return true;
    });
    return out;
}

bool RunsProgram(const ListedProcess& process, std::string_view programName) {
    if (programName.empty())
        return false;
    return process.exeName == programName ||
           process.kernelName == programName.substr(0, kKernelNameLength);
}

std::string_view ExeLinkPath(std::string_view target) {
    if (target.size() > kDeletedMarker.size() && target.ends_with(kDeletedMarker))
        target.remove_suffix(kDeletedMarker.size());
    return target;
}

std::string ExeLinkOf(pid_t pid) {
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%d/exe", static_cast<int>(pid));
    char target[PATH_MAX];
    const ssize_t n = readlink(path, target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

std::string_view ProgramNameOfExeLink(std::string_view target) {
    target = ExeLinkPath(target);
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
    // Counted from 1 on, the state is field 3, the parent, process group and session are fields
    // 4 to 6, the CPU times 14 to 17, the thread count 20, the start time 22.
    constexpr int kLastField = 22;
    std::array<const char*, kLastField + 1> starts{};
    std::size_t pos = close + 2;
    int fields = 3;
    while (fields < kLastField && (pos = line.find(' ', pos)) != std::string_view::npos)
        starts[++fields] = line.data() + ++pos;
    if (fields < 20)
        return stat;
    const char* const end = line.data() + line.size();
    const auto read = [&](int field, auto& value) {
        if (field <= fields)
            std::from_chars(starts[field], end, value);
    };
    read(4, stat.parent);
    read(5, stat.processGroup);
    read(6, stat.session);
    read(14, stat.userTicks);
    read(15, stat.systemTicks);
    read(16, stat.childUserTicks);
    read(17, stat.childSystemTicks);
    read(20, stat.threads);
    read(22, stat.startTicks);
    stat.valid = true;
    return stat;
}
