#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// The processes of a server's console: the console's first process leads a session of its own,
// and every process the server starts belongs to that session unless it leaves it on purpose.

// The live processes of the session that pid leads (pid among them); just pid when it leads none.
std::vector<pid_t> SessionOf(pid_t pid);

// The process that pid started first and that still runs (its oldest live child); -1 when none.
pid_t FirstChildOf(pid_t pid);

// A process of this user that runs the console helper at helperPath for the program at
// programPath, as the console of a server started by a launcher (this one or an earlier one);
// -1 when there is none. A console made ready for a relaunch counts only once its program runs.
pid_t FindConsoleHelper(const std::string& helperPath, const std::string& programPath);
