#pragma once

#include "LaunchOptions.h"
#include "OsResult.h"
#include "ServerProcess.h"

#include <QString>
#include <cstdint>
#include <functional>

// The servers' processes: launching them, finding those that already run, watching them end,
// signalling and killing them, their priority. No operation throws: failures show in the results.
class ProcessControl {
public:
    virtual ~ProcessControl() = default;

    // Windows priority class values, as SetProcessPriority takes them.
    static constexpr std::int32_t IDLE_PRIORITY_CLASS = 0x40;
    static constexpr std::int32_t BELOW_NORMAL_PRIORITY_CLASS = 0x4000;
    static constexpr std::int32_t NORMAL_PRIORITY_CLASS = 0x20;
    static constexpr std::int32_t ABOVE_NORMAL_PRIORITY_CLASS = 0x8000;
    static constexpr std::int32_t HIGH_PRIORITY_CLASS = 0x80;
    static constexpr std::int32_t REALTIME_PRIORITY_CLASS = 0x100;

    // Starts the program at sExePath in its own hidden console titled sTitle: without arguments,
    // with the folder part of the path as working directory, unless SetLaunchOptions said
    // otherwise. Any failure gives ServerProcess::failed() with the reason in its sError (e.g.
    // "tmux could not be run"), never a partly filled record.
    virtual ServerProcess LaunchServer(const QString& sExePath, const QString& sTitle) = 0;

    // "pid:name," for every running process of this installation (the one whose server folder
    // the backend was set up with), in one text; empty when nothing could be listed.
    virtual QString GetProcessList() = 0;

    // Sends the signal to the process group of the server in the console titled sTitle: the
    // server, and what a server script started. Where this launcher has no console of that title
    // (one of an earlier launcher on another tmux socket), to the process group of the server
    // that hProcess holds. Nonzero when it was sent.
    virtual std::int32_t SignalServer(const QString& sTitle, ProcessHandle hProcess,
                                      std::int32_t lSignal) = 0;

    // Ends every process of the server that hProcess holds at once (SIGKILL on Linux), whatever
    // it does with a close request: only when the operator asks for it. Nonzero when sent.
    virtual std::int32_t KillServer(ProcessHandle hProcess) = 0;

    // True while the server that hProcess holds runs: for a server started by LaunchServer, as
    // long as any process of it is left, whatever program it has executed meanwhile; for one
    // found running, as long as that process runs. Looks at that server only, so it costs far
    // less than GetProcessList.
    virtual bool ProcessRuns(ProcessHandle hProcess) = 0;

    // The id of the server program's own process in what hProcess holds, once it is known (a
    // launch on a busy machine may return before it is): for a display, and for the operator's
    // own tools. 0 when it is not known.
    virtual std::int32_t ServerProcessId(ProcessHandle hProcess) {
        Q_UNUSED(hProcess);
        return 0;
    }

    // A process of this installation that already runs the program of sExePath, as a record with
    // a handle of its own; a record with lPID 0 when none runs.
    virtual ServerProcess FindRunningServer(const QString& sExePath) = 0;

    // Sets the priority class of the server that hProcess holds: every process of it. Failed, with
    // the reason in words for the operator's log (e.g. "no process: it has ended or was never
    // started"), on any failure.
    virtual OsResult SetProcessPriority(ProcessHandle hProcess, std::int32_t lPriorityClass) = 0;

    // Calls onEnd from the event loop once the process that hProcess names has ended (soon, when
    // it already has). Watching a handle again replaces its onEnd; releasing the handle ends the
    // watch. False when this platform cannot watch it: the caller's own polling is all there is.
    virtual bool WatchProcessEnd(ProcessHandle hProcess, std::function<void()> onEnd) {
        Q_UNUSED(hProcess);
        Q_UNUSED(onEnd);
        return false;
    }

    // Gives back a handle that LaunchServer issued. Releasing the null handle does nothing.
    virtual void ReleaseProcessHandle(ProcessHandle hProcess) = 0;

    // From the next LaunchServer for sTitle on, the program is started with these options.
    virtual void SetLaunchOptions(const QString& sTitle, const LaunchOptions& options) {
        Q_UNUSED(sTitle);
        Q_UNUSED(options);
    }
};
