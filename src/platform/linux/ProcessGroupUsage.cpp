#include "ProcessGroupUsage.h"

#include "ProcessLister.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <string_view>
#include <sys/syscall.h>

namespace {

// Reads file from its start into buf, opening it as pid's name when it is not open yet, or when
// it was and now fails: a file kept open for a process that has ended reads as gone, and the id
// may be another process's by now. What it read, or -1 with file closed when pid has gone.
ssize_t ReadFromStart(int procFd, pid_t pid, const char* name, UniqueFd& file, char* buf,
                      std::size_t size, int flags = 0) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!file) {
            char path[32];
            std::snprintf(path, sizeof path, "%d/%s", static_cast<int>(pid), name);
            file.reset(openat(procFd, path, O_RDONLY | O_CLOEXEC | flags));
            if (!file)
                return -1;
            attempt = 1; // just opened: a failure now is the process's end
        }
        const ssize_t n = (flags & O_DIRECTORY) != 0
                              ? (lseek(file.get(), 0, SEEK_SET) == 0
                                     ? syscall(SYS_getdents64, file.get(), buf, size)
                                     : -1)
                              : ::pread(file.get(), buf, size, 0);
        if (n >= 0 && (n > 0 || (flags & O_DIRECTORY) != 0))
            return n;
        file.reset();
    }
    return -1;
}

// The stat line of one process; empty when it has gone.
std::string_view ReadStat(int procFd, pid_t pid, UniqueFd& file, char* buf, std::size_t size) {
    const ssize_t n = ReadFromStart(procFd, pid, "stat", file, buf, size);
    return n > 0 ? std::string_view(buf, static_cast<std::size_t>(n)) : std::string_view();
}

// The resident memory its status file tells (the stat file's count may lag behind by what the
// kernel has not summed yet), in bytes; 0 when it has none or has gone.
std::int64_t ResidentBytes(int procFd, pid_t pid, UniqueFd& file) {
    char buf[4096];
    const ssize_t n = ReadFromStart(procFd, pid, "status", file, buf, sizeof buf);
    const std::string_view status(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    constexpr std::string_view kKey = "\nVmRSS:";
    std::size_t at = status.find(kKey);
    if (at == std::string_view::npos)
        return 0;
    at = status.find_first_not_of(" \t", at + kKey.size());
    std::int64_t kb = 0;
    if (at != std::string_view::npos)
        std::from_chars(status.data() + at, status.data() + status.size(), kb);
    return kb * 1024;
}

// How many descriptors the process holds open: the entries of its fd folder, listed without
// looking at any of them. 0 when the folder cannot be read (another user's process).
int OpenDescriptors(int procFd, pid_t pid, UniqueFd& folder) {
    alignas(8) char buf[8192];
    // /proc fills the buffer while entries are left: one that is not full by more than the
    // longest entry holds the last of them.
    constexpr long kLongestEntry = sizeof(dirent64) + 8;
    int count = 0;
    long n = ReadFromStart(procFd, pid, "fd", folder, buf, sizeof buf, O_DIRECTORY);
    while (n > 0) {
        for (long at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buf + at);
            if (entry->d_name[0] != '.')
                ++count;
            at += entry->d_reclen;
        }
        if (n + kLongestEntry <= static_cast<long>(sizeof buf))
            break;
        n = syscall(SYS_getdents64, folder.get(), buf, sizeof buf);
    }
    return count;
}

bool Ended(const ProcStat& stat) {
    return stat.state == 'Z' || stat.state == 'X';
}

std::int64_t BootClockMs() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

} // namespace

