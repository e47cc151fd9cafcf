// Readiness after a start, and the health probes of running servers.
#include "ServerFleet.h"

#include "Clock.h"
#include "CrashMonitor.h"
#include "HealthProbes.h"
#include "LauncherLog.h"
#include "LauncherOptions.h"
#include "ReadinessWatch.h"
#include "StopSequence.h"

namespace {

using State = ServerSupervisor::State;

QString SecondsText(std::int64_t ms) {
    return QString::number(static_cast<double>(ms) / 1000.0, 'f', 1) + QStringLiteral(" s");
}

} // namespace

// Right after a launch: a server whose rule waits is not ready until the rule says so.
void ServerFleet::watchReadiness(int server) {
    ServerSupervisor& s = supervisor(server);
    if (!s.health.ready.waits()) {
        readiness_[server].reset();
        return;
    }
    readiness_[server] = std::make_unique<ReadinessWatch>(
        *services_.apis, s.name(), s.process.hProcess, s.health.ready, services_.clock->NowMs());
    s.setReadiness(true, false);
    scheduleHealthCheck();
}

void ServerFleet::CheckHealth() {
    const std::int64_t now = services_.clock->NowMs();
    for (int i = 0; i < kCount; ++i) {
        ServerSupervisor& s = supervisor(i);
        if (readiness_[i] && !s.watched()) {
            // Crashed or stopped while it was waited for; a relaunch waits for it afresh.
            readiness_[i].reset();
            if (!s.meantToRun())
                readinessDecided(i, false);
            continue;
        }
        if (readiness_[i] && !ServerRuns(i)) {
            // Ended while it was waited for: the crash check relaunches it once online.
            readiness_[i].reset();
            log_.note(s.name() + QStringLiteral(" ended before it was ready."));
            s.setReadiness(false, false);
            readinessDecided(i, false);
            continue;
        }
        if (readiness_[i]) {
            if (now < readiness_[i]->nextLookMs())
                continue;
            const ReadinessWatch::Verdict verdict = readiness_[i]->look(now);
            if (verdict == ReadinessWatch::Verdict::Waiting)
                continue;
            const std::unique_ptr<ReadinessWatch> watch = std::move(readiness_[i]);
            const bool ready = verdict == ReadinessWatch::Verdict::Ready;
            if (ready)
                log_.note(s.name() + QStringLiteral(" is ready (") + watch->how() +
                          QStringLiteral(", after ") + SecondsText(now - watch->startedMs()) +
                          QStringLiteral(")"));
            else if (!watch->how().isEmpty())
                log_.note(s.name() + QStringLiteral(": ") + watch->how());
            s.setReadiness(false, ready);
            readinessDecided(i, ready);
            continue;
        }
        // Like the crash check, the probes act only while crashed servers are to be restarted.
        if (!s.watched() || s.health.probes.empty() || options_.autoRestart != 1) {
            probes_[i].reset();
            continue;
        }
        if (!probes_[i] || probes_[i]->process() != s.process.hProcess) {
            probes_[i] =
                std::make_unique<HealthProbes>(*services_.apis, s.name(), s.process.hProcess,
                                               s.health.probes, now, probesMustPass_[i]);
            continue;
        }
        if (now < probes_[i]->nextLookMs())
            continue;
        const std::optional<QString> reason = probes_[i]->look(now, latestUsage(i));
        for (const QString& note : probes_[i]->takeNotes())
            log_.note(s.name() + QStringLiteral(": ") + note);
        if (reason) {
            // A probe that never passed restarts the server once; after that, it has to pass
            // before it can fail it again.
            probesMustPass_[i] = probes_[i]->failedBeforePassing();
            probes_[i].reset();
            ++s.probeFailures;
            monitor_->ServerFailedProbe(i, *reason);
        }
    }
    scheduleHealthCheck();
}

// The verdict on a server's readiness: the start sequence that waits for it goes on, or stops
// there when the installation says so.
void ServerFleet::readinessDecided(int server, bool ready) {
    const ServerSupervisor& s = supervisor(server);
    const bool awaited = sequence_ && sequence_->awaiting && sequence_->next == server;
    const QString notReady =
        s.name() + QStringLiteral(" not ready after %1 s").arg(s.health.ready.timeoutSeconds);
    const bool last = server + 1 >= kCount;
    if (!awaited) {
        if (!ready && s.watched())
            log_.note(notReady + QStringLiteral("; it is watched as running all the same."));
        return;
    }
    sequence_->awaiting = false;
    emit startAwaitsReadiness(false);
    if (!ready && s.watched() && s.health.ready.stopIfNotReady) {
        log_.note(notReady + (last ? QStringLiteral("; the start stops here.")
                                   : QStringLiteral("; the start stops here: ") +
                                         notStarted(server + 1) + QStringLiteral(" not started.")));
        endStartSequence(SequenceEnd::EndedEarly);
        return;
    }
    if (!ready && s.watched())
        log_.note(notReady + (last ? QStringLiteral("; it is watched as running all the same.")
                                   : QStringLiteral("; starting ") + supervisor(server + 1).name() +
                                         QStringLiteral(" anyway")));
    ++sequence_->next;
    continueStartSequence();
}

void ServerFleet::scheduleHealthCheck() {
    std::int64_t next = -1;
    for (int i = 0; i < kCount; ++i) {
        std::int64_t at = -1;
        if (readiness_[i])
            at = readiness_[i]->nextLookMs();
        else if (probes_[i])
            at = probes_[i]->nextLookMs();
        else if (supervisor(i).watched() && !supervisor(i).health.probes.empty() &&
                 options_.autoRestart == 1)
            at = services_.clock->NowMs(); // its probes begin
        if (at >= 0)
            next = next < 0 ? at : std::min(next, at);
    }
    if (next < 0) {
        tmrHealth_->stop();
        return;
    }
    tmrHealth_->start(static_cast<int>(std::max<std::int64_t>(next - services_.clock->NowMs(), 0)));
}

// A hung server is stopped by its stop sequence (and killed after it, where the installation
// says so), then started again.
void ServerFleet::restartHungServer(int server) {
    beginStop(server, StopPurpose::Restart);
    CheckDeadlines();
    followServerStates();
}
