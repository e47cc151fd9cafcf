#include "Scheduler.h"

#include "CheckedFolder.h"
#include "Clock.h"
#include "ConsoleMirror.h"
#include "InstallationKey.h"
#include "LauncherLog.h"
#include "LauncherState.h"
#include "ServerFleet.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QPointer>
#include <algorithm>
#include <cmath>

namespace {

using Task = ScheduleEntry::Task;
using State = ServerSupervisor::State;

// "Login Server, Char Server and Map Server".
QString NameList(QStringList names) {
    const QString last = names.isEmpty() ? QString() : names.takeLast();
    return names.isEmpty() ? last
                           : names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

// The servers a schedule names.
QStringList ServersOf(const ScheduleEntry& entry) {
    QStringList names;
    for (int i = 0; i < ServerTable::kCount; ++i)
        if (entry.servers[i])
            names << ServerTable::displayNames()[i];
    return names;
}

// The state file of a folder's installation stays small: a name and a time per schedule.
constexpr qint64 kMaxStateBytes = 256 * 1024;

} // namespace

Scheduler::Scheduler(ServerFleet& fleet, ConsoleMirror& mirror, LauncherLog& log, Clock& clock,
                     QObject* parent)
    : QObject(parent), fleet_(fleet), mirror_(mirror), log_(log), clock_(clock),
      zone_(QTimeZone::systemTimeZone()), tmrWake_(clock.CreateTimer(this)) {
    tmrWake_->setSingleShot(true);
    tmrWake_->setTimerType(Qt::PreciseTimer);
    connect(tmrWake_, &ClockTimer::timeout, this, &Scheduler::transition);
    // A run that stops or starts servers goes on as soon as they have.
    connect(&fleet_, &ServerFleet::stopsSettled, this, &Scheduler::wakeSoon);
    connect(&fleet_, &ServerFleet::serverStateChanged, this, &Scheduler::wakeSoon);
    connect(&fleet_, &ServerFleet::startAwaitsReadiness, this, &Scheduler::wakeSoon);
    // A stop of all asked for by the operator (or the launcher's exit) while a restart stops,
    // backs up or starts the servers: the restart starts none of them any more.
    connect(&fleet_, &ServerFleet::stopOfAllAsked, this, [this] {
        if (run_ && !ownStop_ && run_->phase != Phase::Warning)
            run_->stoppedMeanwhile = true;
    });
}

Scheduler::~Scheduler() = default;

void Scheduler::SetTimeZone(const QTimeZone& zone) {
    zone_ = zone;
    rebuild();
}

void Scheduler::SetEntries(const QList<ScheduleEntry>& entries) {
    if (busy_) {
        pendingEntries_ = entries;
        return;
    }
    entries_ = entries;
    rebuild();
}

void Scheduler::UseStateFolder(const QString& folder) {
    QString why = QStringLiteral("there is no private folder");
    folder_ = folder.isEmpty() ? nullptr : CheckedFolder::Open(folder, true, &why);
    fileName_ =
        QStringLiteral("schedules-") + InstallationKey(fleet_.services().serverFolder) + ".json";
    QByteArray data;
    if (!folder_) {
        log_.note(QStringLiteral("The schedules' last runs are kept in memory only: ") + folder +
                  QStringLiteral(" cannot be used (") + why + QStringLiteral(")."));
    } else if (!folder_->readAll(fileName_, kMaxStateBytes, &data, &why)) {
        log_.note(QStringLiteral("The schedules' last runs cannot be read (") + why +
                  QStringLiteral("); each schedule counts from now."));
    }
    const QJsonObject saved = QJsonDocument::fromJson(data).object();
    for (auto it = saved.begin(); it != saved.end(); ++it)
        if (it.value().isDouble())
            lastRuns_[it.key()] = static_cast<std::int64_t>(it.value().toDouble());
    rebuild();
}

// Each schedule's next time counts from its last run; one seen for the first time, from now.
void Scheduler::rebuild() {
    const std::int64_t now = clock_.EpochMs();
    QList<Planned> planned;
    bool firstSeen = false;
    for (const ScheduleEntry& entry : entries_) {
        if (!lastRuns_.contains(entry.name)) {
            lastRuns_.insert(entry.name, now);
            firstSeen = true;
        }
        Planned p{entry, entry.times.nextAfter(lastRuns_.value(entry.name), zone_), false};
        if (const Planned* before = planned_.isEmpty() ? nullptr : this->planned(entry.name))
            p.heldByRun = before->heldByRun;
        planned << p;
    }
    planned_ = planned;
    if (firstSeen)
        save();
    armTimer();
}

bool Scheduler::online() const {
    return fleet_.ServerState() > LauncherState::Offline;
}

Scheduler::Phase Scheduler::phase() const {
    return run_ ? run_->phase : Phase::Idle;
}

void Scheduler::transition() {
    if (busy_) // a start of the servers lets events run, this timer's too
        return;
    busy_ = true;
    if (run_)
        advanceRun(clock_.EpochMs());
    for (qsizetype i = 0; i < planned_.size(); ++i)
        considerEntry(planned_[i], clock_.EpochMs());
    busy_ = false;
    if (pendingEntries_)
        SetEntries(*std::exchange(pendingEntries_, std::nullopt));
    armTimer();
}

void Scheduler::considerEntry(Planned& p, std::int64_t now) {
    if (!p.nextMs || (run_ && run_->entry.name == p.entry.name))
        return;
    const ScheduleEntry& e = p.entry;
    const std::int64_t next = *p.nextMs;
    const std::int64_t lead = std::int64_t{1000} * e.leadSeconds();
    if (now < next - lead)
        return;
    // The time after `next` that has passed last, and how many have.
    const auto passed = [&] {
        std::int64_t last = next;
        int count = 0;
        for (std::optional<std::int64_t> t = next; t && *t <= now && count < 10000;
             t = e.times.nextAfter(*t, zone_), ++count)
            last = *t;
        return std::pair{last, count};
    };
    const auto more = [](int count) {
        return count > 1 ? QStringLiteral(" (and %1 more times since)").arg(count - 1) : QString();
    };
    // Nothing runs while the servers are offline; a time passed meanwhile is a missed one once
    // they are online again.
    if (!online())
        return;
    const bool instant = e.task == Task::Command && e.warnings.isEmpty();
    if (run_ && (run_->phase != Phase::Warning || !instant)) {
        p.heldByRun = p.heldByRun || now >= next;
        return;
    }
    if (now - next > kLateMs && !p.heldByRun) {
        const auto [last, count] = passed();
        const QString missed = prefix(e) + QStringLiteral("the %1 at %2%3 was missed")
                                               .arg(e.taskText(), timeText(next), more(count));
        markRun(p, last);
        if (!e.runIfMissed) {
            log_.note(missed + QStringLiteral("; it is left out (if missed = skip)."));
            return;
        }
        log_.note(missed + QStringLiteral("; it runs now, once (if missed = run)."));
        if (instant)
            typeCommandTask(e);
        else
            beginRun(p, last, now + lead);
        return;
    }
    if (instant) {
        // Typed at once, also between the warnings of another schedule's run, which goes on.
        markRun(p, next);
        typeCommandTask(e);
        return;
    }
    beginRun(p, next, now > next ? now + lead : next);
}

void Scheduler::beginRun(Planned& p, std::int64_t occurrence, std::int64_t due) {
    p.heldByRun = false;
    run_ = std::make_unique<Run>();
    run_->entry = p.entry;
    run_->occurrenceMs = occurrence;
    run_->dueMs = due;
    if (!p.entry.warnings.isEmpty())
        log_.note(prefix(p.entry) + QStringLiteral("the %1 at %2 is announced from now on.")
                                        .arg(p.entry.taskText(), timeText(due)));
    advanceRun(clock_.EpochMs());
}

// A run begins in Warning and ends by endRun; this is the one place its phase moves on between.
void Scheduler::enterPhase(Phase next) {
    run_->phase = next;
}

// Goes through the run's states as far as they go now.
void Scheduler::advanceRun(std::int64_t now) {
    for (Phase before = Phase::Idle; run_ && run_->phase != before;) {
        before = run_->phase;
        switch (run_->phase) {
        case Phase::Warning:
            if (!online()) {
                log_.note(prefix(run_->entry) +
                          QStringLiteral("the %1 at %2 is not run: the servers are offline.")
                              .arg(run_->entry.taskText(), timeText(run_->dueMs)));
                markRun(run_->entry.name, run_->occurrenceMs);
                endRun();
                break;
            }
            typeWarnings(now);
            if (now >= run_->dueMs) {
                markRun(run_->entry.name, run_->occurrenceMs);
                runTask();
            }
            break;
        case Phase::Stopping:
            if (!fleet_.AnyStopUnderWay())
                afterStop();
            break;
        case Phase::BackingUp:
            if (!run_->backupOk)
                break;
            if (run_->entry.task == Task::Backup) {
                if (*run_->backupOk)
                    log_.note(prefix(run_->entry) + QStringLiteral("the backup is done."));
                else
                    emit runFailed(run_->entry.name, -1,
                                   QStringLiteral("the backup failed: ") + run_->backupWhy);
                if (!*run_->backupOk)
                    log_.note(prefix(run_->entry) + QStringLiteral("the backup failed: ") +
                              run_->backupWhy + u'.');
                endRun();
            } else {
                startAgain();
            }
            break;
        case Phase::Starting:
            finishRestart();
            break;
        case Phase::Idle:
            break;
        }
    }
}

// The latest warning whose time has come is typed; earlier ones passed meanwhile are not, nor any
// once the run's own time has come.
void Scheduler::typeWarnings(std::int64_t now) {
    const QList<ScheduleEntry::Warning>& warnings = run_->entry.warnings;
    if (now >= run_->dueMs)
        return;
    int latest = -1;
    for (int i = run_->nextWarning; i < warnings.size(); ++i)
        if (now >= run_->dueMs - std::int64_t{1000} * warnings[i].seconds)
            latest = i;
    if (latest < 0)
        return;
    run_->nextWarning = latest + 1;
    const int secondsLeft =
        static_cast<int>(std::lround(static_cast<double>(run_->dueMs - now) / 1000.0));
    const ScheduleEntry entry = run_->entry;
    for (int server = 0; server < ServerTable::kCount; ++server)
        if (entry.servers[server] && mirror_.serverRuns(server))
            typeCommand(entry, server,
                        ScheduleEntry::FillIn(warnings[latest].text, secondsLeft,
                                              ServerTable::displayNames()[server]));
}

void Scheduler::runTask() {
    const ScheduleEntry& entry = run_->entry;
    switch (entry.task.value_or(Task::Restart)) {
    case Task::Command:
        typeCommandTask(entry);
        endRun();
        return;
    case Task::Backup:
        enterPhase(Phase::BackingUp);
        if (!backup_) {
            log_.note(prefix(entry) + QStringLiteral("no backup is set up; it is left out."));
            endRun();
            return;
        }
        log_.note(prefix(entry) + QStringLiteral("backing up ..."));
        emit acted(entry.name, QStringLiteral("back up ") + NameList(ServersOf(entry)),
                   QStringLiteral("begun"));
        callBackup();
        return;
    case Task::Restart:
        beginRestart();
        return;
    }
}

// A command task's command, typed into each of its servers that runs.
void Scheduler::typeCommandTask(const ScheduleEntry& entry) {
    bool any = false;
    for (int server = 0; server < ServerTable::kCount; ++server) {
        if (entry.servers[server] && mirror_.serverRuns(server)) {
            any = true;
            typeCommand(entry, server, entry.command);
        }
    }
    if (!any)
        log_.note(prefix(entry) + QStringLiteral("none of its servers runs: \"") + entry.command +
                  QStringLiteral("\" is not typed."));
}

void Scheduler::callBackup() {
    const QPointer<Scheduler> self(this);
    const std::uint64_t runId = runId_;
    backup_(run_->entry.name, [self, runId](bool ok, const QString& why) {
        if (!self || !self->run_ || self->runId_ != runId || self->run_->backupOk)
            return; // a run that has ended meanwhile
        self->run_->backupOk = ok;
        self->run_->backupWhy = why;
        self->wakeSoon();
    });
}

void Scheduler::typeCommand(const ScheduleEntry& entry, int server, const QString& text) {
    const QString& name = ServerTable::displayNames()[server];
    const ConsoleMirror::CommandOutcome outcome = mirror_.SendCommandTo(server, text);
    const QString what = QStringLiteral("send %1: %2").arg(name, text);
    if (outcome.sent) {
        log_.note(prefix(entry) + QStringLiteral("typed \"") + text + QStringLiteral("\" into ") +
                  name + u'.');
        emit acted(entry.name, what, QStringLiteral("done"));
        return;
    }
    const QString why = outcome.note.isEmpty() ? QStringLiteral("it was not sent") : outcome.note;
    emit acted(entry.name, what, QStringLiteral("failed: ") + why);
    log_.note(prefix(entry) + u'"' + text + QStringLiteral("\" could not be typed into ") + name +
              QStringLiteral(": ") + why + u'.');
    emit runFailed(entry.name, server,
                   u'"' + text + QStringLiteral("\" could not be typed: ") + why);
}

// The servers the schedule names that run are restarted: all three by the stop and the start of
// all, as the Shutdown and Start buttons do; fewer, or some the operator stopped, each by its own
// restart, so that a server the operator stopped stays stopped.
void Scheduler::beginRestart() {
    Run& run = *run_;
    QStringList names;
    for (int i = 0; i < ServerTable::kCount; ++i) {
        run.servers[i] = run.entry.servers[i] && fleet_.CanStopServer(i);
        run.pidsBefore[i] = fleet_.ServerProc(i).lPID;
        if (run.servers[i])
            names << ServerTable::displayNames()[i];
    }
    if (names.isEmpty()) {
        log_.note(prefix(run.entry) +
                  QStringLiteral("none of its servers runs; nothing is restarted."));
        endRun();
        return;
    }
    run.wholeSequence = run.servers[0] && run.servers[1] && run.servers[2];
    const int alone =
        names.size() == 1
            ? static_cast<int>(std::find(run.servers.begin(), run.servers.end(), true) -
                               run.servers.begin())
            : -1;
    emit restartBegan(run.entry.name, alone);
    emit acted(run.entry.name, QStringLiteral("restart ") + NameList(names),
               QStringLiteral("begun"));
    log_.note(prefix(run.entry) + QStringLiteral("restarting ") + NameList(names) +
              QStringLiteral(": stopping ") +
              (names.size() == 1 ? QStringLiteral("it") : QStringLiteral("them")) +
              QStringLiteral(" ..."));
    if (run.wholeSequence) {
        enterPhase(Phase::Stopping);
        ownStop_ = true;
        fleet_.StopServers();
        ownStop_ = false;
        return;
    }
    enterPhase(Phase::Starting);
    for (int i = 0; i < ServerTable::kCount; ++i)
        if (run.servers[i])
            fleet_.RestartServer(i);
}

void Scheduler::afterStop() {
    const QStringList still = fleet_.StillRunningAfterStop();
    if (!still.isEmpty()) {
        const QString what =
            NameList(still) +
            (still.size() == 1 ? QStringLiteral(" did not end") : QStringLiteral(" did not end")) +
            QStringLiteral("; the servers are not started again");
        log_.note(prefix(run_->entry) + what + u'.');
        emit runFailed(run_->entry.name, -1, what);
        endRun();
        return;
    }
    log_.note(prefix(run_->entry) + QStringLiteral("the servers have ended."));
    if (run_->stoppedMeanwhile) {
        leaveStopped();
        return;
    }
    if (!backup_) {
        startAgain();
        return;
    }
    enterPhase(Phase::BackingUp);
    log_.note(prefix(run_->entry) + QStringLiteral("backing up before the start ..."));
    callBackup();
}

void Scheduler::startAgain() {
    Run& run = *run_;
    if (run.backupOk && !*run.backupOk) {
        log_.note(prefix(run.entry) + QStringLiteral("the backup failed (") + run.backupWhy +
                  QStringLiteral("); the servers are started all the same."));
        emit runFailed(run.entry.name, -1, QStringLiteral("the backup failed: ") + run.backupWhy);
    } else if (run.backupOk) {
        log_.note(prefix(run.entry) + QStringLiteral("the backup is done."));
    }
    if (run.stoppedMeanwhile) {
        leaveStopped();
        return;
    }
    enterPhase(Phase::Starting);
    log_.note(prefix(run.entry) + QStringLiteral("starting the servers again ..."));
    fleet_.StartServersAndGoOnline();
}

void Scheduler::finishRestart() {
    Run& run = *run_;
    if (run.wholeSequence && fleet_.StartUnderWay())
        return;
    QStringList failed;
    for (int i = 0; i < ServerTable::kCount; ++i) {
        if (!run.servers[i])
            continue;
        const ServerSupervisor& s = fleet_.supervisor(i);
        if (s.state() == State::Stopping || s.state() == State::Starting || s.awaitingReady())
            return; // not yet
        if (s.state() != State::Running || !fleet_.ServerRuns(i) ||
            fleet_.ServerProc(i).lPID == run.pidsBefore[i])
            failed << s.name();
    }
    if (run.stoppedMeanwhile && !failed.isEmpty()) {
        leaveStopped();
        return;
    }
    int alone = -1;
    if (std::count(run.servers.begin(), run.servers.end(), true) == 1)
        alone = static_cast<int>(std::find(run.servers.begin(), run.servers.end(), true) -
                                 run.servers.begin());
    if (failed.isEmpty()) {
        log_.note(prefix(run.entry) + QStringLiteral("the restart is done."));
        emit restartDone(run.entry.name, alone);
    } else {
        const QString what = QStringLiteral("the restart's start failed: ") + NameList(failed) +
                             (failed.size() == 1 ? QStringLiteral(" does not run again")
                                                 : QStringLiteral(" do not run again"));
        log_.note(prefix(run.entry) + what + u'.');
        emit runFailed(run.entry.name, failed.size() == 1 ? alone : -1, what);
    }
    endRun();
}

void Scheduler::endRun() {
    run_.reset();
    ++runId_;
}

// The operator's stop stands: what the restart has not started yet stays stopped.
void Scheduler::leaveStopped() {
    log_.note(prefix(run_->entry) + QStringLiteral("the servers were stopped from the launcher "
                                                   "meanwhile; they are not started again."));
    endRun();
}

void Scheduler::markRun(Planned& p, std::int64_t occurrence) {
    p.heldByRun = false;
    lastRuns_[p.entry.name] = occurrence;
    p.nextMs = p.entry.times.nextAfter(occurrence, zone_);
    save();
}

void Scheduler::markRun(const QString& name, std::int64_t occurrence) {
    if (Planned* p = planned(name)) {
        markRun(*p, occurrence);
    } else {
        lastRuns_[name] = occurrence;
        save();
    }
}

Scheduler::Planned* Scheduler::planned(const QString& name) {
    for (Planned& p : planned_)
        if (p.entry.name == name)
            return &p;
    return nullptr;
}

// Written whole to a new file that then takes the old one's place.
void Scheduler::save() {
    if (!folder_)
        return;
    QJsonObject saved;
    for (auto it = lastRuns_.begin(); it != lastRuns_.end(); ++it)
        saved.insert(it.key(), static_cast<double>(it.value()));
    QString why;
    if (!folder_->replace(fileName_, QJsonDocument(saved).toJson(QJsonDocument::Compact), &why) &&
        !saveFailed_) {
        saveFailed_ = true;
        log_.note(
            QStringLiteral("The schedules' last runs cannot be written (") + why +
            QStringLiteral("); a missed run may not be noticed after the launcher restarts."));
    }
}

void Scheduler::armTimer() {
    if (busy_)
        return;
    if (planned_.isEmpty() && !run_) {
        tmrWake_->stop();
        return;
    }
    const std::int64_t now = clock_.EpochMs();
    std::int64_t wake = now + kMaxSleepMs;
    const auto consider = [&](std::int64_t at) {
        if (at > now)
            wake = std::min(wake, at);
    };
    for (const Planned& p : planned_) {
        if (!p.nextMs)
            continue;
        consider(*p.nextMs - std::int64_t{1000} * p.entry.leadSeconds());
        consider(*p.nextMs);
    }
    if (run_ && run_->phase == Phase::Warning) {
        for (const ScheduleEntry::Warning& w : run_->entry.warnings)
            consider(run_->dueMs - std::int64_t{1000} * w.seconds);
        consider(run_->dueMs);
    }
    tmrWake_->start(static_cast<int>(std::clamp<std::int64_t>(wake - now, 0, kMaxSleepMs)));
}

void Scheduler::wakeSoon() {
    if (run_)
        tmrWake_->start(0);
}

QString Scheduler::prefix(const ScheduleEntry& entry) const {
    return QStringLiteral("Schedule \"") + entry.name + QStringLiteral("\": ");
}

QString Scheduler::timeText(std::int64_t ms) const {
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(ms, zone_);
    const QDate today = QDateTime::fromMSecsSinceEpoch(clock_.EpochMs(), zone_).date();
    const QString time = at.toString(QStringLiteral("HH:mm"));
    if (at.date() == today)
        return time;
    if (at.date() == today.addDays(1))
        return time + QStringLiteral(" tomorrow");
    return time + QStringLiteral(" on ") + QLocale::c().toString(at.date(), "ddd d MMM");
}

std::optional<Scheduler::Upcoming> Scheduler::nextFor(int server, bool restartsOnly) const {
    std::optional<Upcoming> best;
    const auto consider = [&](std::int64_t at, std::int64_t occurrence, const ScheduleEntry& e) {
        if (!e.servers[server] || (restartsOnly && e.task != Task::Restart))
            return;
        if (!best || at < best->atMs)
            best = Upcoming{at, occurrence, &e};
    };
    if (run_ && run_->phase == Phase::Warning)
        consider(run_->dueMs, run_->occurrenceMs, run_->entry);
    for (const Planned& p : planned_)
        if (p.nextMs && !(run_ && run_->entry.name == p.entry.name))
            consider(*p.nextMs, *p.nextMs, p.entry);
    return best;
}

QString Scheduler::NextEventLine(int server) const {
    if (server < 0 || server >= ServerTable::kCount)
        return QString();
    if (run_ && run_->phase != Phase::Warning && run_->entry.servers[server])
        return QStringLiteral("Now: scheduled ") + run_->entry.taskText() +
               QStringLiteral(" under way");
    const std::optional<Upcoming> next = nextFor(server, false);
    if (!next)
        return QString();
    QString line = QStringLiteral("Next: ") + next->entry->taskText() + QStringLiteral(" at ") +
                   timeText(next->atMs);
    if (next->entry->leadSeconds() > 0)
        line += QStringLiteral(" (warnings from ") +
                QDateTime::fromMSecsSinceEpoch(
                    next->atMs - std::int64_t{1000} * next->entry->leadSeconds(), zone_)
                    .toString(QStringLiteral("HH:mm")) +
                u')';
    return line;
}

bool Scheduler::CanSkipNextRestart(int server) const {
    if (server < 0 || server >= ServerTable::kCount)
        return false;
    const std::optional<Upcoming> next = nextFor(server, true);
    return next &&
           !(run_ && run_->entry.name == next->entry->name && run_->phase != Phase::Warning);
}

void Scheduler::SkipNextRestart(int server) {
    if (!CanSkipNextRestart(server))
        return;
    const Upcoming next = *nextFor(server, true);
    const ScheduleEntry entry = *next.entry;
    if (run_ && run_->entry.name == entry.name)
        endRun(); // its warnings stop here
    markRun(entry.name, next.occurrenceMs);
    const Planned* p = planned(entry.name);
    log_.note(
        prefix(entry) + QStringLiteral("the restart at ") + timeText(next.atMs) +
        QStringLiteral(" is skipped once, as asked from the ") +
        ServerTable::displayNames()[server] + QStringLiteral(" tab") +
        (p && p->nextMs ? QStringLiteral("; the next is at ") + timeText(*p->nextMs) : QString()) +
        u'.');
    armTimer();
}
