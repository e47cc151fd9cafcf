// The start sequence of all three servers, and the start of one.
#include "ServerFleet.h"

#include "Clock.h"
#include "ConsoleMirror.h"
#include "CrashMonitor.h"
#include "LauncherLog.h"
#include "LauncherOptions.h"
#include "LauncherState.h"
#include "modAPIs.h"

#include <cmath>

namespace {

using State = ServerSupervisor::State;

} // namespace

// Each event is handled the moment it comes; the clock says when the time is up.
void ServerFleet::WaitSeconds(float sngSeconds) {
    Clock& clock = *services_.clock;
    const std::int64_t start = clock.NowMs();
    const double waitMs = static_cast<double>(sngSeconds) * 1000.0;
    for (double left = waitMs; left > 0; left = waitMs - static_cast<double>(clock.NowMs() - start))
        clock.AwaitEvents(static_cast<std::int32_t>(std::ceil(left)));
}

std::int16_t ServerFleet::StartServer(int server, float sngWait, bool eventsFirst) {
    ServerSupervisor& s = supervisor(server);
    const QString path = programPath(server);
    const QString& sName = s.name();
    // A start that did not get there leaves the server not started, unless a stop came meanwhile.
    const auto failed = [&s] {
        if (s.state() == State::Starting)
            s.startFailed();
        return std::int16_t{-1};
    };
    if (!s.beginStart())
        return -1;
    log_.note(QStringLiteral("Starting ") + sName + QStringLiteral(" ..."));
    QString refusal = settingsRefusal(server);
    if (refusal.isEmpty())
        refusal = startRefusal(server);
    if (!refusal.isEmpty()) {
        log_.note(sName + QStringLiteral(" is not started: ") + refusal + u'.');
        s.lastStartError = refusal;
        return failed();
    }
    if (eventsFirst)
        letPendingEventsRun();
    // The operator stopped the servers meanwhile: this one is not started behind their back.
    if (s.state() != State::Starting)
        return -1;
    if (!services_.apis->FileExists(path)) {
        log_.LauncherLogAdd(QStringLiteral("Cannot find ") + path);
        s.lastStartError = QStringLiteral("its program ") + path + QStringLiteral(" is not there");
        return failed();
    }

    // Never a second copy: a server of this installation that already runs is watched instead.
    const ServerProcess running = services_.apis->FindRunningServer(path);
    if (running.lPID > 0) {
        ReplaceProcess(server, running);
        WatchServerEnd(server);
        log_.note(sName + QStringLiteral(" is already running (PID ") +
                  QString::number(running.lPID) +
                  QStringLiteral("); watching it instead of starting another."));
        letPendingEventsRun();
        if (s.state() == State::Starting)
            s.markRunning(services_.clock->NowMs());
        return 0;
    }
    services_.apis->ReleaseProcessHandle(running.hProcess);
    prepareConsoleLog(server);
    ReplaceProcess(server, services_.apis->LaunchServer(path, sName));

    if (s.process.lPID == -1) {
        // The record keeps naming its program, so that a check can try it again.
        s.process.sExePath = path;
        log_.LauncherLogAdd(QStringLiteral("Error Starting ") + sName +
                            QStringLiteral(", please see output in Server status"));
        const QString reason = s.process.sError;
        s.lastStartError = reason.isEmpty() ? QStringLiteral("no reason was given") : reason;
        log_.note(sName + QStringLiteral(" could not be started: ") + s.lastStartError);
        mirror_.SetPaneText(QStringLiteral("Cannot create the process for ") + sName);
        return failed();
    }

    WatchServerEnd(server);
    emit serverLaunched(server);
    WaitSeconds(sngWait);
    // The program's own id, where the launch returned before it was known.
    if (const std::int32_t pid = services_.apis->ServerProcessId(s.process.hProcess); pid > 0)
        s.process.lPID = pid;
    log_.note(sName + QStringLiteral(" PID is ") + QString::number(s.process.lPID));
    letPendingEventsRun();
    if (s.state() == State::Starting) {
        s.markRunning(services_.clock->NowMs());
        watchReadiness(server);
    }
    return 0;
}

