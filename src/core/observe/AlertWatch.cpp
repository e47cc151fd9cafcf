#include "AlertWatch.h"

#include "Clock.h"
#include "CrashMonitor.h"
#include "Scheduler.h"
#include "ServerFleet.h"

#include <QDateTime>
#include <QSysInfo>

namespace {

// The console lines an alert quotes, the newest ones.
constexpr int kAlertLines = 20;

QStringList LastLines(const QString& text) {
    QStringList lines = text.split(u'\n');
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    return lines.mid(std::max<qsizetype>(0, lines.size() - kAlertLines));
}

} // namespace

AlertWatch::AlertWatch(ServerFleet& fleet, Clock& clock, const QString& installation,
                       QObject* parent)
    : QObject(parent), fleet_(fleet), clock_(clock), installation_(installation),
      host_(QSysInfo::machineHostName()), idPrefix_(QString::number(clock.EpochMs(), 36)),
      tmrEpisodes_(clock.CreateTimer(this)) {
    tmrEpisodes_->setInterval(1000);
    connect(tmrEpisodes_, &ClockTimer::timeout, this, &AlertWatch::check);
    connect(&fleet_.monitor(), &CrashMonitor::serverCrashed, this,
            [this](int server, qint64) { serverCrashed(server); });
    for (int i = 0; i < ServerTable::kCount; ++i)
        connect(&fleet_.supervisor(i), &ServerSupervisor::stateChanged, this,
                [this](int server, ServerSupervisor::State) { serverStateChanged(server); });
    connect(&fleet_, &ServerFleet::stopEndedUnsaved, this, &AlertWatch::stopEndedUnsaved);
}

AlertWatch::~AlertWatch() = default;

void AlertWatch::setTiming(int backUpAfterSeconds, int summaryEverySeconds) {
    backUpAfterMs_ = std::int64_t{1000} * backUpAfterSeconds;
    summaryEveryMs_ = std::int64_t{1000} * summaryEverySeconds;
}

QString AlertWatch::Duration(std::int64_t ms) {
    const std::int64_t s = (ms + 500) / 1000;
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return s % 60 ? QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60)
                      : QStringLiteral("%1 min").arg(s / 60);
    const std::int64_t minutes = (s % 3600) / 60;
    return minutes ? QStringLiteral("%1 h %2 min").arg(s / 3600).arg(minutes)
                   : QStringLiteral("%1 h").arg(s / 3600);
}

Alert AlertWatch::make(Alert::Kind kind, int server, const QString& title, const QString& message) {
    Alert alert;
    alert.kind = kind;
    alert.id = idPrefix_ + u'-' + QString::number(++sequence_);
    alert.epochMs = clock_.EpochMs();
    alert.host = host_;
    alert.installation = installation_;
    if (server >= 0)
        alert.server = fleet_.supervisor(server).name();
    alert.title = title;
    alert.message = message;
    return alert;
}

void AlertWatch::raise(const Alert& alert) {
    emit alertRaised(alert);
}

void AlertWatch::armTimer() {
    const bool any =
        std::any_of(episodes_.begin(), episodes_.end(), [](const Episode& e) { return e.open; });
    if (any && !tmrEpisodes_->isActive())
        tmrEpisodes_->start();
    else if (!any)
        tmrEpisodes_->stop();
}

void AlertWatch::serverCrashed(int server) {
    Episode& e = episodes_[server];
    const std::int64_t now = clock_.NowMs();
    ++e.relaunches;
    if (e.open)
        return; // the episode was told when it began; its end, or a summary, tells the rest
    e = Episode{true, now, 1, now, 1};
    const ServerSupervisor& s = fleet_.supervisor(server);
    const ServerSupervisor::CrashAccount& crash = s.lastCrash;
    Alert alert;
    if (crash.hung) {
        alert = make(Alert::Kind::HealthFailed, server, s.name() + QStringLiteral(" is hung"),
                     s.name() + QStringLiteral(" failed its health check (") + crash.how +
                         QStringLiteral("); it is being restarted."));
    } else {
        const QString how =
            crash.how.isEmpty() ? QStringLiteral("how it ended is not known") : crash.how;
        alert = make(Alert::Kind::CrashBegan, server, s.name() + QStringLiteral(" crashed"),
                     s.name() + QStringLiteral(" crashed (") + how +
                         QStringLiteral("); the launcher relaunches it."));
    }
    alert.lines = LastLines(crash.lastLines);
    alert.report = crash.reportFile;
    alert.relaunches = 1;
    raise(alert);
    armTimer();
}

void AlertWatch::check() {
    const std::int64_t now = clock_.NowMs();
    for (int i = 0; i < ServerTable::kCount; ++i) {
        Episode& e = episodes_[i];
        if (!e.open)
            continue;
        const ServerSupervisor& s = fleet_.supervisor(i);
        if (!s.meantToRun() && s.state() != ServerSupervisor::State::Stopping) {
            e.open = false; // stopped on purpose meanwhile: nothing is back, nothing is down
            continue;
        }
        const bool up = s.state() == ServerSupervisor::State::Running && !s.awaitingReady() &&
                        fleet_.ServerRuns(i);
        if (up && now - s.runningSinceMs() >= backUpAfterMs_) {
            e.open = false;
            const QString relaunches = e.relaunches == 1
                                           ? QStringLiteral("1 relaunch")
                                           : QStringLiteral("%1 relaunches").arg(e.relaunches);
            Alert alert =
                make(Alert::Kind::BackUp, i, s.name() + QStringLiteral(" back up"),
                     s.name() + QStringLiteral(" back up after ") + relaunches +
                         QStringLiteral(" in ") + Duration(s.runningSinceMs() - e.beganMs));
            alert.relaunches = e.relaunches;
            alert.durationMs = s.runningSinceMs() - e.beganMs;
            raise(alert);
        } else if (now - e.toldMs >= summaryEveryMs_ && e.relaunches > e.relaunchesTold) {
            const int count = e.relaunches - e.relaunchesTold;
            Alert alert = make(
                Alert::Kind::StillCrashing, i, s.name() + QStringLiteral(" keeps crashing"),
                s.name() + QStringLiteral(" relaunched %1 %2 in the last %3; still crashing.")
                               .arg(count)
                               .arg(count == 1 ? QStringLiteral("time") : QStringLiteral("times"))
                               .arg(Duration(now - e.toldMs)));
            alert.relaunches = e.relaunches;
            alert.durationMs = now - e.beganMs;
            e.toldMs = now;
            e.relaunchesTold = e.relaunches;
            raise(alert);
        }
    }
    armTimer();
}

