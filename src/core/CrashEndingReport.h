#pragma once

#include "ConsoleEnding.h"

#include <QString>
#include <functional>

class LauncherLog;
class ServerSupervisor;
class modAPIs;

// After a crash line: how the server ended, into the log and, when a logs folder is in use, a crash
// report with its last console lines. Once per process, so that a program that cannot be started
// again is not reported on every check. Frees the ended console's title for the relaunch.
class CrashEndingReport {
public:
    // wait(seconds) lets events run while tmux catches up with an ending it has not seen yet.
    CrashEndingReport(modAPIs& apis, LauncherLog& log, std::function<void(float)> wait);

    // Sets the server's lastEnding (empty when how it ended is not known).
    void report(ServerSupervisor& server);
    // A server that still runs but failed a health probe: the reason stands for how it ended.
    void reportHung(ServerSupervisor& server, const QString& reason);
    // How the server's console ended, waiting a moment for the console to notice the end.
    ConsoleEnding awaitEnding(const ServerSupervisor& server);

    // How many crash reports of each server are kept; older ones are removed.
    static constexpr int kDefaultReportsKept = 20;
    void setReportsKept(int kept) { reportsKept_ = kept; }

private:
    void writeReport(ServerSupervisor& server, const QString& how, const QString& lastLines);

    modAPIs& apis_;
    LauncherLog& log_;
    std::function<void(float)> wait_;
    int reportsKept_ = kDefaultReportsKept;
};
