#include "InstallationProcesses.h"

#include "Pidfd.h"
#include "ProcessLister.h"
#include "UniqueFd.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

bool PidfdRunsProgram(int pidfd, std::string_view programName) {
    if (pidfd < 0 || programName.empty() || PidfdProcessEnded(pidfd))
        return false;
    const pid_t pid = PidOfPidfd(pidfd);
    if (pid <= 0)
        return false;
    const std::string target = ExeLinkOf(pid);
    const std::string_view exe = ProgramNameOfExeLink(target);
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
    char commBuf[64];
    std::string_view comm;
    if (UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC)); fd) {
        const ssize_t got = read(fd.get(), commBuf, sizeof commBuf);
        comm = got > 0 ? std::string_view(commBuf, static_cast<std::size_t>(got)) : comm;
        if (comm.ends_with('\n'))
            comm.remove_suffix(1);
    }
    char pidText[16];
    const auto [end, ec] = std::to_chars(pidText, pidText + sizeof pidText, pid);
    (void)ec;
    const ListedProcess process{std::string_view(pidText, static_cast<std::size_t>(end - pidText)),
                                exe, comm};
    // The handle may outlive its process by a moment: the links go before the pidfd says so.
    return RunsProgram(process, programName) && !PidfdProcessEnded(pidfd);
}

pid_t FindInstallationProcess(const std::string& installationFolder, std::string_view programName) {
    pid_t found = -1;
    VisitRunningProcesses(installationFolder, [&](const ListedProcess& process) {
        if (!RunsProgram(process, programName))
            return true;
        std::from_chars(process.pid.data(), process.pid.data() + process.pid.size(), found);
        return false;
    });
    return found;
}

std::string CanonicalFolder(const std::string& folder) {
    char* resolved = realpath(folder.c_str(), nullptr);
    if (resolved == nullptr)
        return {};
    std::string out(resolved);
    std::free(resolved);
    return out;
}
