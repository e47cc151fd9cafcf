#pragma once

#include <QString>
#include <string>
#include <sys/types.h>
#include <vector>

// Starting and waiting for the programs of another supervisor: its daemon and its command-line
// client, each with its output in a file.
namespace peerprocess {

// Starts arguments[0] (a path) with the rest as arguments, this process's environment plus
// extraEnvironment ("NAME=value"), standard input from /dev/null and standard output and error
// appended to outputPath; its pid, or -1.
pid_t Spawn(const std::vector<std::string>& arguments, const QString& outputPath,
            const std::vector<std::string>& extraEnvironment = {});

// Whether pid has ended, reaping it if so; pid becomes -1 then. A pid of -1 has ended.
bool Reaped(pid_t& pid);

// Waits up to ms for pid to end; then sends it a SIGKILL and reaps it. pid is -1 afterwards.
// True when it ended by itself.
bool EndedWithin(pid_t& pid, int ms);

} // namespace peerprocess
