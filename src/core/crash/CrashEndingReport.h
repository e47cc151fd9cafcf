#pragma once

#include "ConsoleEnding.h"
#include "ServerProcess.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class Clock;
class LauncherLog;
class ClockTimer;
class ServerSupervisor;
class modAPIs;

// After a crash line: how the server ended, into the log and, when a logs folder is in use, a crash
// report with its last console lines. Once per process, so that a program that cannot be started
// again is not reported on every check.
//
// The crashed console is moved aside at once, so that its title is free for the relaunch and
// nothing waits for the console to notice the end; the move does not wait for tmux's answer
// either. The console aside is looked at later (lookNow), once the relaunch has started its
// process: when the console has noticed the end by then, the report is written there and then;
// otherwise it follows the console's notice that it has the ending, or a deadline on the
// launcher's clock, whichever comes first. The report keeps its own record of the crashed process:
// by then the server's record is the relaunch's.
class CrashEndingReport {
public:
    // wait(seconds) lets events run while tmux catches up with an ending it has not seen yet (only
    // awaitEnding waits).
    CrashEndingReport(modAPIs& apis, Clock& clock, LauncherLog& log,
                      std::function<void(float)> wait);
    ~CrashEndingReport();

    // Clears the server's lastEnding and lastCrash, and sets them once the report is written.
    // written() runs once this crash's report is written or given up (at once when the process
    // was reported already), so that whoever tells of the crash can tell how it ended.
    void report(ServerSupervisor& server, std::function<void()> written = {});
    // Looks at the consoles moved aside since the last look, and writes the reports whose ending
    // is known; the others wait for their console's notice. Until it runs, the deadline does it.
    void lookNow();
    // A server that still runs but failed a health probe: the reason stands for how it ended.
    void reportHung(ServerSupervisor& server, const QString& reason);
    // How the server's console ended, waiting a moment for the console to notice the end: for a
    // decision that needs the ending before the server is started again.
    ConsoleEnding awaitEnding(const ServerSupervisor& server);

    // How long a report waits for the console's notice before it is written with what is known.
    static constexpr std::int64_t kNoticeDeadlineMs = 1000;
    // Reports still waiting for their console's notice.
    int waitingReports() const { return static_cast<int>(waiting_.size()); }
    // The deadline's timer: writes the reports that are due on the launcher's clock.
    void tmrEndingDeadline_Timer();

    // How many crash reports of each server are kept; older ones are removed.
    static constexpr int kDefaultReportsKept = 20;
    void setReportsKept(int kept) { reportsKept_ = kept; }

private:
    // A crashed console moved aside whose ending the console has not told yet.
    struct Waiting {
        ServerSupervisor* server;
        ServerProcess crashed;
        QString console;
        std::int64_t dueMs;
        std::function<void()> written;
        bool looked = false; // looked at once and found still running: its notice is waited for
        bool final = false;  // written at the next look, with whatever it tells
    };
    void noticed(const QString& console);
    // The report waiting for the console aside of that name; waiting_.end() when none is.
    std::vector<Waiting>::iterator findWaiting(const QString& console);
    void finishEarlierReport(const ServerSupervisor& server);
    ConsoleEnding look(const QString& console);
    void finish(const Waiting& waiting, const ConsoleEnding& ending);
    void armDeadline();
    void writeReport(ServerSupervisor& server, const ServerProcess& crashed, const QString& how,
                     const QString& lastLines);

    modAPIs& apis_;
    Clock& clock_;
    LauncherLog& log_;
    std::function<void(float)> wait_;
    int reportsKept_ = kDefaultReportsKept;
    std::vector<Waiting> waiting_;
    QStringList closeWhenEnded_; // consoles aside that still seemed to run at their deadline
    std::unique_ptr<ClockTimer> tmrDeadline_;
};
