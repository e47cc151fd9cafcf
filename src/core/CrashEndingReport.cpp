#include "CrashEndingReport.h"

#include "Clock.h"
#include "CrashReport.h"
#include "LauncherLog.h"
#include "ServerSupervisor.h"
#include "modAPIs.h"

#include <QDateTime>
#include <QTimer>
#include <algorithm>

namespace {

constexpr int kCrashReportLines = 200;
// How long awaitEnding waits for the console to notice that its process ended.
constexpr int kEndingChecks = 20;
constexpr float kEndingCheckSeconds = 0.05f;

} // namespace

CrashEndingReport::CrashEndingReport(modAPIs& apis, Clock& clock, LauncherLog& log,
                                     std::function<void(float)> wait)
    : apis_(apis), clock_(clock), log_(log), wait_(std::move(wait)),
      tmrDeadline_(std::make_unique<QTimer>()) {
    tmrDeadline_->setSingleShot(true);
    tmrDeadline_->setTimerType(Qt::PreciseTimer);
    QObject::connect(tmrDeadline_.get(), &QTimer::timeout, [this] { tmrEndingDeadline_Timer(); });
}

CrashEndingReport::~CrashEndingReport() = default;

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
    const bool news = crashed.lPID > 0 && crashed.lPID != server.reportedPid;
    // The server's last account is to be of this crash: an earlier one still waiting is told now.
    if (news)
        finishEarlierReport(server);
    server.lastEnding.clear();
    server.lastCrash = {};
    if (!news)
        return;
    server.reportedPid = crashed.lPID;
    const QString aside = apis_.MoveEndedConsoleAside(server.name(), crashed.lPID);
    if (aside.isEmpty()) {
        // Still under its title: one look now, before a relaunch takes the title.
        finish(Waiting{&server, crashed, server.name(), 0},
               apis_.ExamineEndedConsole(server.name(), kCrashReportLines));
        return;
    }
    const Waiting waiting{&server, crashed, aside, clock_.NowMs() + kNoticeDeadlineMs};
    apis_.WatchConsoleEnding(aside, [this, aside] { noticed(aside); });
    const ConsoleEnding ending = apis_.ExamineEndedConsole(aside, kCrashReportLines);
    if (ending.state != ConsoleEnding::State::StillRunning) {
        finish(waiting, ending);
        return;
    }
    waiting_.push_back(waiting);
    armDeadline();
}

void CrashEndingReport::noticed(const QString& console) {
    const auto found = std::find_if(waiting_.begin(), waiting_.end(),
                                    [&](const Waiting& w) { return w.console == console; });
    if (found == waiting_.end()) {
        // Reported at its deadline while it still seemed to run: closed now that it has ended.
        if (closeWhenEnded_.removeAll(console) > 0)
            apis_.CloseEndedConsole(console);
        return;
    }
    const Waiting waiting = *found;
    waiting_.erase(found); // before the look, during which events run
    const ConsoleEnding ending = apis_.ExamineEndedConsole(console, kCrashReportLines);
    if (ending.state == ConsoleEnding::State::StillRunning)
        waiting_.push_back(waiting); // not quite yet: its deadline stands
    else
        finish(waiting, ending);
    armDeadline();
}

void CrashEndingReport::tmrEndingDeadline_Timer() {
    const std::int64_t now = clock_.NowMs();
    std::vector<Waiting> due;
    std::erase_if(waiting_, [&](const Waiting& w) {
        if (w.dueMs > now)
            return false;
        due.push_back(w);
        return true;
    });
    for (const Waiting& waiting : due)
        finish(waiting, apis_.ExamineEndedConsole(waiting.console, kCrashReportLines));
    armDeadline();
}

void CrashEndingReport::finishEarlierReport(const ServerSupervisor& server) {
    std::vector<Waiting> earlier;
    std::erase_if(waiting_, [&](const Waiting& w) {
        if (w.server != &server)
            return false;
        earlier.push_back(w);
        return true;
    });
    for (const Waiting& waiting : earlier)
        finish(waiting, apis_.ExamineEndedConsole(waiting.console, kCrashReportLines));
    armDeadline();
}

void CrashEndingReport::armDeadline() {
    if (waiting_.empty()) {
        tmrDeadline_->stop();
        return;
    }
    std::int64_t next = waiting_.front().dueMs;
    for (const Waiting& w : waiting_)
        next = std::min(next, w.dueMs);
    tmrDeadline_->start(static_cast<int>(std::max<std::int64_t>(0, next - clock_.NowMs())));
}

void CrashEndingReport::finish(const Waiting& waiting, const ConsoleEnding& ending) {
    ServerSupervisor& server = *waiting.server;
    const bool aside = waiting.console != server.name();
    if (ending.state == ConsoleEnding::State::NotKnown) {
        if (aside)
            apis_.CloseEndedConsole(waiting.console);
        return;
    }
    QString how = ending.how;
    if (ending.state == ConsoleEnding::State::Gone)
        how = QStringLiteral("how it ended is not known, its console is gone");
    else if (ending.state == ConsoleEnding::State::StillRunning)
        how = QStringLiteral("how it ended is not known, its console still runs a process");
    if (ending.state == ConsoleEnding::State::Ended)
        server.lastEnding = how;
    writeReport(server, waiting.crashed, how, ending.lastLines);
    if (ending.state == ConsoleEnding::State::Ended)
        apis_.CloseEndedConsole(waiting.console); // under its title: the title is free again
    else if (aside && ending.state == ConsoleEnding::State::StillRunning)
        closeWhenEnded_ << waiting.console;
}

void CrashEndingReport::reportHung(ServerSupervisor& server, const QString& reason) {
    finishEarlierReport(server);
    server.lastEnding = reason;
    server.lastCrash = {};
    server.lastCrash.hung = true;
    QStringList lines = apis_.GetConsoleText(server.name()).split(u'\n');
    if (lines.size() > kCrashReportLines)
        lines = lines.mid(lines.size() - kCrashReportLines);
    writeReport(server, server.process, reason, lines.join(u'\n'));
}

// The log line "Map Server: exit status 3; crash report: ...", and the report itself.
void CrashEndingReport::writeReport(ServerSupervisor& server, const ServerProcess& crashed,
                                    const QString& how, const QString& lastLines) {
    const QString& name = server.name();
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