void ServerFleet::prepareConsoleLog(int server) {
    ConsoleLog consoleLog;
    if (options_.logToDisk == 1 && !log_.folder().isEmpty())
        consoleLog =
            ConsoleLog{log_.folder() + supervisor(server).programFile() + QStringLiteral(".log"),
                       log_.maxBytes(), log_.kept()};
    services_.apis->SetConsoleLog(supervisor(server).name(), consoleLog);
}

ServerFleet::SequenceEnd ServerFleet::runStartSequence(bool goOnline) {
    // A start request while a start runs (a double click during a settle time) is ignored: it
    // would launch every server a second time.
    if (sequence_)
        return SequenceEnd::AlreadyRunning;
    beforeStart();
    sequence_ = std::make_unique<StartSequence>();
    sequence_->goOnline = goOnline;
    return continueStartSequence();
}

// Starts the servers from the sequence's next one on. A server with a readiness rule is waited
// for by the health check, which goes on from here once it is ready or its time is up.
ServerFleet::SequenceEnd ServerFleet::continueStartSequence() {
    StartSequence& sequence = *sequence_;
    for (; sequence.next < kCount; ++sequence.next) {
        // A stop during the sequence ends it: what was started so far has been asked to close.
        if (sequence.stopped)
            return endStartSequence(SequenceEnd::Stopped);
        const int server = sequence.next;
        sequence.starting = true;
        const std::int16_t started = StartServer(server, kSettleSeconds);
        sequence.starting = false;
        if (sequence.stopped)
            return endStartSequence(SequenceEnd::Stopped);
        if (started == -1) {
            leaveNotStarted(server);
            return endStartSequence(SequenceEnd::EndedEarly);
        }
        if (readiness_[server]) {
            sequence.awaiting = true;
            emit startAwaitsReadiness(true);
            return SequenceEnd::AwaitingReady;
        }
    }
    return endStartSequence(SequenceEnd::Complete);
}

ServerFleet::SequenceEnd ServerFleet::endStartSequence(SequenceEnd end) {
    const bool goOnline = sequence_->goOnline;
    const bool awaited = sequence_->awaiting;
    sequence_.reset();
    if (awaited)
        emit startAwaitsReadiness(false);
    if (end == SequenceEnd::Complete) {
        ChangeLauncherState(Transition::ArmPriorityTimer);
        ChangeLauncherState(Transition::Online);
        mirror_.RefreshSelected();
    }
    // The Start button shows the launcher online even after a start that ended early, unless the
    // operator stopped the servers while it ran.
    if (goOnline && (end == SequenceEnd::Complete || end == SequenceEnd::EndedEarly))
        ChangeLauncherState(Transition::Online);
    return end;
}

// The server that could not be started, and those after it, are not started: nobody watches them
// or tries them again until the operator starts them. The log names them all.
void ServerFleet::leaveNotStarted(int failed) {
    const QString names = notStarted(failed);
    log_.note(QStringLiteral("The start stopped at ") + supervisor(failed).name() +
              QStringLiteral(": ") + names +
              (names.contains(QStringLiteral(" and ")) ? QStringLiteral(" were not started.")
                                                       : QStringLiteral(" was not started.")));
}

QString ServerFleet::notStarted(int from) {
    QStringList names;
    for (int k = from; k < kCount; ++k) {
        names << supervisor(k).name();
        if (k > from || supervisor(k).state() == State::Starting)
            supervisor(k).leftNotStarted();
    }
    const QString last = names.takeLast();
    return names.isEmpty() ? last
                           : names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

void ServerFleet::StartServers() {
    runStartSequence(false);
}

void ServerFleet::StartServersAndGoOnline() {
    runStartSequence(true);
}
