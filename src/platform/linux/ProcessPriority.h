#pragma once

#include <cstdint>
#include <optional>

// The nice value that stands for a Windows priority class; nothing for an unknown class.
std::optional<int> NiceForPriorityClass(std::int32_t priorityClass);

// How a change of nice value went.
enum class NiceChange {
    Done,
    NoProcess,    // the process has ended, or the descriptor names no process
    NotPermitted, // a lower value without CAP_SYS_NICE or room under RLIMIT_NICE
    OtherOwner,   // the process belongs to another user
    Failed,       // any other refusal
};

// Gives every thread of the process that the pidfd names the nice value. A nice value belongs to
// one thread on Linux, so the threads are changed one by one, until a pass over the process's
// threads finds none left to do. Done only when every thread was changed and the process still
// runs; a thread that could not be changed stops the work and names the reason.
NiceChange SetNiceOfEveryThread(int pidfd, int nice);

// The same for every process of the session that the pidfd's process leads (just that process
// when it leads none): a server's console and everything the server started in it. Done when
// every one of them was changed; the first refusal stops the work and names the reason.
NiceChange SetNiceOfSession(int pidfd, int nice);

// Words for the operator's log that say why a change did not happen; empty for Done.
const char* DescribeNiceChange(NiceChange change);
