#include "IdleProcesses.h"

#include <csignal>
#include <cstring>
#include <dirent.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

int IdleProcesses::RunningProcesses() {
    DIR* dir = opendir("/proc");
    if (dir == nullptr)
        return 0;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9')
            ++count;
    }
    closedir(dir);
    return count;
}

IdleProcesses::IdleProcesses(int total) {
    const pid_t parent = getpid();
    for (int missing = total - RunningProcesses(); missing > 0; --missing) {
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(0);
            for (;;)
                pause();
        }
        if (pid < 0)
            break;
        children_.push_back(pid);
    }
}

IdleProcesses::~IdleProcesses() {
    for (const pid_t pid : children_)
        kill(pid, SIGKILL);
    for (const pid_t pid : children_)
        waitpid(pid, nullptr, 0);
}
