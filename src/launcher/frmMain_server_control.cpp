#include "frmMain.h"

#include "Clock.h"
#include "TabStrip.h"
#include "modAPIs.h"

#include <QTimer>

// Start, stop and restart of one server while the others keep running. A server stopped this way
// is not watched for crashes until it is started again, and the launcher stays online while any
// server is meant to run.

namespace {

using Mode = ServerRunStates::Mode;

constexpr float kSettleSeconds = 0.5f;
constexpr std::int32_t kPollStepMs = 50;
// How long a restart waits for the server to end after its close request. A server that takes
// longer is left running and watched again; it is never ended by force.
constexpr std::int64_t kRestartWaitSeconds = 30;

bool isServer(int server) {
    return server >= 0 && server < ServerTable::kCount;
}

} // namespace

bool frmMain::CanStartServer(int server) const {
    return isServer(server) && !startSequenceRunning_ && !runStates_.meantToRun(server);
}

bool frmMain::CanStopServer(int server) const {
    return isServer(server) && !startSequenceRunning_ && runStates_.mode(server) == Mode::Running;
}

QString frmMain::ServerTabToolTip(int server) const {
    if (!isServer(server))
        return QString();
    return runStates_.describe(server, ServerName[server], ServerProc[server].lPID,
                               services_.clock->NowMs());
}

void frmMain::StartServerAlone(int server) {
    if (!CanStartServer(server))
        return;
    startOneServer(server);
    followServerStates();
}

void frmMain::StopServerAlone(int server) {
    if (!CanStopServer(server))
        return;
    runStates_.set(server, Mode::Stopped);
    closeOneServer(server);
    followServerStates();
}

void frmMain::RestartServer(int server) {
    if (!CanStopServer(server))
        return;
    runStates_.set(server, Mode::Restarting);
    closeOneServer(server);
    // A stop of this server or of all of them meanwhile ends the restart.
    if (waitForServerEnd(server))
        startOneServer(server);
    followServerStates();
}

int frmMain::serverIndexOf(const ServerProcess& record) const {
    for (int i = 0; i < ServerTable::kCount; ++i)
        if (&ServerProc[i] == &record)
            return i;
    return -1;
}

void frmMain::closeOneServer(int server) {
    relaunchAtMs_[server].reset(); // a relaunch put off after a crash is called off too
    LauncherLogAdd(Now() + QStringLiteral("> Stopping ") + ServerName[server] +
                   QStringLiteral(" ..."));
    const QString stamp = Now();
    const std::int32_t result = services_.apis->CloseServerConsole(ServerName[server]);
    LauncherLogAdd(stamp + ServerTable::stopLogPrefixes()[server] + QString::number(result));
}

// Waits, keeping the window responsive, until the server's process has ended or the restart wait
// is over. False when the server is no longer to be restarted.
bool frmMain::waitForServerEnd(int server) {
    Clock& clock = *services_.clock;
    const std::int64_t start = clock.NowMs();
    const ServerProcess& record = ServerProc[server];
    while (services_.apis->ProcessRunsProgram(record.hProcess, record.sExePath)) {
        if (clock.NowMs() - start >= kRestartWaitSeconds * 1000) {
            LauncherLogAdd(Now() + QStringLiteral("> ") + ServerName[server] +
                           QStringLiteral(" has not ended %1 seconds after the close request; it "
                                          "is left running.")
                               .arg(kRestartWaitSeconds));
            break;
        }
        clock.Sleep(kPollStepMs);
        letPendingEventsRun();
        if (runStates_.mode(server) != Mode::Restarting)
            return false;
    }
    return runStates_.mode(server) == Mode::Restarting;
}

void frmMain::startOneServer(int server) {
    tmrStopCheck->stop(); // what runs after this start is no news of the last stop
    const QString path = services_.launcherFolder() + ServerTable::programFiles()[server];
    const bool started =
        StartServer(path, ServerName[server], ServerProc[server], kSettleSeconds) == 0;
    if (runStates_.mode(server) != Mode::Running)
        return; // stopped while it started
    if (!started)
        runStates_.set(server, Mode::StartFailed); // the log says why; no crash to announce
    else if (server == ServerTable::kMap)
        ChangeLauncherState(Transition::ArmPriorityTimer);
}

void frmMain::followServerStates() {
    const bool meantToRun = runStates_.anyMeantToRun();
    if (meantToRun && ServerState == LauncherState::Offline) {
        ChangeLauncherState(Transition::Online);
        const int tab = conTab->SelectedIndex();
        if (tab < 4)
            ShowServerMessages(static_cast<std::int16_t>(tab - 1));
    } else if (!meantToRun && ServerState > LauncherState::Offline) {
        ++stopCount_; // as after a stop of all: waits under way see that the servers are gone
        ChangeLauncherState(Transition::Offline);
    }
}
