#pragma once

#include "ConsoleEnding.h"
#include "LaunchOptions.h"
#include "ServerProcess.h"
#include "ServerUsage.h"

#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

// The launcher's only contact with the operating system's processes and server consoles.
// A console is the window in which one server runs; it is found again by its title.
// No operation throws: failures show only in the results.
class modAPIs {
public:
    virtual ~modAPIs() = default;

    // Windows priority class values, as SetProcessPriority takes them.
    static constexpr std::int32_t IDLE_PRIORITY_CLASS = 0x40;
    static constexpr std::int32_t BELOW_NORMAL_PRIORITY_CLASS = 0x4000;
    static constexpr std::int32_t NORMAL_PRIORITY_CLASS = 0x20;
    static constexpr std::int32_t ABOVE_NORMAL_PRIORITY_CLASS = 0x8000;
    static constexpr std::int32_t HIGH_PRIORITY_CLASS = 0x80;
    static constexpr std::int32_t REALTIME_PRIORITY_CLASS = 0x100;

    // Starts the program at sExePath in its own hidden console titled sTitle: without arguments,
    // with the folder part of the path as working directory, unless SetLaunchOptions said
    // otherwise. Any failure gives ServerProcess::failed(), never a partly filled record.
    virtual ServerProcess LaunchServer(const QString& sExePath, const QString& sTitle) = 0;

    // Why the last LaunchServer failed, in words for the operator's log (e.g. "tmux could not be
    // run"); empty after a launch that succeeded.
    virtual QString LastLaunchError() = 0;

    // "pid:name," for every running process of this installation (the one whose server folder
    // the backend was set up with), in one text; empty when nothing could be listed.
    virtual QString GetProcessList() = 0;

    // The text of the console titled sTitle, its last lines up to the console line limit; a
    // single space when there is no such console.
    virtual QString GetConsoleText(const QString& sTitle) = 0;

    // The same text with the console's colours and bold or underline kept, as SGR escape
    // sequences (ESC '[' ... 'm'); where the console's last lines begin in a colour set before
    // them, a few more lines may come. A platform whose consoles keep no colours gives the plain
    // text.
    virtual QString GetConsoleColourText(const QString& sTitle) { return GetConsoleText(sTitle); }

    // Types sLine into the console titled sTitle, followed by Enter, as the operator would at the
    // console itself: every character as it is, none of them read as a command of the platform's.
    // Nonzero when a console with that title took the keys, 0 otherwise.
    virtual std::int32_t SendConsoleInput(const QString& sTitle, const QString& sLine) = 0;
    // Types each of sLines into the console titled sTitle as SendConsoleInput types one, in order
    // and with nothing else typed between them. How many the console took, counted from the
    // first: fewer than all when the console went away meanwhile.
    virtual std::int32_t SendConsoleLines(const QString& sTitle, const QStringList& sLines) {
        std::int32_t taken = 0;
        for (const QString& line : sLines) {
            if (SendConsoleInput(sTitle, line) == 0)
                break;
            ++taken;
        }
        return taken;
    }

    // How many of a console's last lines GetConsoleText gives at most (a console window keeps a
    // bounded buffer too). What a server prints must never make a capture cost without bound.
    static constexpr std::int32_t kDefaultConsoleLines = 2000;
    virtual void SetConsoleLineLimit(std::int32_t lines) { consoleLineLimit_ = lines; }
    std::int32_t ConsoleLineLimit() const { return consoleLineLimit_; }

    // Asks the server in the console titled sTitle to end, as its window's close button would.
    // Nonzero when a console with that title was found and asked, 0 otherwise. Never waits, never
    // kills by force, and leaves the console to end with its server.
    virtual std::int32_t CloseServerConsole(const QString& sTitle) = 0;
    // As CloseServerConsole, but the console stays once its server has ended, so that its last
    // lines can still be read (a save's confirmation, say); CloseEndedConsole closes it then.
    virtual std::int32_t AskServerToEnd(const QString& sTitle) = 0;

    // Sends the signal to the process group of the server in the console titled sTitle: the
    // server, and what a server script started. Where this launcher has no console of that title
    // (one of an earlier launcher on another tmux socket), to the process group of the server
    // that hProcess holds. Nonzero when it was sent.
    virtual std::int32_t SignalServer(const QString& sTitle, ProcessHandle hProcess,
                                      std::int32_t lSignal) = 0;

    // Ends every process of the server that hProcess holds at once (SIGKILL on Linux), whatever
    // it does with a close request: only when the operator asks for it. Nonzero when sent.
    virtual std::int32_t KillServer(ProcessHandle hProcess) = 0;

    // Chooses what CloseServerConsole asks of the console titled sTitle, from an operator's
    // setting (what it may say belongs to the platform). False, with nothing changed, when the
    // text names no request this platform can make.
    virtual bool SetCloseRequest(const QString& sTitle, const QString& sRequest) = 0;

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

    // Where the operator finds the servers' consoles, in a few words for the log; empty when
    // there is nothing to say.
    virtual QString ConsoleLocation() = 0;
    // What names this server folder's consoles (the tmux socket's name on Linux): one installation
    // is told from another, and a status endpoint of this launcher from an impostor's, by it.
    virtual QString InstallationId() = 0;

    // Sets the priority class of the server that hProcess holds: every process of it. Nonzero on
    // success, 0 on any failure.
    virtual std::int32_t SetProcessPriority(ProcessHandle hProcess,
                                            std::int32_t lPriorityClass) = 0;

    // Why the last SetProcessPriority failed, in words for the operator's log (e.g. "no process:
    // it has ended or was never started"); empty after a change that worked.
    virtual QString LastPriorityError() = 0;

