#pragma once

#include <string>
#include <string_view>

// The running processes as "pid:name," entries, read from /proc. The name is the base name of the
// process's executable in full; only where that link cannot be read (kernel threads, processes of
// other users) is it the kernel's short name. Ended processes not yet reaped are left out.
// Empty when /proc cannot be read.
std::string ListRunningProcesses();

// The program file name in an executable link's target: its base name, without the marker the
// kernel appends when the file has been deleted.
std::string_view ProgramNameOfExeLink(std::string_view target);

// What the kernel's stat line of one process tells about it.
struct ProcStat {
    bool valid = false;
    std::string_view shortName; // the name between the parentheses
    char state = '?';
    long threads = 0;
};
ProcStat ParseProcStat(std::string_view line);
