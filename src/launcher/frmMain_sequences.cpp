#include "frmMain.h"

#include "Clock.h"
#include "TabStrip.h"
#include "modAPIs.h"

#include <QTimer>

namespace {

constexpr float kSettleSeconds = 0.5f;
constexpr std::int32_t kPollStepMs = 50;

// Clears a flag when the scope ends, however it ends.
class FlagGuard {
public:
    explicit FlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagGuard() { flag_ = false; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

private:
    bool& flag_;
};

} // namespace

void frmMain::WaitSeconds(float sngSeconds) {
    Clock& clock = *services_.clock;
    const std::int64_t start = clock.NowMs();
    const double waitMs = static_cast<double>(sngSeconds) * 1000.0;
    while (static_cast<double>(clock.NowMs() - start) < waitMs) {
        clock.Sleep(kPollStepMs);
        letPendingEventsRun();
    }
}

std::int16_t frmMain::StartServer(const QString& sExePath, const QString& sName,
                                  ServerProcess& udtProcess, float sngWait) {
    const ServerRunStates::StartMark starting(runStates_, serverIndexOf(udtProcess), udtProcess,
                                              *services_.clock);
    LauncherLogAdd(Now() + QStringLiteral("> Starting ") + sName + QStringLiteral(" ..."));
    const std::uint64_t stopsBefore = stopCount_;
    letPendingEventsRun();
    // The operator stopped the servers meanwhile: this one is not started behind their back.
    if (stopCount_ != stopsBefore)
        return -1;

    // The path may be the record's own field: take it before the record is replaced.
    const QString path = sExePath;
    if (!services_.apis->FileExists(path)) {
        LauncherLogAdd(QStringLiteral("Cannot find ") + path);
        return -1;
    }

    const ProcessHandle replaced = udtProcess.hProcess;
    // Never a second copy: a server of this installation that already runs is watched instead.
    const ServerProcess running = services_.apis->FindRunningServer(path);
    if (running.lPID > 0) {
        udtProcess = running;
        services_.apis->ReleaseProcessHandle(replaced);
        WatchServerEnds();
        LauncherLogAdd(Now() + QStringLiteral("> ") + sName +
                       QStringLiteral(" is already running (PID ") + QString::number(running.lPID) +
                       QStringLiteral("); watching it instead of starting another."));
        letPendingEventsRun();
        return 0;
    }
    services_.apis->ReleaseProcessHandle(running.hProcess);
    prepareConsoleLog(path, sName);
    udtProcess = services_.apis->LaunchServer(path, sName);
    services_.apis->ReleaseProcessHandle(replaced);

    if (udtProcess.lPID == -1) {
        // The record keeps naming its program, so that the status check tries it again.
        udtProcess.sExePath = path;
        LauncherLogAdd(QStringLiteral("Error Starting ") + sName +
                       QStringLiteral(", please see output in Server status"));
        const QString reason = services_.apis->LastLaunchError();
        LauncherLogAdd(Now() + QStringLiteral("> ") + sName +
                       QStringLiteral(" could not be started: ") +
                       (reason.isEmpty() ? QStringLiteral("no reason was given") : reason));
        SetOutputText(QStringLiteral("Cannot create the process for ") + sName);
        return -1;
    }

    WatchServerEnds();
    WaitSeconds(sngWait);
    LauncherLogAdd(Now() + QStringLiteral("> ") + sName + QStringLiteral(" PID is ") +
                   QString::number(udtProcess.lPID));
    letPendingEventsRun();
    return 0;
}

void frmMain::StartServers() {
    // A start request while a start runs (a double click during a settle time) is ignored:
    // it would launch every server a second time.
    if (startSequenceRunning_)
        return;
    FlagGuard running(startSequenceRunning_);
    const std::uint64_t stopsBefore = stopCount_;

    tmrStopCheck->stop(); // what runs after this start is no news of the last stop
    for (int i = 0; i < ServerTable::kCount; ++i) {
        // A stop during the sequence ends it: what was started so far has been asked to close.
        if (stopCount_ != stopsBefore)
            return;
        const QString path = services_.launcherFolder() + ServerTable::programFiles()[i];
        if (StartServer(path, ServerName[i], ServerProc[i], kSettleSeconds) == -1) {
            WatchUnstartedServers(i);
            return;
        }
    }
    if (stopCount_ != stopsBefore)
        return;
    ChangeLauncherState(Transition::ArmPriorityTimer);
    ChangeLauncherState(Transition::Online);

    const int tab = conTab->SelectedIndex();
    if (tab < 4)
        ShowServerMessages(static_cast<std::int16_t>(tab - 1));
}

void frmMain::StopServers() {
    ++stopCount_;
    runStates_.setAll(ServerRunStates::Mode::Stopped);
    tmrStatusUpdater->stop();
    LauncherLogAdd(Now() + QStringLiteral("> Terminating Servers by Sending Terminate Signal..."));
    for (int i = 0; i < ServerTable::kCount; ++i) {
        const QString stamp = Now();
        const std::int32_t result = services_.apis->CloseServerConsole(ServerName[i]);
        LauncherLogAdd(stamp + ServerTable::stopLogPrefixes()[i] + QString::number(result));
    }
    ChangeLauncherState(Transition::Offline);
    ReportServersStillRunningLater();
}

void frmMain::cmdServerStart_Click() {
    if (startSequenceRunning_)
        return;
    const std::uint64_t stopsBefore = stopCount_;
    StartServers();
    // The launcher shows itself online even after a start that ended early, unless the
    // operator stopped the servers while it ran.
    if (stopCount_ == stopsBefore)
        ChangeLauncherState(Transition::Online);
}

void frmMain::cmdServerShutdown_Click() {
    StopServers();
    ChangeLauncherState(Transition::Offline);
}

void frmMain::mnuTrayStartServers_Click() {
    StartServers();
}

void frmMain::mnuTrayStopServers_Click() {
    StopServers();
}
