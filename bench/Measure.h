#pragma once

#include <chrono>
#include <functional>
#include <sys/types.h>
#include <vector>

// What the benchmarks read off a process: CPU time, resident memory, open descriptors, and a few
// statistics over repeated timings.
namespace measure {

using SteadyClock = std::chrono::steady_clock;

double MsSince(SteadyClock::time_point start);

// CPU time (user and system) of this process, all threads, in ms.
double SelfCpuMs();
// CPU time of the calling thread alone, in ms.
double ThreadCpuMs();
// CPU time of the children this process has waited for (e.g. every finished tmux client), in ms.
double ChildrenCpuMs();
// CPU time of another process, user and system, all its threads, in ms: from its CPU clock (ns),
// else from its /proc stat line (utime + stime, in ticks); -1 when unreadable.
double ProcessCpuMs(pid_t pid);
// CPU time of the children another process has waited for (cutime + cstime), in ms; -1 when
// unreadable. For a launcher of its own, its tmux clients.
double WaitedChildrenCpuMs(pid_t pid);

// Resident memory in MB (VmRSS); -1 when unreadable.
double ResidentMb(pid_t pid = 0);
// Proportional resident memory in MB (Pss of smaps_rollup): each shared page divided among the
// processes that map it, so that the libraries of a tree of processes count once; -1 when
// unreadable.
double ProportionalMb(pid_t pid = 0);
// The highest resident memory of this process so far.
double PeakResidentMb();
// CPU time of this process's children that still run (a persistent helper, say), which
// ChildrenCpuMs does not count until they end. Leaves out the process except: the tmux server,
// which becomes a child of this process when it runs as the first process of a PID namespace and
// is counted on its own.
double LiveChildrenCpuMs(pid_t except);
// Number of open descriptors of this process.
int OpenDescriptors();

double Median(std::vector<double> values);
double Mean(const std::vector<double>& values);
// p in [0, 100], nearest rank.
double Percentile(std::vector<double> values, double p);

// Wall time of each of runs calls of work, in ms.
std::vector<double> TimeRuns(int runs, const std::function<void()>& work);

} // namespace measure
