#include "ProcessPriority.h"

#include "../modAPIs.h"
#include "Pidfd.h"
#include "ProcessSessions.h"
#include "UniqueFd.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/resource.h>

namespace {

// Threads created while we work inherit the value of the thread that made them, which may not
// have been changed yet; a few passes catch them.
constexpr int kMaxPasses = 4;

enum class PassResult { Failed, ChangedSome, NothingNew };

// One pass over the threads; a refused change ends it and leaves its errno in refusal.
PassResult RenicePass(DIR* tasks, std::set<long>& done, int nice, int& refusal) {
    rewinddir(tasks);
    bool changed = false;
    while (const dirent* entry = readdir(tasks)) {
        char* end = nullptr;
        const long tid = std::strtol(entry->d_name, &end, 10);
        if (tid <= 0 || *end != '\0' || done.count(tid) != 0)
            continue;
        if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) != 0) {
            if (errno == ESRCH)
                continue; // that thread has just ended
            refusal = errno;
            return PassResult::Failed;
        }
        done.insert(tid);
        changed = true;
    }
    return changed ? PassResult::ChangedSome : PassResult::NothingNew;
}

NiceChange RefusalOf(int error) {
    switch (error) {
    case EACCES:
        return NiceChange::NotPermitted;
    case EPERM:
        return NiceChange::OtherOwner;
    default:
        return NiceChange::Failed;
    }
}

} // namespace

std::optional<int> NiceForPriorityClass(std::int32_t priorityClass) {
    switch (priorityClass) {
    case modAPIs::IDLE_PRIORITY_CLASS:
        return 19;
    case modAPIs::BELOW_NORMAL_PRIORITY_CLASS:
        return 5;
    case modAPIs::NORMAL_PRIORITY_CLASS:
        return 0;
    case modAPIs::ABOVE_NORMAL_PRIORITY_CLASS:
        return -5;
    case modAPIs::HIGH_PRIORITY_CLASS:
        return -10;
    case modAPIs::REALTIME_PRIORITY_CLASS:
        return -20;
    default:
        return std::nullopt;
    }
}

NiceChange SetNiceOfEveryThread(int pidfd, int nice) {
    const pid_t pid = PidOfPidfd(pidfd);
    if (pid <= 0)
        return NiceChange::NoProcess;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/task", static_cast<int>(pid));
    UniqueFd taskFd(open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // While our process lives its id cannot pass to another, so a folder opened before this check
    // is our process's own, and stays so even if the process ends from here on.
    if (!taskFd || PidfdProcessEnded(pidfd))
        return NiceChange::NoProcess;
    DIR* tasks = fdopendir(taskFd.release());
    if (tasks == nullptr)
        return NiceChange::Failed;
    std::set<long> done;
    int refusal = 0;
    PassResult pass = PassResult::ChangedSome;
    for (int i = 0; i < kMaxPasses && pass == PassResult::ChangedSome; ++i)
        pass = RenicePass(tasks, done, nice, refusal);
    closedir(tasks);
    if (PidfdProcessEnded(pidfd))
        return NiceChange::NoProcess;
    if (pass == PassResult::Failed)
        return RefusalOf(refusal);
    // No thread left to change: the process was ending while we looked.
    return done.empty() ? NiceChange::NoProcess : NiceChange::Done;
}

NiceChange SetNiceOfSession(int pidfd, int nice) {
    const pid_t leader = PidOfPidfd(pidfd);
    if (leader <= 0 || PidfdProcessEnded(pidfd))
        return NiceChange::NoProcess;
    bool any = false;
    for (const pid_t member : SessionOf(leader)) {
        const UniqueFd memberFd(OpenPidfd(member));
        if (!memberFd)
            continue; // ended meanwhile
        const NiceChange change = SetNiceOfEveryThread(memberFd.get(), nice);
        if (change == NiceChange::NoProcess)
            continue;
        if (change != NiceChange::Done)
            return change;
        any = true;
    }
    return any ? NiceChange::Done : NiceChange::NoProcess;
}

const char* DescribeNiceChange(NiceChange change) {
    switch (change) {
    case NiceChange::Done:
        return "";
    case NiceChange::NoProcess:
        return "no process: it has ended or was never started";
    case NiceChange::NotPermitted:
        return "refused by the system: raising a priority needs the CAP_SYS_NICE capability or "
               "a nice limit (RLIMIT_NICE) that allows it";
    case NiceChange::OtherOwner:
        return "refused by the system: the process belongs to another user";
    case NiceChange::Failed:
        break;
    }
    return "refused by the system";
}
