#pragma once

#include "UniqueFd.h"

#include <string>
#include <sys/types.h>
#include <vector>

// The launcher's side of the hand-over with corvane-exec (see TrampolineProtocol.h): a private
// folder with the program's environment and two FIFOs, open for the duration of one launch.
class LaunchChannel {
public:
    enum class Verdict {
        Started,    // the program was executed, as process programPid()
        ExecFailed, // the trampoline ran but could not execute the program
        Vanished,   // the trampoline ended without executing anything
        NoAnswer    // nothing definite within the time allowed
    };

    LaunchChannel() = default;
    ~LaunchChannel();
    LaunchChannel(const LaunchChannel&) = delete;
    LaunchChannel& operator=(const LaunchChannel&) = delete;

    // Makes the folder (mode 0700, under TMPDIR or /tmp) holding the environment, the arguments
    // and the FIFOs.
    bool open(const std::vector<std::string>& environment,
              const std::vector<std::string>& arguments);

    const std::string& folder() const { return folder_; }

    // Lets the trampoline go on and execute the program.
    void release();

    // Waits at most timeoutMs for the trampoline's verdict.
    Verdict awaitVerdict(int timeoutMs);

    // After NoAnswer the folder is left to the trampoline, which removes it once it has opened
    // what it needs. A caller that knows the trampoline will never run takes it back.
    void reclaimFolder();

    // Whether the trampoline has opened the hand-over (it reported, or it ended): from then on
    // what was written to it stays there for the trampoline whatever the launcher closes.
    bool trampolineHasOpened() const { return ended_ || !received_.empty(); }

    // errno of a failed execution.
    int execError() const { return execError_; }
    // The program's process id, once Started.
    pid_t programPid() const { return programPid_; }

private:
    void removeFolder();
    bool complete() const; // the whole verdict is in

    std::string folder_;
    UniqueFd report_;
    UniqueFd go_;
    std::string received_;
    bool ended_ = false;
    bool ownsFolder_ = true;
    int execError_ = 0;
    pid_t programPid_ = -1;
};
