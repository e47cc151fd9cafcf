// Start, stop, restart and kill of one server while the others keep running. A server stopped
// this way is not watched for crashes until it is started again, and the launcher stays online
// while any server is meant to run or still being stopped. A stop or a restart is a state with a
// deadline: nothing waits for the server to end.
#include "ServerFleet.h"

#include "Clock.h"
#include "ConsoleMirror.h"
#include "CrashMonitor.h"
#include "LauncherLog.h"
#include "LauncherState.h"
#include "StopSequence.h"
#include "modAPIs.h"

#include <algorithm>

namespace {

using State = ServerSupervisor::State;

bool isServer(int server) {
    return server >= 0 && server < ServerTable::kCount;
}

} // namespace

bool ServerFleet::CanStartServer(int server) const {
    return isServer(server) && !sequence_ && !supervisor(server).keepsLauncherOnline() &&
           startRefusal(server).isEmpty();
}

bool ServerFleet::CanStopServer(int server) const {
    if (!isServer(server) || sequence_)
        return false;
    const State state = supervisor(server).state();
    // One that outlived its stop sequence may be asked again.
    return state == State::Running || state == State::CrashedWaiting ||
           (outlivedItsStop(server) && !supervisor(server).restarting());
}

bool ServerFleet::CanKillServer(int server) const {
    return isServer(server) && !sequence_ && !ServerProc(server).hProcess.isNull() &&
           ServerRuns(server);
}

void ServerFleet::StartServerAlone(int server) {
    if (!CanStartServer(server))
        return;
    beforeStart();
    startOneServer(server);
    followServerStates();
}

void ServerFleet::StopServerAlone(int server) {
    if (!CanStopServer(server))
        return;
    if (ServerRuns(server))
        askToStop(server, StopPurpose::Stop);
    else
        supervisor(server).stopped();
    CheckDeadlines();
    followServerStates();
}

void ServerFleet::RestartServer(int server) {
    if (!CanStopServer(server))
        return;
    // As a start does: an edited installation's file takes effect, its stop sequence included.
    beforeStart();
    askToStop(server, StopPurpose::Restart);
    CheckDeadlines();
    followServerStates();
}

void ServerFleet::KillServer(int server) {
    if (!CanKillServer(server))
        return;
    ServerSupervisor& s = supervisor(server);
    log_.note(QStringLiteral("Killing ") + s.name() +
              QStringLiteral(" (SIGKILL to every process of it) ..."));
    // Its end is no crash: the operator ended it.
    if (s.state() != State::Stopping)
        s.stopped();
    else
        s.restartBecomesStop();
    const std::int32_t result = services_.apis->KillServer(ServerProc(server).hProcess);
    log_.note(s.name() + (result != 0 ? QStringLiteral(" was killed.")
                                      : QStringLiteral(" could not be killed: it has ended.")));
    CheckDeadlines();
    followServerStates();
}

void ServerFleet::askToStop(int server, StopPurpose purpose) {
    const QString& name = supervisor(server).name();
    log_.note(QStringLiteral("Stopping ") + name + QStringLiteral(" ..."));
    const QString stamp = log_.Now();
    const std::int32_t result = beginStop(server, purpose);
    log_.LauncherLogAdd(stamp + ServerTable::stopLogPrefixes()[server] + QString::number(result));
}

void ServerFleet::startOneServer(int server) {
    const bool started = StartServer(server, kSettleSeconds) == 0;
    if (started && server == ServerTable::kMap && supervisor(server).watched())
        ChangeLauncherState(Transition::ArmPriorityTimer);
}

void ServerFleet::followServerStates() {
    const bool keepOnline =
        std::any_of(supervisors_.begin(), supervisors_.end(),
                    [](const ServerSupervisor* s) { return s->keepsLauncherOnline(); });
    if (keepOnline && serverState_ == LauncherState::Offline) {
        ChangeLauncherState(Transition::Online);
        mirror_.RefreshSelected();
    } else if (!keepOnline && serverState_ > LauncherState::Offline) {
        monitor_->ForgetCrashes();
        ChangeLauncherState(Transition::Offline);
    }
}
