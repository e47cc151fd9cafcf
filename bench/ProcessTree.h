#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// The processes /proc lists, with their parents and kernel names: for the CPU a supervisor spends
// in itself and in the helpers it runs, apart from the servers it looks after.
namespace proctree {

struct Process {
    pid_t pid = 0;
    pid_t parent = 0;
    std::string name; // the kernel's name (comm), e.g. "map-server"
};

std::vector<Process> List();

// root and every process below it, leaving out those named in skip (the servers); empty when
// root is gone.
std::vector<pid_t> Tree(pid_t root, const std::vector<std::string>& skip);

// CPU time (user and system) and resident memory of such a tree, in ms and MB. Helpers that
// ended already count no more: their time went to their parent's total for ended children, which
// also holds the servers'.
double CpuMs(const std::vector<pid_t>& processes);
double ResidentMb(const std::vector<pid_t>& processes);
double ProportionalMb(const std::vector<pid_t>& processes);

} // namespace proctree
