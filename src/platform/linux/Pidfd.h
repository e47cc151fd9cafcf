#pragma once

#include <sys/types.h>

// Process file descriptors: a pidfd keeps naming one process even after it has ended and its id
// has been given to another.

// A close-on-exec pidfd for pid, numbered 3 or above (so that it never reads as "no handle");
// -1 when the process does not exist.
int OpenPidfd(pid_t pid);

// The id of the process that fd names, as /proc/self/fdinfo tells it; -1 when fd is not a pidfd
// or its process has been reaped.
pid_t PidOfPidfd(int fd);

// True when the process that the pidfd names has ended (zombie or reaped).
bool PidfdProcessEnded(int fd);

// Closes fd, but only when it is a pidfd: a stale or repeated release cannot close a descriptor
// that now belongs to something else.
void ClosePidfd(int fd);