void AlertWatch::serverStateChanged(int server) {
    const ServerSupervisor& s = fleet_.supervisor(server);
    if (s.state() == ServerSupervisor::State::Running && fleet_.ServerRuns(server)) {
        startFailureTold_[server] = false;
    } else if (s.state() == ServerSupervisor::State::StartFailed && !startFailureTold_[server]) {
        startFailureTold_[server] = true;
        raise(make(Alert::Kind::StartFailed, server,
                   s.name() + QStringLiteral(" cannot be started"),
                   s.name() + QStringLiteral(" could not be started: ") + s.lastStartError + u'.'));
    }
}

void AlertWatch::stopEndedUnsaved(int server, bool ended) {
    const QString& name = fleet_.supervisor(server).name();
    raise(make(
        Alert::Kind::SaveNotConfirmed, server,
        name + QStringLiteral(" stopped without a confirmed save"),
        name + (ended ? QStringLiteral(" ended without confirming that it saved.")
                      : QStringLiteral(
                            " did not confirm that it saved before its stop sequence ended."))));
}

void AlertWatch::serverRestartingForMemory(int server, const QString& reason) {
    const QString& name = fleet_.supervisor(server).name();
    raise(make(Alert::Kind::MemoryRestart, server,
               name + QStringLiteral(" restarted for its memory"), reason));
}

void AlertWatch::launcherStarted() {
    raise(make(Alert::Kind::LauncherStarted, -1, QStringLiteral("Launcher started"),
               QStringLiteral("The launcher of ") + installation_ + QStringLiteral(" started.")));
}

void AlertWatch::launcherExiting(const QStringList& stillRunning) {
    raise(make(Alert::Kind::LauncherExited, -1, QStringLiteral("Launcher exited"),
               QStringLiteral("The launcher of ") + installation_ + QStringLiteral(" exited") +
                   (stillRunning.isEmpty() ? QStringLiteral(".")
                                           : QStringLiteral("; still running: ") +
                                                 stillRunning.join(QLatin1String(", ")) + u'.')));
}

void AlertWatch::sendTest() {
    raise(make(Alert::Kind::Test, -1, QStringLiteral("Test alert"),
               QStringLiteral("A test alert from the launcher of ") + installation_ +
                   QStringLiteral(": alerts reach you here.")));
}

void AlertWatch::watchSchedules(const Scheduler& scheduler) {
    connect(
        &scheduler, &Scheduler::restartBegan, this,
        [this](const QString& schedule, int server) { scheduledRestart(schedule, server, false); });
    connect(&scheduler, &Scheduler::restartDone, this, [this](const QString& schedule, int server) {
        scheduledRestart(schedule, server, true);
    });
    connect(&scheduler, &Scheduler::runFailed, this, &AlertWatch::scheduledRunFailed);
}

void AlertWatch::scheduledRestart(const QString& schedule, int server, bool done) {
    const bool one = server >= 0;
    const QString servers = one ? fleet_.supervisor(server).name() : QStringLiteral("The servers");
    const QString what = done
                             ? (one ? QStringLiteral(" runs again after the restart of schedule \"")
                                    : QStringLiteral(" run again after the restart of schedule \""))
                             : (one ? QStringLiteral(" is being restarted by schedule \"")
                                    : QStringLiteral(" are being restarted by schedule \""));
    raise(
        make(done ? Alert::Kind::ScheduledRestartDone : Alert::Kind::ScheduledRestart, server,
             done ? QStringLiteral("Scheduled restart done") : QStringLiteral("Scheduled restart"),
             servers + what + schedule + QStringLiteral("\".")));
}

void AlertWatch::scheduledRunFailed(const QString& schedule, int server, const QString& what) {
    raise(make(Alert::Kind::ScheduleFailed, server,
               QStringLiteral("Schedule \"") + schedule + QStringLiteral("\" failed"),
               QStringLiteral("Schedule \"") + schedule + QStringLiteral("\": ") + what + u'.'));
}

void AlertWatch::backupFinished(int server, bool ok, const QString& detail) {
    if (ok)
        return;
    const QString& name = fleet_.supervisor(server).name();
    raise(make(Alert::Kind::BackupFailed, server, name + QStringLiteral(" backup failed"),
               name + QStringLiteral(" could not be backed up: ") + detail + u'.'));
}

void AlertWatch::restoreFinished(int server, bool ok, const QString& detail) {
    const QString& name = fleet_.supervisor(server).name();
    raise(ok ? make(Alert::Kind::RestoreDone, server, name + QStringLiteral(" restored"),
                    name + QStringLiteral(": ") + detail + u'.')
             : make(Alert::Kind::RestoreFailed, server, name + QStringLiteral(" restore failed"),
                    name + QStringLiteral(" was not restored: ") + detail + u'.'));
}
