#pragma once

#include "ConsoleEnding.h"
#include "LaunchOptions.h"
#include "ProcessHandle.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

// The servers' consoles: the window in which one server runs, found again by its title. Their text,
// what is typed into them, the close request, the consoles kept after their server ended, the
// console logs. No operation throws: failures show in the results.
class ServerConsoles {
public:
    virtual ~ServerConsoles() = default;

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

    // Chooses what CloseServerConsole asks of the console titled sTitle, from an operator's
    // setting (what it may say belongs to the platform). False, with nothing changed, when the
    // text names no request this platform can make.
    virtual bool SetCloseRequest(const QString& sTitle, const QString& sRequest) = 0;

    // Where the operator finds the servers' consoles, in a few words for the log; empty when
    // there is nothing to say.
    virtual QString ConsoleLocation() = 0;
    // What names this server folder's consoles (the tmux socket's name on Linux): one installation
    // is told from another, and a status endpoint of this launcher from an impostor's, by it.
    virtual QString InstallationId() = 0;

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
