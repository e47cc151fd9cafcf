#pragma once

#include "../ServerUsage.h"
#include "ProcessLister.h"
#include "UniqueFd.h"

#include <sys/types.h>
#include <unordered_map>
#include <vector>

// Reads what process groups use from /proc: for each leader, every live process of the group it
// leads (just the leader when it leads none), with one read of each member's stat and status files
// and one listing of its descriptors. The table of processes is walked once for all leaders; a
// process seen outside every leader's session is not read again while it lives, as it can never
// join one of their groups, so that a reading costs about the groups' own processes, not the
// machine's.
class ProcessGroupUsage {
public:
    ProcessGroupUsage();

    // One reading for each leader, in order; not found for a leader that has ended or is <= 0.
    std::vector<ServerUsage> read(const std::vector<pid_t>& leaders);

private:
    struct Leader {
        pid_t pid = 0;
        long group = 0;   // the group whose members count; 0: only the leader
        long session = 0; // its session: the only one its group's members can come from
    };
    // Adds the process of that stat line to usage, with its memory and descriptors.
    void add(pid_t pid, const ProcStat& stat, ServerUsage& usage) const;

    UniqueFd proc_;
    long ticksPerSecond_;
    std::vector<pid_t> lastLeaders_;
    // The processes outside the leaders' sessions at the last reading: id -> inode of its folder.
    std::unordered_map<pid_t, ino_t> outsiders_;
};
