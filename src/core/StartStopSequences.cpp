// The start sequence of all three servers, and the start of one.
#include "ServerFleet.h"

#include "Clock.h"
#include "ConsoleMirror.h"
#include "CrashMonitor.h"
#include "LauncherLog.h"
#include "LauncherOptions.h"
#include "LauncherState.h"
#include "modAPIs.h"

#include <QTimer>

namespace {

using State = ServerSupervisor::State;
constexpr std::int32_t kPollStepMs = 50;

} // namespace

void ServerFleet::WaitSeconds(float sngSeconds) {
    Clock& clock = *services_.clock;
    const std::int64_t start = clock.NowMs();
    const double waitMs = static_cast<double>(sngSeconds) * 1000.0;
    while (static_cast<double>(clock.NowMs() - start) < waitMs) {
        clock.Sleep(kPollStepMs);
        letPendingEventsRun();
    }
}

std::int16_t ServerFleet::StartServer(int server, float sngWait) {
    ServerSupervisor& s = supervisor(server);
    const QString path = programPath(server);
    const QString& sName = s.name();
    // A start that did not get there leaves the server not started, unless a stop came meanwhile.
    const auto failed = [&s] {
        if (s.state() == State::Starting)
            s.changeState(State::StartFailed);
        return std::int16_t{-1};
    };
    s.changeState(State::Starting);
    log_.note(QStringLiteral("Starting ") + sName + QStringLiteral(" ..."));
    letPendingEventsRun();
    // The operator stopped the servers meanwhile: this one is not started behind their back.
    if (s.state() != State::Starting)
        return -1;
    if (!services_.apis->FileExists(path)) {
        log_.LauncherLogAdd(QStringLiteral("Cannot find ") + path);
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
        const QString reason = services_.apis->LastLaunchError();
        log_.note(sName + QStringLiteral(" could not be started: ") +
                  (reason.isEmpty() ? QStringLiteral("no reason was given") : reason));
        mirror_.SetPaneText(QStringLiteral("Cannot create the process for ") + sName);
        return failed();
    }

    WatchServerEnd(server);
    WaitSeconds(sngWait);
    // The program's own id, where the launch returned before it was known.
    if (const std::int32_t pid = services_.apis->ServerProcessId(s.process.hProcess); pid > 0)
        s.process.lPID = pid;
    log_.note(sName + QStringLiteral(" PID is ") + QString::number(s.process.lPID));
    letPendingEventsRun();
    if (s.state() == State::Starting)
        s.markRunning(services_.clock->NowMs());
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

ServerFleet::SequenceEnd ServerFleet::runStartSequence() {
    // A start request while a start runs (a double click during a settle time) is ignored: it
    // would launch every server a second time.
    if (sequence_)
        return SequenceEnd::AlreadyRunning;
    beforeStart();
    StartSequence sequence;
    sequence_ = &sequence;
    struct Done {
        StartSequence*& running;
        ~Done() { running = nullptr; }
    } done{sequence_};

    for (int i = 0; i < kCount; ++i) {
        // A stop during the sequence ends it: what was started so far has been asked to close.
        if (sequence.stopped)
            return SequenceEnd::Stopped;
        if (StartServer(i, kSettleSeconds) == -1) {
            if (sequence.stopped)
                return SequenceEnd::Stopped;
            leaveNotStarted(i);
            return SequenceEnd::EndedEarly;
        }
    }
    if (sequence.stopped)
        return SequenceEnd::Stopped;
    ChangeLauncherState(Transition::ArmPriorityTimer);
    ChangeLauncherState(Transition::Online);
    mirror_.RefreshSelected();
    return SequenceEnd::Complete;
}

// The server that could not be started, and those after it, are not started: nobody watches them
// or tries them again until the operator starts them. The log names them all.
void ServerFleet::leaveNotStarted(int failed) {
    QStringList names;
    for (int k = failed; k < kCount; ++k) {
        names << supervisor(k).name();
        if (k > failed)
            supervisor(k).changeState(State::NotStarted);
    }
    const QString last = names.takeLast();
    const QString all =
        names.isEmpty() ? last : names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
    log_.note(QStringLiteral("The start stopped at ") + supervisor(failed).name() +
              QStringLiteral(": ") + all +
              (names.isEmpty() ? QStringLiteral(" was not started.")
                               : QStringLiteral(" were not started.")));
}

void ServerFleet::StartServers() {
    runStartSequence();
}

void ServerFleet::StartServersAndGoOnline() {
    const SequenceEnd end = runStartSequence();
    // The launcher shows itself online even after a start that ended early, unless the operator
    // stopped the servers while it ran.
    if (end == SequenceEnd::Complete || end == SequenceEnd::EndedEarly)
        ChangeLauncherState(Transition::Online);
}
