#include "ProcessTree.h"

#include "Measure.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <map>

namespace proctree {

std::vector<Process> List() {
    std::vector<Process> processes;
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr)
        return processes;
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0)
            continue;
        std::ifstream in(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(in, line))
            continue;
        // "PID (NAME) STATE PARENT ...": the name may hold spaces and parentheses itself.
        const std::size_t open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close + 4 >= line.size())
            continue;
        Process process;
        process.pid = pid;
        process.name = line.substr(open + 1, close - open - 1);
        process.parent = static_cast<pid_t>(std::atoi(line.c_str() + close + 4));
        processes.push_back(std::move(process));
    }
    ::closedir(dir);
    return processes;
}

std::vector<pid_t> Tree(pid_t root, const std::vector<std::string>& skip) {
    const std::vector<Process> processes = List();
    std::multimap<pid_t, const Process*> children;
    bool rootRuns = false;
    for (const Process& process : processes) {
        children.emplace(process.parent, &process);
        rootRuns = rootRuns || process.pid == root;
    }
    std::vector<pid_t> tree;
    if (!rootRuns)
        return tree;
    tree.push_back(root);
    std::vector<pid_t> pending{root};
    while (!pending.empty()) {
        const pid_t pid = pending.back();
        pending.pop_back();
        const auto [first, last] = children.equal_range(pid);
        for (auto it = first; it != last; ++it) {
            pending.push_back(it->second->pid);
            if (std::find(skip.begin(), skip.end(), it->second->name) == skip.end())
                tree.push_back(it->second->pid);
        }
    }
    return tree;
}

double CpuMs(const std::vector<pid_t>& processes) {
    double total = 0;
    for (const pid_t pid : processes)
        total += std::max(measure::ProcessCpuMs(pid), 0.0);
    return total;
}

double ResidentMb(const std::vector<pid_t>& processes) {
    double total = 0;
    for (const pid_t pid : processes)
        total += std::max(measure::ResidentMb(pid), 0.0);
    return total;
}

double ProportionalMb(const std::vector<pid_t>& processes) {
    double total = 0;
    for (const pid_t pid : processes)
        total += std::max(measure::ProportionalMb(pid), 0.0);
    return total;
}

} // namespace proctree