    // Calls onEnd from the event loop once the process that hProcess names has ended (soon, when
    // it already has). Watching a handle again replaces its onEnd; releasing the handle ends the
    // watch. False when this platform cannot watch it: the caller's own polling is all there is.
    virtual bool WatchProcessEnd(ProcessHandle hProcess, std::function<void()> onEnd) {
        Q_UNUSED(hProcess);
        Q_UNUSED(onEnd);
        return false;
    }

    // What the servers that hServers hold use now, one reading each, in their order: a reading not
    // found for a server that has ended (or a null handle). Reads the system's process table
    // once for all of them, and never waits.
    virtual std::vector<ServerUsage> ReadServerUsage(const std::vector<ProcessHandle>& hServers) {
        return std::vector<ServerUsage>(hServers.size());
    }

    // A TCP connection to a port of this host (127.0.0.1), begun without waiting: whether a server
    // listens there and takes connections. BeginPortProbe gives a probe number for PortProbeAnswer,
    // or -1 when no probe could be begun (its answer is Refused). An answer other than NoAnswerYet
    // ends the probe; EndPortProbe gives one up that has none yet. Nothing here blocks.
    enum class PortAnswer { Accepting, Refused, NoAnswerYet };
    virtual std::int32_t BeginPortProbe(std::uint16_t port) {
        Q_UNUSED(port);
        return -1;
    }
    virtual PortAnswer PortProbeAnswer(std::int32_t probe) {
        Q_UNUSED(probe);
        return PortAnswer::Refused;
    }
    virtual void EndPortProbe(std::int32_t probe) { Q_UNUSED(probe); }

    // Whose socket holds a port of this host: a TCP socket listening there, or a UDP socket bound
    // to it. Server: one of the processes of the server that hProcess holds (its program, and its
    // process group as its latest usage reading found it); Other: only other processes' sockets;
    // Nobody: none at all; Unknown: this platform cannot tell (or may not read the server's
    // descriptors).
    enum class PortProtocol { Tcp, Udp };
    enum class PortHolder { Server, Other, Nobody, Unknown };
    virtual PortHolder PortHolderOf(ProcessHandle hProcess, std::uint16_t port,
                                    PortProtocol protocol) {
        Q_UNUSED(hProcess);
        Q_UNUSED(port);
        Q_UNUSED(protocol);
        return PortHolder::Unknown;
    }

    // Gives back a handle that LaunchServer issued. Releasing the null handle does nothing.
    virtual void ReleaseProcessHandle(ProcessHandle hProcess) = 0;

    // True when a file (not a folder) exists at the path.
    virtual bool FileExists(const QString& sPath) = 0;
    // Whether a folder (or a link to one) is at sPath.
    virtual bool FolderExists(const QString& sPath) { return QFileInfo(sPath).isDir(); }

    // How the process of the console titled sTitle ended, with its last lLines lines, for a
    // console that is kept after its process ended. Changes nothing.
    virtual ConsoleEnding ExamineEndedConsole(const QString& sTitle, std::int32_t lLines) = 0;

    // Closes the console titled sTitle when its process has ended; a live one is left alone.
    virtual void CloseEndedConsole(const QString& sTitle) = 0;

    // Moves the console titled sTitle, whose process lPID has ended, out of the title's way at
    // once, whether or not the console has noticed that end yet: it keeps its last lines and its
    // ending under a name that no server title can take, and the title is free for a new console.
    // The console's new name, for ExamineEndedConsole, WatchConsoleEnding and CloseEndedConsole;
    // empty when it cannot be moved (it is still under its title then). The move need not be
    // done when this returns, only before whatever the platform is asked next about consoles.
    virtual QString MoveEndedConsoleAside(const QString& sTitle, std::int32_t lPID) {
        Q_UNUSED(sTitle);
        Q_UNUSED(lPID);
        return QString();
    }

    // Calls onKnown once from the event loop when the console that MoveEndedConsoleAside named
    // sName has its process's ending (or is gone), so that ExamineEndedConsole can tell it. Never
    // waits. False when this platform cannot tell: the caller looks again at a time of its own.
    virtual bool WatchConsoleEnding(const QString& sName, std::function<void()> onKnown) {
        Q_UNUSED(sName);
        Q_UNUSED(onKnown);
        return false;
    }

    // While on, a console is made ready for each server after each start of it, off the way of
    // anything else, and a relaunch of that server takes it instead of waiting for a new one: a
    // hidden console per server, whose helper waits and runs nothing until a launch takes it.
    // Stopping a server, other launch options or log, turning this off and the end of the
    // launcher close them. Off by default; a platform without it ignores it.
    virtual void SetReadyConsoles(bool bOn) { Q_UNUSED(bOn); }

    // From the next LaunchServer for sTitle on, the program is started with these options.
    virtual void SetLaunchOptions(const QString& sTitle, const LaunchOptions& options) {
        Q_UNUSED(sTitle);
        Q_UNUSED(options);
    }

    // From the next LaunchServer for sTitle on, that console's output also goes to the log (an
    // empty file: nowhere). The writing never holds up the server or the launcher.
    virtual void SetConsoleLog(const QString& sTitle, const ConsoleLog& log) = 0;

    // What went wrong with the console logs since the last call, one text per problem, each
    // problem told once.
    virtual QStringList TakeConsoleLogProblems() = 0;

    // Calls onProblem from the event loop whenever TakeConsoleLogProblems has something new to
    // tell, from now on, so that nobody need look at times of their own. Never waits. False when
    // this platform cannot tell: the caller then looks at a time of its own.
    virtual bool WatchConsoleLogProblems(std::function<void()> onProblem) {
        Q_UNUSED(onProblem);
        return false;
    }

private:
    std::int32_t consoleLineLimit_ = kDefaultConsoleLines;
};
