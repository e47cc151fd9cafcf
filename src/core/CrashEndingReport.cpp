#include "CrashEndingReport.h"

#include "CrashReport.h"
#include "LauncherLog.h"
#include "ServerSupervisor.h"
#include "modAPIs.h"

#include <QDateTime>

namespace {

constexpr int kCrashReportLines = 200;
// How long a crash report waits for the console to notice that its process ended.
constexpr int kEndingChecks = 20;
constexpr float kEndingCheckSeconds = 0.05f;

} // namespace

CrashEndingReport::CrashEndingReport(modAPIs& apis, LauncherLog& log,
                                     std::function<void(float)> wait)
    : apis_(apis), log_(log), wait_(std::move(wait)) {}

void CrashEndingReport::report(ServerSupervisor& server) {
    const QString& name = server.name();
    const ServerProcess crashed = server.process;
    server.lastEnding.clear();
    if (crashed.lPID <= 0 || crashed.lPID == server.reportedPid)
        return;
    ConsoleEnding ending = apis_.ExamineEndedConsole(name, kCrashReportLines);
    for (int n = 0; ending.state == ConsoleEnding::State::StillRunning && n < kEndingChecks; ++n) {
        wait_(kEndingCheckSeconds);
        ending = apis_.ExamineEndedConsole(name, kCrashReportLines);
    }
    if (ending.state == ConsoleEnding::State::NotKnown)
        return;
    server.reportedPid = crashed.lPID;
    QString how = ending.how;
    if (ending.state == ConsoleEnding::State::Gone)
        how = QStringLiteral("how it ended is not known, its console is gone");
    else if (ending.state == ConsoleEnding::State::StillRunning)
        how = QStringLiteral("how it ended is not known, its console still runs a process");
    if (ending.state == ConsoleEnding::State::Ended)
        server.lastEnding = how;

    QString line = LauncherLog::Now() + QStringLiteral("> ") + name + QStringLiteral(": ") + how;
    if (!log_.folder().isEmpty()) {
        // Named after the server's program file, whatever program the installation runs for it.
        const QString stem = server.programFile().mid(1);
        const CrashFacts facts{LauncherLog::Now(), name, crashed.sExePath, stem,
                               crashed.lPID,       how,  ending.lastLines, kCrashReportLines};
        QString error;
        const QString stamp =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        const QString path = WriteCrashReport(log_.folder(), facts, stamp, &error);
        line += path.isEmpty() ? QStringLiteral("; the crash report cannot be written: ") + error
                               : QStringLiteral("; crash report: ") + path;
        if (!path.isEmpty())
            PruneCrashReports(log_.folder(), stem, reportsKept_);
    }
    log_.LauncherLogAdd(line);
    if (ending.state == ConsoleEnding::State::Ended)
        apis_.CloseEndedConsole(name); // the title is free for the relaunch
}
