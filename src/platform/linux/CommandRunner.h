#pragma once

#include <string>
#include <vector>

// Runs one helper program to completion and collects what it prints on standard output.
//
// The program inherits none of the caller's open files: its standard input and error are
// /dev/null, its standard output a pipe to us, and every other descriptor is closed. Its signal
// mask and dispositions are reset. No shell is involved: argv[0] is looked up in PATH.
struct CommandResult {
    bool started = false;  // the program could be started at all
    bool timedOut = false; // it was killed because it ran too long
    int exitCode = -1;     // its exit status, -1 when it did not exit normally
    std::string output;    // its standard output

    bool succeeded() const { return started && !timedOut && exitCode == 0; }
};

// environment: the complete environment of the program, "NAME=value" entries.
CommandResult RunCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, int timeoutMs);

// The caller's environment without the named variables.
std::vector<std::string> CurrentEnvironmentWithout(const std::vector<std::string>& names);
