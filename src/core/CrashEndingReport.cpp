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

ConsoleEnding CrashEndingReport::awaitEnding(const ServerSupervisor& server) {
    ConsoleEnding ending = apis_.ExamineEndedConsole(server.name(), kCrashReportLines);
    for (int n = 0; ending.state == ConsoleEnding::State::StillRunning && n < kEndingChecks; ++n) {
        wait_(kEndingCheckSeconds);
        ending = apis_.ExamineEndedConsole(server.name(), kCrashReportLines);
    }
    return ending;
}

void CrashEndingReport::report(ServerSupervisor& server) {
    const ServerProcess crashed = server.process;
    server.lastEnding.clear();
    server.lastCrash = {};
    if (crashed.lPID <= 0 || crashed.lPID == server.reportedPid)
        return;
    const ConsoleEnding ending = awaitEnding(server);
    if (ending.state == ConsoleEnding::State::NotKnown)
        return;
    QString how = ending.how;
    if (ending.state == ConsoleEnding::State::Gone)
        how = QStringLiteral("how it ended is not known, its console is gone");
    else if (ending.state == ConsoleEnding::State::StillRunning)
        how = QStringLiteral("how it ended is not known, its console still runs a process");
    if (ending.state == ConsoleEnding::State::Ended)
        server.lastEnding = how;
    writeReport(server, how, ending.lastLines);
    if (ending.state == ConsoleEnding::State::Ended)
        apis_.CloseEndedConsole(server.name()); // the title is free for the relaunch
}

void CrashEndingReport::reportHung(ServerSupervisor& server, const QString& reason) {
    server.lastEnding = reason;
    server.lastCrash = {};
    server.lastCrash.hung = true;
    QStringList lines = apis_.GetConsoleText(server.name()).split(u'\n');
    if (lines.size() > kCrashReportLines)
        lines = lines.mid(lines.size() - kCrashReportLines);
    writeReport(server, reason, lines.join(u'\n'));
}

// The log line "Map Server: exit status 3; crash report: ...", and the report itself.
void CrashEndingReport::writeReport(ServerSupervisor& server, const QString& how,
                                    const QString& lastLines) {
    const QString& name = server.name();
    const ServerProcess& crashed = server.process;
    server.reportedPid = crashed.lPID;
    server.lastCrash.how = how;
    server.lastCrash.lastLines = lastLines;
    QString line = LauncherLog::Now() + QStringLiteral("> ") + name + QStringLiteral(": ") + how;
    if (!log_.folder().isEmpty()) {
        // Named after the server's program file, whatever program the installation runs for it.
        const QString stem = server.programFile().mid(1);
        const CrashFacts facts{LauncherLog::Now(), name, crashed.sExePath, stem,
                               crashed.lPID,       how,  lastLines,        kCrashReportLines};
        QString error;
        const QString stamp =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        const QString path = WriteCrashReport(log_.folder(), facts, stamp, &error);
        line += path.isEmpty() ? QStringLiteral("; the crash report cannot be written: ") + error
                               : QStringLiteral("; crash report: ") + path;
        server.lastCrash.reportFile = path;
        if (!path.isEmpty())
            PruneCrashReports(log_.folder(), stem, reportsKept_);
    }
    log_.LauncherLogAdd(line);
}
