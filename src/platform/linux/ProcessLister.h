#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>

// The running processes, read from /proc.
//
// An installation is the server folder (canonical, no trailing '/'): its processes are this
// user's processes whose executable lies directly in that folder or whose working folder is that
// folder, and the calling process itself (the launcher of that installation), so that the list is
// never empty unless /proc cannot be read. An empty folder stands for every process of the machine.

// One running process as the list shows it.
struct ListedProcess {
    std::string_view pid;        // decimal
    std::string_view exeName;    // base name of its executable, or the kernel's short name
    std::string_view kernelName; // /proc/PID/comm: a script's or symlink's name; may be empty
};

// Calls visit with the id of every process under /proc, and the inode of its folder there (another
// inode under the same id is another process, or the same one looked up afresh), until visit
// returns false. Ended processes not yet reaped are among them. False when /proc cannot be read.
bool VisitProcessIds(const std::function<bool(pid_t pid, ino_t inode)>& visit);

// Calls visit for each running process of the installation, until visit returns false. Ended
// processes not yet reaped are left out. False when /proc cannot be read.
bool VisitRunningProcesses(const std::string& installationFolder,
                           const std::function<bool(const ListedProcess&)>& visit);

// The running processes of the installation as "pid:name," entries. The name is the base name of
// the process's executable in full; only where that link cannot be read (kernel threads,
// processes of other users) is it the kernel's short name. A process whose kernel name differs
// from its executable's (a script, a symlinked program) has a second entry under that name.
// Empty when /proc cannot be read.
std::string ListRunningProcesses(const std::string& installationFolder = {});

// True when the process runs the program of that file name: its executable's base name or its
// kernel name (the first 15 bytes of the file name it was started as) is that name.
bool RunsProgram(const ListedProcess& process, std::string_view programName);

// The program file name in an executable link's target: its base name, without the marker the
// kernel appends when the file has been deleted.
std::string_view ProgramNameOfExeLink(std::string_view target);

// The executable link's target without the deleted marker.
std::string_view ExeLinkPath(std::string_view target);

// The target of the process's executable link (/proc/PID/exe), as the kernel gives it; empty
// when it cannot be read.
std::string ExeLinkOf(pid_t pid);

// What the kernel's stat line of one process tells about it.
struct ProcStat {
    bool valid = false;
    std::string_view shortName; // the name between the parentheses
    char state = '?';
    long parent = 0;
    long processGroup = 0;
    long session = 0;
    long threads = 0;
    // CPU time in clock ticks: its own, user and system, and that of the ended children it waited
    // for.
    unsigned long long userTicks = 0;
    unsigned long long systemTicks = 0;
    unsigned long long childUserTicks = 0;
    unsigned long long childSystemTicks = 0;
    unsigned long long startTicks = 0; // when it started, in clock ticks after the boot
};
ProcStat ParseProcStat(std::string_view line);