ProcessGroupUsage::ProcessGroupUsage()
    : proc_(open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
      ticksPerSecond_(std::max(sysconf(_SC_CLK_TCK), 1L)) {}

ProcessGroupUsage::ProcFiles& ProcessGroupUsage::filesOf(pid_t pid) {
    if (const auto kept = files_.find(pid); kept != files_.end())
        return kept->second;
    const auto last = lastFiles_.find(pid);
    if (last == lastFiles_.end())
        return files_[pid];
    ProcFiles& files = files_[pid] = std::move(last->second);
    lastFiles_.erase(last);
    return files;
}

void ProcessGroupUsage::add(pid_t pid, const ProcStat& stat, ProcFiles& files,
                            ServerUsage& usage) const {
    const unsigned long long ticks =
        stat.userTicks + stat.systemTicks + stat.childUserTicks + stat.childSystemTicks;
    usage.cpuMs += static_cast<std::int64_t>(ticks * 1000 / ticksPerSecond_);
    usage.residentBytes += ResidentBytes(proc_.get(), pid, files.status);
    usage.threads += static_cast<std::int32_t>(stat.threads);
    usage.openFiles += OpenDescriptors(proc_.get(), pid, files.descriptors);
    ++usage.processes;
    if (stat.state == 'T' || stat.state == 't')
        ++usage.stoppedProcesses;
}

std::vector<ServerUsage> ProcessGroupUsage::read(const std::vector<pid_t>& leaders) {
    std::vector<ServerUsage> usage(leaders.size());
    if (!proc_)
        return usage;
    // What is not read again by the end of this reading is closed then.
    files_.swap(lastFiles_);
    std::vector<ServerUsage> read = readAll(leaders, usage);
    lastFiles_.clear();
    return read;
}

std::vector<ServerUsage> ProcessGroupUsage::readAll(const std::vector<pid_t>& leaders,
                                                    std::vector<ServerUsage>& usage) {
    // Who is outside depends on whose sessions are looked at.
    if (leaders != lastLeaders_) {
        outsiders_.clear();
        lastLeaders_ = leaders;
        members_.assign(leaders.size(), {});
        readsToWalk_ = 0;
    }
    char buf[1024];
    std::vector<Leader> groups(leaders.size());
    const std::int64_t bootNowMs = BootClockMs();
    for (std::size_t i = 0; i < leaders.size(); ++i) {
        const pid_t pid = leaders[i];
        if (pid <= 0)
            continue;
        ProcFiles& files = filesOf(pid);
        const ProcStat stat =
            ParseProcStat(ReadStat(proc_.get(), pid, files.stat, buf, sizeof buf));
        if (!stat.valid || Ended(stat)) {
            files_.erase(pid); // an ended server's files are not held until its id changes
            continue;
        }
        groups[i] = Leader{pid, stat.processGroup == pid ? pid : 0, stat.session};
        usage[i].found = true;
        usage[i].uptimeMs = std::max<std::int64_t>(
            0, bootNowMs - static_cast<std::int64_t>(stat.startTicks * 1000 / ticksPerSecond_));
        add(pid, stat, files, usage[i]);
    }
    if (readsToWalk_ > 0) {
        std::vector<ServerUsage> withMembers = usage;
        if (readKnownMembers(groups, withMembers)) {
            --readsToWalk_;
            return withMembers;
        }
    }
    walk(groups, usage);
    return usage;
}

bool ProcessGroupUsage::readKnownMembers(const std::vector<Leader>& groups,
                                         std::vector<ServerUsage>& usage) {
    char buf[1024];
    for (std::size_t i = 0; i < groups.size(); ++i) {
        for (const pid_t pid : members_[i]) {
            if (groups[i].group <= 0)
                return false;
            ProcFiles& files = filesOf(pid);
            const ProcStat stat =
                ParseProcStat(ReadStat(proc_.get(), pid, files.stat, buf, sizeof buf));
            // One has ended or left: the members are looked for again.
            if (!stat.valid || Ended(stat))
                files_.erase(pid);
            if (!stat.valid || Ended(stat) || stat.processGroup != groups[i].group)
                return false;
            add(pid, stat, files, usage[i]);
        }
    }
    return true;
}

std::vector<pid_t> ProcessGroupUsage::knownProcesses(pid_t leader) const {
    std::vector<pid_t> known{leader};
    for (std::size_t i = 0; i < lastLeaders_.size() && i < members_.size(); ++i)
        if (lastLeaders_[i] == leader)
            known.insert(known.end(), members_[i].begin(), members_[i].end());
    return known;
}

void ProcessGroupUsage::walk(const std::vector<Leader>& groups, std::vector<ServerUsage>& usage) {
    std::vector<std::vector<pid_t>> members(groups.size());
    const bool anyGroup =
        std::any_of(groups.begin(), groups.end(), [](const Leader& g) { return g.group > 0; });
    std::unordered_map<pid_t, ino_t> outsiders;
    outsiders.reserve(outsiders_.size());
    char buf[1024];
    if (anyGroup) {
        VisitProcessIds([&](pid_t pid, ino_t inode) {
            if (const auto known = outsiders_.find(pid);
                known != outsiders_.end() && known->second == inode) {
                outsiders.emplace(pid, inode);
                return true;
            }
            if (std::any_of(groups.begin(), groups.end(),
                            [pid](const Leader& g) { return g.pid == pid; }))
                return true; // read already
            // A member's files are kept for the next reading; another's are closed at once.
            ProcFiles fresh;
            const bool kept = files_.count(pid) > 0 || lastFiles_.count(pid) > 0;
            ProcFiles& files = kept ? filesOf(pid) : fresh;
            const ProcStat stat =
                ParseProcStat(ReadStat(proc_.get(), pid, files.stat, buf, sizeof buf));
            bool mayJoin = false, member = false;
            for (std::size_t i = 0; i < groups.size(); ++i) {
                if (groups[i].pid <= 0)
                    continue;
                // A session that this PID namespace cannot name (0) is taken as every process's.
                mayJoin = mayJoin || stat.session == groups[i].session;
                if (stat.valid && groups[i].group > 0 && stat.processGroup == groups[i].group &&
                    !Ended(stat)) {
                    add(pid, stat, files, usage[i]);
                    members[i].push_back(pid);
                    member = true;
                }
            }
            if (member && !kept)
                files_.emplace(pid, std::move(fresh));
            else if (!member && kept)
                files_.erase(pid);
            if (!stat.valid)
                return true;
            if (!mayJoin)
                outsiders.emplace(pid, inode);
            return true;
        });
    }
    // While the members change (a server starting its processes), every reading walks the table;
    // once they stay, only every few readings, and when one of them ends.
    for (std::vector<pid_t>& found : members)
        std::sort(found.begin(), found.end());
    readsToWalk_ = members == members_ ? kReadsBetweenWalks : 0;
    members_ = std::move(members);
    outsiders_ = std::move(outsiders);
}
