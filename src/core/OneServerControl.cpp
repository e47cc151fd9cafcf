// Start, stop and restart of one server while the others keep running. A server stopped this way
// is not watched for crashes until it is started again, and the launcher stays online while any
// server is meant to run. A restart is a state with a deadline: nothing waits for the server to
// end.
#include "ServerFleet.h"

#include "Clock.h"
#include "ConsoleMirror.h"
#include "CrashMonitor.h"
#include "LauncherLog.h"
#include "LauncherState.h"

#include <QTimer>
#include <algorithm>

namespace {

using State = ServerSupervisor::State;

// How long a restart waits for the server to end after its close request. A server that takes
// longer is left running and watched again; it is never ended by force.
constexpr std::int64_t kRestartWaitSeconds = 30;
// How often a restart looks whether its server has ended, where the platform does not say so.
constexpr std::int64_t kRestartPollMs = 100;

bool isServer(int server) {
    return server >= 0 && server < ServerTable::kCount;
}

} // namespace

bool ServerFleet::CanStartServer(int server) const {
    return isServer(server) && !sequence_ && !supervisor(server).meantToRun();
}

bool ServerFleet::CanStopServer(int server) const {
    if (!isServer(server) || sequence_)
        return false;
    const State state = supervisor(server).state();
    return state == State::Running || state == State::CrashedWaiting;
}

void ServerFleet::StartServerAlone(int server) {
    if (!CanStartServer(server))
        return;
    startOneServer(server);
    followServerStates();
}

void ServerFleet::StopServerAlone(int server) {
    if (!CanStopServer(server))
        return;
    supervisor(server).changeState(State::Stopped);
    askToStop(server);
    followServerStates();
}

void ServerFleet::RestartServer(int server) {
    if (!CanStopServer(server))
        return;
    ServerSupervisor& s = supervisor(server);
    s.changeState(State::Stopping);
    s.dueMs = services_.clock->NowMs() + kRestartWaitSeconds * 1000;
    askToStop(server);
    CheckDeadlines();
}

void ServerFleet::askToStop(int server) {
    log_.note(QStringLiteral("Stopping ") + supervisor(server).name() + QStringLiteral(" ..."));
    closeOneServer(server, LauncherLog::Now());
}

void ServerFleet::CheckDeadlines() {
    bool acted = false;
    for (int i = 0; i < kCount; ++i) {
        ServerSupervisor& s = supervisor(i);
        if (s.state() != State::Stopping)
            continue;
        if (!ServerRuns(i)) {
            startOneServer(i);
            acted = true;
        } else if (services_.clock->NowMs() >= s.dueMs.value_or(0)) {
            log_.note(s.name() + QStringLiteral(" has not ended %1 seconds after the close "
                                                "request; it is left running.")
                                     .arg(kRestartWaitSeconds));
            s.markRunning(services_.clock->NowMs());
            acted = true;
        }
    }
    if (acted)
        followServerStates();
    scheduleDeadlineCheck();
}

void ServerFleet::scheduleDeadlineCheck() {
    std::int64_t wait = -1;
    for (const ServerSupervisor* s : supervisors_) {
        if (s->state() != State::Stopping)
            continue;
        const std::int64_t left =
            std::max<std::int64_t>(s->dueMs.value_or(0) - services_.clock->NowMs(), 0);
        wait = wait < 0 ? std::min(left, kRestartPollMs) : std::min(wait, left);
    }
    if (wait < 0)
        tmrDeadlines_->stop();
    else
        tmrDeadlines_->start(static_cast<int>(wait));
}

void ServerFleet::startOneServer(int server) {
    tmrStopCheck->stop(); // what runs after this start is no news of the last stop
    const bool started = StartServer(server, kSettleSeconds) == 0;
    if (started && server == ServerTable::kMap && supervisor(server).watched())
        ChangeLauncherState(Transition::ArmPriorityTimer);
}

void ServerFleet::followServerStates() {
    bool meantToRun = false;
    for (const ServerSupervisor* s : supervisors_)
        meantToRun = meantToRun || s->meantToRun();
    if (meantToRun && serverState_ == LauncherState::Offline) {
        ChangeLauncherState(Transition::Online);
        mirror_.RefreshSelected();
    } else if (!meantToRun && serverState_ > LauncherState::Offline) {
        monitor_->ForgetCrashes();
        ChangeLauncherState(Transition::Offline);
    }
}
