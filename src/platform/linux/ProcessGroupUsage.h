#pragma once

#include "../ServerUsage.h"
#include "ProcessLister.h"
#include "UniqueFd.h"

#include <sys/types.h>
#include <unordered_map>
#include <vector>

// Reads what process groups use from /proc: for each leader, every live process of the group it
// leads (just the leader when it leads none), with one read of each member's stat and status files
// and one listing of its descriptors. A member's files stay open from one reading to the next,
// where they are read again from their start: a file of /proc/<pid> stays that process's, and
// reads as gone once it has ended, even when another process has its id by then. The table of
// processes is walked once for all leaders, at every reading while the groups' members change and
// at every fifth once they stay (a member that ends brings the next walk forward); a process seen
// outside every leader's session is not read again while it lives, as it can never join one of
// their groups.
class ProcessGroupUsage {
public:
    ProcessGroupUsage();

    // One reading for each leader, in order; not found for a leader that has ended or is <= 0.
    std::vector<ServerUsage> read(const std::vector<pid_t>& leaders);

    // The leader and the members of its group as the last reading found them: the leader alone
    // when none was read for it.
    std::vector<pid_t> knownProcesses(pid_t leader) const;

private:
    struct Leader {
        pid_t pid = 0;
        long group = 0;   // the group whose members count; 0: only the leader
        long session = 0; // its session: the only one its group's members can come from
    };
    // The files of one process, opened at its first reading.
    struct ProcFiles {
        UniqueFd stat;
        UniqueFd status;
        UniqueFd descriptors; // its fd folder
    };
    // The files of pid for this reading: those of the last reading, else none open yet.
    ProcFiles& filesOf(pid_t pid);
    // The reading, with the files of the last one in lastFiles_ to be taken again.
    std::vector<ServerUsage> readAll(const std::vector<pid_t>& leaders,
                                     std::vector<ServerUsage>& usage);
    // Adds the members found by the last walk to usage; false, with usage half done, when one of
    // them has ended or left its group.
    bool readKnownMembers(const std::vector<Leader>& groups, std::vector<ServerUsage>& usage);
    // Walks the process table for the groups' members and adds them to usage.
    void walk(const std::vector<Leader>& groups, std::vector<ServerUsage>& usage);
    // Adds the process of that stat line to usage, with its memory and descriptors.
    void add(pid_t pid, const ProcStat& stat, ProcFiles& files, ServerUsage& usage) const;

    UniqueFd proc_;
    // The files of the processes counted at this reading, and of those of the last reading that
    // have not been read again yet; those left there are closed when the reading ends.
    std::unordered_map<pid_t, ProcFiles> files_;
    std::unordered_map<pid_t, ProcFiles> lastFiles_;
    long ticksPerSecond_;
    std::vector<pid_t> lastLeaders_;
    // The processes outside the leaders' sessions at the last walk: id -> inode of its folder.
    std::unordered_map<pid_t, ino_t> outsiders_;
    // The members of each leader's group but the leader, as the last walk found them, in order.
    std::vector<std::vector<pid_t>> members_;
    // Readings left before the next walk; between walks, only the known members are read.
    static constexpr int kReadsBetweenWalks = 4;
    int readsToWalk_ = 0;
};
