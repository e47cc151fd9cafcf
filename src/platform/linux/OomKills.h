// The kernel's count of out-of-memory kills in the memory cgroup a process runs in, so that a
// server killed for want of memory is told apart from one killed by somebody's kill -9.
#pragma once

#include <string>
#include <sys/types.h>

struct MemoryCgroup {
    std::string folder;   // empty when the process's memory cgroup could not be found
    bool unified = false; // cgroup v2 (memory.events), else the v1 memory controller
};

// The memory cgroup the process runs in, as the process's /proc/<pid>/cgroup and this process's
// mount table tell it.
MemoryCgroup MemoryCgroupOf(pid_t pid);

// How many processes of the group the kernel has killed for want of memory so far (v2 counts its
// subgroups too); -1 when that cannot be read.
long long OomKillsIn(const MemoryCgroup& group);
