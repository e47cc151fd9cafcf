#include "Measure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <numeric>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace measure {

namespace {

double UsageMs(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

std::string ProcPath(pid_t pid, const char* file) {
    return pid > 0 ? "/proc/" + std::to_string(pid) + "/" + file
                   : std::string("/proc/self/") + file;
}

} // namespace

double MsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

double SelfCpuMs() {
    return UsageMs(RUSAGE_SELF);
}

double ThreadCpuMs() {
    return UsageMs(RUSAGE_THREAD);
}

double ChildrenCpuMs() {
    return UsageMs(RUSAGE_CHILDREN);
}

namespace {

// The sum of two numeric fields of a process's /proc stat line, ticks turned into ms; -1 when
// unreadable. Fields are counted from 1 as proc(5) does: utime is 14, cutime 16.
double StatFieldsMs(pid_t pid, int first, int second) {
    std::ifstream in(ProcPath(pid, "stat"));
    std::string line;
    if (!std::getline(in, line))
        return -1;
    // Fields after the name, which ends at the last ')': state is field 3.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    double sum = 0;
    for (int index = 3; index <= second && fields >> field; ++index) {
        if (index == first || index == second)
            sum += std::stod(field);
    }
    return sum * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

} // namespace

double ProcessCpuMs(pid_t pid) {
    // The process's CPU clock counts in ns, its threads that ended included; the stat line's
    // ticks are 10 ms each, as coarse as an idle minute's whole figure.
    clockid_t clock{};
    timespec time{};
    if (pid > 0 && ::clock_getcpuclockid(pid, &clock) == 0 && ::clock_gettime(clock, &time) == 0)
        return static_cast<double>(time.tv_sec) * 1000.0 + static_cast<double>(time.tv_nsec) / 1e6;
    return StatFieldsMs(pid, 14, 15);
}

double WaitedChildrenCpuMs(pid_t pid) {
    return StatFieldsMs(pid, 16, 17);
}

double ResidentMb(pid_t pid) {
    std::ifstream in(ProcPath(pid, "status"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return -1;
}

double ProportionalMb(pid_t pid) {
    std::ifstream in(ProcPath(pid, "smaps_rollup"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Pss:", 0) == 0)
            return std::stod(line.substr(4)) / 1024.0;
    }
    return -1;
}

double PeakResidentMb() {
    std::ifstream in(ProcPath(0, "status"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return -1;
}

double LiveChildrenCpuMs(pid_t except) {
    double total = 0;
    DIR* dir = opendir("/proc");
    if (dir == nullptr)
        return 0;
    const std::string self = std::to_string(getpid());
    while (const dirent* entry = readdir(dir)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0 || pid == except)
            continue;
        std::ifstream in(ProcPath(pid, "stat"));
        std::string line;
        if (!std::getline(in, line))
            continue;
        // Field 4, after the name (which ends at the last ')') and the state, is the parent.
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::string state, parent;
        if (fields >> state >> parent && parent == self)
            total += ProcessCpuMs(pid);
    }
    closedir(dir);
    return total;
}

int OpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    closedir(dir);
    return count - 1; // the descriptor of the listing itself
}

double Median(std::vector<double> values) {
    return Percentile(std::move(values), 50);
}

double Mean(const std::vector<double>& values) {
    if (values.empty())
        return 0;
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank =
        static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

std::vector<double> TimeRuns(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = SteadyClock::now();
        work();
        times.push_back(MsSince(start));
    }
    return times;
}

} // namespace measure
