// Logs on disk: the launcher's own log file, the servers' console logs and the crash reports.
#include "frmMain.h"

#include "CrashReport.h"
#include "LogListBox.h"
#include "RotatingLogFile.h"
#include "VbCheckBox.h"
#include "modAPIs.h"

#include <QDateTime>
#include <QTimer>

namespace {

const QString kSizeKey = QStringLiteral("Log File Size Limit KB");
const QString kKeptKey = QStringLiteral("Log Files Kept");
constexpr qint64 kDefaultSizeKb = 10240;
constexpr qint64 kMaxSizeKb = 4 * 1024 * 1024;
constexpr int kDefaultKept = 5;
constexpr int kMaxKept = 100;
constexpr int kCrashReportLines = 200;
constexpr int kProblemPollMs = 2000;
// How long a crash report waits for the console to notice that its process ended.
constexpr int kEndingChecks = 20;
constexpr float kEndingCheckSeconds = 0.05f;

} // namespace

void frmMain::LoadLogSettings() {
    logMaxBytes_ = ReadNumberSetting(kSizeKey, kDefaultSizeKb, 16, kMaxSizeKb) * 1024;
    logKept_ = static_cast<int>(ReadNumberSetting(kKeptKey, kDefaultKept, 0, kMaxKept));
}

void frmMain::UseLogFolder(const QString& folder, const QString& note) {
    logFolder_ = folder;
    if (!note.isEmpty())
        LauncherLogAdd(Now() + note);
    if (folder.isEmpty())
        return;
    launcherLogFile_ = std::make_unique<RotatingLogFile>(folder + QStringLiteral("/launcher.log"),
                                                         logMaxBytes_, logKept_);
    // The lines logged before the folder was known come first.
    for (int row = 0; row < lstLog->count(); ++row)
        writeLauncherLogLine(lstLog->item(row)->text());
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, &frmMain::ReportConsoleLogProblems);
    poll->start(kProblemPollMs);
}

void frmMain::writeLauncherLogLine(const QString& text) {
    if (!launcherLogFile_)
        return;
    QString error;
    if (launcherLogFile_->appendLine(text, &error)) {
        launcherLogFailing_ = false;
        return;
    }
    if (launcherLogFailing_)
        return;
    launcherLogFailing_ = true; // told once, until a line gets through again
    LauncherLogAdd(Now() + QStringLiteral("> Cannot write the launcher log ") +
                   launcherLogFile_->path() + QStringLiteral(": ") + error);
}

void frmMain::prepareConsoleLog(const QString& path, const QString& sName) {
    ConsoleLog log;
    if (chkLogEverything->Value() == 1 && !logFolder_.isEmpty())
        log = ConsoleLog{logFolder_ + u'/' + path.section(u'/', -1) + QStringLiteral(".log"),
                         logMaxBytes_, logKept_};
    services_.apis->SetConsoleLog(sName, log);
}

void frmMain::ReportConsoleLogProblems() {
    for (const QString& problem : services_.apis->TakeConsoleLogProblems())
        LauncherLogAdd(Now() + QStringLiteral("> Console log: ") + problem +
                       QStringLiteral("; the server keeps running."));
}

void frmMain::ReportCrashEnding(int server) {
    const QString& name = ServerName[server];
    const ServerProcess& crashed = ServerProc[server];
    lastEnding_[server].clear();
    // Once per process: a program that cannot be started again is not reported on every tick.
    if (crashed.lPID <= 0 || crashed.lPID == reportedPid_[server])
        return;
    ConsoleEnding ending = services_.apis->ExamineEndedConsole(name, kCrashReportLines);
    for (int n = 0; ending.state == ConsoleEnding::State::StillRunning && n < kEndingChecks; ++n) {
        WaitSeconds(kEndingCheckSeconds);
        ending = services_.apis->ExamineEndedConsole(name, kCrashReportLines);
    }
    if (ending.state == ConsoleEnding::State::NotKnown)
        return;
    reportedPid_[server] = crashed.lPID;
    QString how = ending.how;
    if (ending.state == ConsoleEnding::State::Gone)
        how = QStringLiteral("how it ended is not known, its console is gone");
    else if (ending.state == ConsoleEnding::State::StillRunning)
        how = QStringLiteral("how it ended is not known, its console still runs a process");

    if (ending.state == ConsoleEnding::State::Ended)
        lastEnding_[server] = how;
    QString line = Now() + QStringLiteral("> ") + name + QStringLiteral(": ") + how;
    if (!logFolder_.isEmpty()) {
        const CrashFacts facts{
            Now(), name, crashed.sExePath, crashed.lPID, how, ending.lastLines, kCrashReportLines};
        QString error;
        const QString stamp =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        const QString report = WriteCrashReport(logFolder_, facts, stamp, &error);
        line += report.isEmpty() ? QStringLiteral("; the crash report cannot be written: ") + error
                                 : QStringLiteral("; crash report: ") + report;
    }
    LauncherLogAdd(line);
    if (ending.state == ConsoleEnding::State::Ended)
        services_.apis->CloseEndedConsole(name); // the title is free for the relaunch
}
