#pragma once

#include <sys/types.h>
#include <vector>

// Idle child processes that make the process table bigger. Each dies with this process, however
// it ends (PR_SET_PDEATHSIG), and all are killed and reaped when this goes.
class IdleProcesses {
public:
    // Starts children until about total processes run (as /proc counts them).
    explicit IdleProcesses(int total);
    ~IdleProcesses();
    IdleProcesses(const IdleProcesses&) = delete;
    IdleProcesses& operator=(const IdleProcesses&) = delete;

    std::size_t count() const { return children_.size(); }

    // Number of processes /proc lists now.
    static int RunningProcesses();

private:
    std::vector<pid_t> children_;
};
