#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Starts a helper program: argv[0] is looked up in PATH, no shell is involved, and environment is
// its complete environment ("NAME=value" entries). Its standard input and output are the given
// descriptors, its standard error /dev/null; it inherits no other open file, and its signal mask
// and dispositions are reset. The helper's pid, or -1 when it could not be started.
pid_t SpawnHelper(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                  int stdinFd, int stdoutFd);
