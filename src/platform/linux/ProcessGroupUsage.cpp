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

// The stat line of one process; empty when it has gone.
std::string_view ReadStat(int procFd, pid_t pid, char* buf, std::size_t size) {
    char path[32];
    std::snprintf(path, sizeof path, "%d/stat", static_cast<int>(pid));
    const UniqueFd fd(openat(procFd, path, O_RDONLY | O_CLOEXEC));
    if (!fd)
        return {};
    const ssize_t n = ::read(fd.get(), buf, size);
    return n > 0 ? std::string_view(buf, static_cast<std::size_t>(n)) : std::string_view();
}

// The resident memory its status file tells (the stat file's count may lag behind by what the
// kernel has not summed yet), in bytes; 0 when it has none or has gone.
std::int64_t ResidentBytes(int procFd, pid_t pid) {
    char path[32];
    std::snprintf(path, sizeof path, "%d/status", static_cast<int>(pid));
    const UniqueFd fd(openat(procFd, path, O_RDONLY | O_CLOEXEC));
    char buf[4096];
    const ssize_t n = fd ? ::read(fd.get(), buf, sizeof buf) : -1;
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
int OpenDescriptors(int procFd, pid_t pid) {
    char path[32];
    std::snprintf(path, sizeof path, "%d/fd", static_cast<int>(pid));
    const UniqueFd dir(openat(procFd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        return 0;
    alignas(8) char buf[8192];
    int count = 0;
    for (;;) {
        const long n = syscall(SYS_getdents64, dir.get(), buf, sizeof buf);
        if (n <= 0)
            break;
        for (long at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buf + at);
            if (entry->d_name[0] != '.')
                ++count;
            at += entry->d_reclen;
        }
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

void ProcessGroupUsage::add(pid_t pid, const ProcStat& stat, ServerUsage& usage) const {
    const unsigned long long ticks =
        stat.userTicks + stat.systemTicks + stat.childUserTicks + stat.childSystemTicks;
    usage.cpuMs += static_cast<std::int64_t>(ticks * 1000 / ticksPerSecond_);
    usage.residentBytes += ResidentBytes(proc_.get(), pid);
    usage.threads += static_cast<std::int32_t>(stat.threads);
    usage.openFiles += OpenDescriptors(proc_.get(), pid);
    ++usage.processes;
}

std::vector<ServerUsage> ProcessGroupUsage::read(const std::vector<pid_t>& leaders) {
    std::vector<ServerUsage> usage(leaders.size());
    if (!proc_)
        return usage;
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
        const ProcStat stat =
            pid > 0 ? ParseProcStat(ReadStat(proc_.get(), pid, buf, sizeof buf)) : ProcStat{};
        if (!stat.valid || Ended(stat))
            continue;
        groups[i] = Leader{pid, stat.processGroup == pid ? pid : 0, stat.session};
        usage[i].found = true;
        usage[i].uptimeMs = std::max<std::int64_t>(
            0, bootNowMs - static_cast<std::int64_t>(stat.startTicks * 1000 / ticksPerSecond_));
        add(pid, stat, usage[i]);
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
            const ProcStat stat = ParseProcStat(ReadStat(proc_.get(), pid, buf, sizeof buf));
            // One has ended or left: the members are looked for again.
            if (groups[i].group <= 0 || !stat.valid || Ended(stat) ||
                stat.processGroup != groups[i].group)
                return false;
            add(pid, stat, usage[i]);
        }
    }
    return true;
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
            const ProcStat stat = ParseProcStat(ReadStat(proc_.get(), pid, buf, sizeof buf));
            if (!stat.valid)
                return true;
            bool mayJoin = false;
            for (std::size_t i = 0; i < groups.size(); ++i) {
                if (groups[i].pid <= 0)
                    continue;
                // A session that this PID namespace cannot name (0) is taken as every process's.
                mayJoin = mayJoin || stat.session == groups[i].session;
                if (groups[i].group > 0 && stat.processGroup == groups[i].group && !Ended(stat)) {
                    add(pid, stat, usage[i]);
                    members[i].push_back(pid);
                }
            }
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
