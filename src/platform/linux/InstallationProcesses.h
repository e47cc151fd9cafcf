#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

// Finding the server processes of one installation (see ProcessLister.h for what belongs to it).

// True while the process that the pidfd names runs and still runs the program of that file name
// (its executable or its kernel name). Reads only that process's entries: a few microseconds.
bool PidfdRunsProgram(int pidfd, std::string_view programName);

// A running process of the installation that runs the program of that file name; -1 when none.
pid_t FindInstallationProcess(const std::string& installationFolder, std::string_view programName);

// The folder as the kernel names it (symlinks resolved, no trailing '/'); empty when it cannot be
// resolved.
std::string CanonicalFolder(const std::string& folder);
