#pragma once

#include <cstdint>
#include <optional>

// The nice value that stands for a Windows priority class; nothing for an unknown class.
std::optional<int> NiceForPriorityClass(std::int32_t priorityClass);

// Gives every thread of the process that the pidfd names the nice value. A nice value belongs to
// one thread on Linux, so the threads are changed one by one, until a pass over the process's
// threads finds none left to do. False when the process has ended, when a thread could not be
// changed (for instance a lower value without the privilege) or when the pidfd is not one.
bool SetNiceOfEveryThread(int pidfd, int nice);
