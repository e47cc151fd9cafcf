// The stop of all three servers, each by its stop sequence, and the sequences' deadlines.
#include "ServerFleet.h"

#include "Clock.h"
#include "CrashMonitor.h"
#include "LauncherLog.h"
#include "LauncherState.h"
#include "StopSequence.h"
#include "modAPIs.h"

#include <algorithm>

namespace {

using State = ServerSupervisor::State;

// How long the default stop waits for a server to end: after a stop of all, and for a restart.
constexpr int kStopWaitSeconds = 5;
constexpr int kRestartWaitSeconds = 30;

} // namespace

void ServerFleet::SetStopPlan(int server, std::optional<StopPlan> plan) {
    stopPlans_[server] = std::move(plan);
}

// The close requests go to all three at once, without a pause; each server's later steps, and
// the wait for its end, run on their own deadlines.
void ServerFleet::StopServers() {
    emit stopOfAllAsked();
    if (sequence_) {
        sequence_->stopped = true;
        // One that waits for a server to be ready ends here; one that starts a server ends when
        // that start returns.
        if (!sequence_->starting)
            endStartSequence(SequenceEnd::Stopped);
    }
    monitor_->ForgetCrashes(); // the operator starts afresh
    tmrStatusUpdater->stop();
    stoppingAll_ = true;
    log_.note(QStringLiteral("Terminating Servers by Sending Terminate Signal..."));
    for (int i = 0; i < kCount; ++i) {
        ServerSupervisor& s = supervisor(i);
        const QString stamp = log_.Now();
        std::int32_t result;
        if (stopUnderWay(i)) {
            s.restartBecomesStop(); // a restart under way ends as a stop
            result = 1;             // asked already; its sequence runs on
        } else if (ServerRuns(i) || s.state() == State::Starting) {
            result = beginStop(i, StopPurpose::Stop);
        } else {
            s.stopped();
            result = services_.apis->CloseServerConsole(s.name());
        }
        log_.LauncherLogAdd(stamp + ServerTable::stopLogPrefixes()[i] + QString::number(result));
    }
    CheckDeadlines();
    if (!anyStopping())
        ChangeLauncherState(Transition::Offline);
}

void ServerFleet::StopServersAndGoOffline() {
    StopServers();
    if (!anyStopping())
        ChangeLauncherState(Transition::Offline);
}

std::int32_t ServerFleet::beginStop(int server, StopPurpose purpose) {
    ServerSupervisor& s = supervisor(server);
    s.stopAsked(purpose == StopPurpose::Restart);
    const int wait = purpose == StopPurpose::Restart ? kRestartWaitSeconds : kStopWaitSeconds;
    stops_[server] = std::make_unique<StopSequence>(
        *this, log_, server, stopPlans_[server].value_or(StopPlan::Default(wait)));
    return stops_[server]->begin();
}

// What comes after a server's stop sequence: a restarted server is started again, a stopped one
// is stopped, and one that outlived its sequence is named in the log.
void ServerFleet::finishStop(int server) {
    ServerSupervisor& s = supervisor(server);
    const StopSequence& stop = *stops_[server];
    const QString after =
        stop.plan().isDefault()
            ? QStringLiteral(" %1 seconds after the close request").arg(stop.plannedSeconds())
            : QStringLiteral(" after its stop sequence");
    if (s.restarting()) {
        if (stop.serverEnded()) {
            startOneServer(server);
            return;
        }
        log_.note(s.name() + QStringLiteral(" has not ended") + after +
                  QStringLiteral("; it is left running."));
        s.markRunning(services_.clock->NowMs());
        return;
    }
    if (stop.serverEnded()) {
        s.stopped();
        services_.apis->CloseEndedConsole(s.name()); // a console kept open by remain-on-exit
        return;
    }
    // It stays "stopping", and the launcher online, until it ends or the operator kills it.
    log_.note(s.name() + QStringLiteral(" is still running") + after + u'.');
}

void ServerFleet::CheckDeadlines() {
    bool acted = false;
    for (int i = 0; i < kCount; ++i) {
        ServerSupervisor& s = supervisor(i);
        if (s.state() != State::Stopping || !stops_[i])
            continue;
        StopSequence& stop = *stops_[i];
        if (stop.concluded()) {
            // Outlived its sequence, and has ended since.
            if (!ServerRuns(i)) {
                s.stopped();
                services_.apis->CloseEndedConsole(s.name());
                acted = true;
            }
            continue;
        }
        if (!stop.advance())
            continue;
        stop.conclude();
        finishStop(i);
        acted = true;
    }
    if (acted) {
        followServerStates();
        if (stoppingAll_ && !AnyStopUnderWay()) {
            stoppingAll_ = false;
            if (StillRunningAfterStop().isEmpty())
                log_.note(QStringLiteral("All servers have ended."));
        }
        if (!AnyStopUnderWay())
            emit stopsSettled();
    }
    scheduleDeadlineCheck();
}

void ServerFleet::scheduleDeadlineCheck() {
    std::int64_t next = -1;
    for (int i = 0; i < kCount; ++i) {
        if (!stopUnderWay(i))
            continue;
        const std::int64_t at = stops_[i]->nextCheckMs();
        next = next < 0 ? at : std::min(next, at);
    }
    if (next < 0) {
        tmrDeadlines_->stop();
        return;
    }
    tmrDeadlines_->start(
        static_cast<int>(std::max<std::int64_t>(next - services_.clock->NowMs(), 0)));
}

bool ServerFleet::anyStopping() const {
    return std::any_of(supervisors_.begin(), supervisors_.end(),
                       [](const ServerSupervisor* s) { return s->state() == State::Stopping; });
}

bool ServerFleet::stopUnderWay(int server) const {
    return supervisor(server).state() == State::Stopping && stops_[server] &&
           !stops_[server]->concluded();
}

bool ServerFleet::outlivedItsStop(int server) const {
    return supervisor(server).state() == State::Stopping && stops_[server] &&
           stops_[server]->concluded();
}

bool ServerFleet::AnyStopUnderWay() const {
    for (int i = 0; i < kCount; ++i)
        if (stopUnderWay(i))
            return true;
    return false;
}

QStringList ServerFleet::StillRunningAfterStop() const {
    QStringList names;
    for (int i = 0; i < kCount; ++i)
        if (outlivedItsStop(i))
            names << supervisor(i).name();
    return names;
}

bool ServerFleet::AnythingToStop() const {
    if (serverState_ > LauncherState::Offline || sequence_)
        return true;
    return std::any_of(supervisors_.begin(), supervisors_.end(),
                       [](const ServerSupervisor* s) { return s->keepsLauncherOnline(); });
}
