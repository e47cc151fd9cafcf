#include "CrashEndingReport.h"

#include "Clock.h"
#include "CrashReport.h"
#include "LauncherLog.h"
#include "ServerSupervisor.h"
#include "modAPIs.h"

#include <QDateTime>
#include <QRegularExpression>
#include <algorithm>

namespace {

constexpr int kCrashReportLines = 200;
// How long awaitEnding waits for the console to notice that its process ended.
constexpr int kEndingChecks = 20;
constexpr float kEndingCheckSeconds = 0.05f;

bool BlankLine(const QString& line) {
    return line.trimmed().isEmpty();
}

// The lines the server itself printed last, from the capture of its ended console. Below them
// the console holds the unused rest of its screen, then the line the console writes at the end of
// its process, on the screen's bottom row: "Pane is dead (signal 9, Wed Dec  9 01:44:53 2026)".
// That line is the console's own, always the last, so only the last line is taken for it: a
// server that printed the same words keeps them.
QString ServerLinesOf(const ConsoleEnding& ending) {
    static const QRegularExpression deadPane(
        QStringLiteral("^Pane is dead \\((status -?\\d+|signal \\d+)?, [^()]*\\)\\s*$"));
    QStringList lines = ending.lastLines.split(u'\n');
    while (!lines.isEmpty() && BlankLine(lines.last()))
        lines.removeLast();
    if (ending.state == ConsoleEnding::State::Ended && !lines.isEmpty() &&
        deadPane.match(lines.last()).hasMatch()) {
        lines.removeLast();
        while (!lines.isEmpty() && BlankLine(lines.last()))
            lines.removeLast();
    }
    return lines.join(u'\n');
}

} // namespace

CrashEndingReport::CrashEndingReport(modAPIs& apis, Clock& clock, LauncherLog& log,
                                     std::function<void(float)> wait)
    : apis_(apis), clock_(clock), log_(log), wait_(std::move(wait)),
      tmrDeadline_(clock.CreateTimer(nullptr)) {
    tmrDeadline_->setSingleShot(true);
    tmrDeadline_->setTimerType(Qt::PreciseTimer);
    QObject::connect(tmrDeadline_.get(), &ClockTimer::timeout,
                     [this] { tmrEndingDeadline_Timer(); });
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

void CrashEndingReport::report(ServerSupervisor& server, std::function<void()> written) {
    const ServerProcess crashed = server.process;
    const bool news = crashed.lPID > 0 && crashed.lPID != server.reportedPid;
    // The server's last account is to be of this crash: an earlier one still waiting is told at
    // the next look, before this one.
    if (news)
        finishEarlierReport(server);
    server.lastEnding.clear();
    server.lastCrash = {};
    if (!news) {
        if (written)
            written();
        return;
    }
    server.reportedPid = crashed.lPID;
    const QString aside = apis_.MoveEndedConsoleAside(server.name(), crashed.lPID);
    if (aside.isEmpty()) {
        // Still under its title: one look now, before a relaunch takes the title.
        finish(Waiting{&server, crashed, server.name(), 0, std::move(written)},
               look(server.name()));
        return;
    }
    waiting_.push_back(
        Waiting{&server, crashed, aside, clock_.NowMs() + kNoticeDeadlineMs, std::move(written)});
    armDeadline();
}

void CrashEndingReport::lookNow() {
    // By name, as each look lets events run, during which reports may be written or added.
    QStringList due;
    for (const Waiting& w : waiting_)
        if (!w.looked || w.final)
            due << w.console;
    for (const QString& console : due) {
        const auto found = findWaiting(console);
        if (found == waiting_.end() || (found->looked && !found->final))
            continue;
        found->looked = true;
        const ConsoleEnding ending = look(console);
        const auto again = findWaiting(console);
        if (again == waiting_.end())
            continue;
        if (ending.state != ConsoleEnding::State::StillRunning || again->final) {
            const Waiting waiting = *again;
            waiting_.erase(again);
            finish(waiting, ending);
            continue;
        }
        // A notice that came before the watch began is kept by the console for it.
        apis_.WatchConsoleEnding(console, [this, console] { noticed(console); });
    }
    armDeadline();
}

std::vector<CrashEndingReport::Waiting>::iterator
CrashEndingReport::findWaiting(const QString& console) {
    return std::find_if(waiting_.begin(), waiting_.end(),
                        [&](const Waiting& w) { return w.console == console; });
}

ConsoleEnding CrashEndingReport::look(const QString& console) {
    return apis_.ExamineEndedConsole(console, kCrashReportLines);
}

void CrashEndingReport::noticed(const QString& console) {
    const auto found = findWaiting(console);
    if (found == waiting_.end()) {
        // Reported at its deadline while it still seemed to run: closed now that it has ended.
        if (closeWhenEnded_.removeAll(console) > 0)
            apis_.CloseEndedConsole(console);
        return;
    }
    const Waiting waiting = *found;
    waiting_.erase(found); // before the look, during which events run
    const ConsoleEnding ending = look(console);
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
        finish(waiting, look(waiting.console));
    armDeadline();
}

// Written at the next look, whatever it tells: lookNow keeps the order in which they came.
void CrashEndingReport::finishEarlierReport(const ServerSupervisor& server) {
    for (Waiting& w : waiting_)
        if (w.server == &server)
            w.final = true;
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
        if (waiting.written)
            waiting.written();
        return;
    }
    QString how = ending.how;
    if (ending.state == ConsoleEnding::State::Gone)
        how = QStringLiteral("how it ended is not known, its console is gone");
    else if (ending.state == ConsoleEnding::State::StillRunning)
        how = QStringLiteral("how it ended is not known, its console still runs a process");
    if (ending.state == ConsoleEnding::State::Ended)
        server.lastEnding = how;
    writeReport(server, waiting.crashed, how, ServerLinesOf(ending));
    // A console moved aside that seemed gone may only have had no answer (its tmux stopped):
    // it is closed all the same, once it can be.
    if (ending.state == ConsoleEnding::State::Ended ||
        (aside && ending.state == ConsoleEnding::State::Gone))
        apis_.CloseEndedConsole(waiting.console); // under its title: the title is free again
    else if (aside && ending.state == ConsoleEnding::State::StillRunning)
        closeWhenEnded_ << waiting.console;
    if (waiting.written)
        waiting.written();
}

void CrashEndingReport::reportHung(ServerSupervisor& server, const QString& reason) {
    finishEarlierReport(server);
    lookNow(); // the earlier report first, as the server's account is to be of this one
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
    QString line = log_.Now() + QStringLiteral("> ") + name + QStringLiteral(": ") + how;
    if (!log_.folder().isEmpty()) {
        // Named after the server's program file, whatever program the installation runs for it.
        const QString stem = server.programFile().mid(1);
        const CrashFacts facts{log_.Now(),   name, crashed.sExePath, stem,
                               crashed.lPID, how,  lastLines,        kCrashReportLines};
        QString error;
        const QString stamp = QDateTime::fromMSecsSinceEpoch(clock_.EpochMs())
                                  .toString(QStringLiteral("yyyyMMdd-HHmmss"));
        const QString path = WriteCrashReport(log_.folder(), facts, stamp, &error);
        line += path.isEmpty() ? QStringLiteral("; the crash report cannot be written: ") + error
                               : QStringLiteral("; crash report: ") + path;
        server.lastCrash.reportFile = path;
        if (!path.isEmpty())
            PruneCrashReports(log_.folder(), stem, reportsKept_);
    }
    log_.LauncherLogAdd(line);
}
