#include "CrashMonitor.h"

#include "Clock.h"
#include "CrashEndingReport.h"
#include "LauncherKeys.h"
#include "LauncherLog.h"
#include "LauncherOptions.h"
#include "LauncherSettings.h"
#include "LauncherState.h"
#include "ServerFleet.h"
#include "modAPIs.h"

#include <QDateTime>
#include <QStringList>
#include <algorithm>
#include <optional>

namespace {

using State = ServerSupervisor::State;

// How soon a check that found another one running is tried again.
constexpr int kRetryMs = 50;

// The program file name of a launched path: what follows its last separator.
QString programFileName(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// A name occurs in the list when it is a case-sensitive substring of it; the empty name occurs in
// any list that is not empty, and nothing occurs in an empty list.
bool occursIn(const QString& processList, const QString& name) {
    return processList.contains(name, Qt::CaseSensitive) && !processList.isEmpty();
}

// The wall-clock time ms from now, for the operator.
QString TimeIn(Clock& clock, std::int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(clock.EpochMs() + ms)
        .toString(QStringLiteral("HH:mm:ss"));
}

QString Seconds(std::int64_t ms) {
    return QString::number(static_cast<double>(ms) / 1000.0) + QStringLiteral(" s");
}

} // namespace

CrashMonitor::CrashMonitor(ServerFleet& fleet, LauncherLog& log, const LauncherOptions& options,
                           QObject* parent)
    : QObject(parent), fleet_(fleet), log_(log), options_(options),
      endings_(std::make_unique<CrashEndingReport>(
          *fleet.services().apis, *fleet.services().clock, log,
          [&fleet](float seconds) { fleet.WaitSeconds(seconds); })),
      tmrCrashNotice_(fleet.services().clock->CreateTimer(this)),
      tmrCrashCheck_(fleet.services().clock->CreateTimer(this)) {
    // The crash reports' looks wait until a relaunch has its new process.
    connect(&fleet, &ServerFleet::serverLaunched, this, [this] { endings_->lookNow(); });
    for (ClockTimer* timer : {tmrCrashNotice_, tmrCrashCheck_}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(tmrCrashNotice_, &ClockTimer::timeout, this, &CrashMonitor::tmrCrashNotice_Timer);
    connect(tmrCrashCheck_, &ClockTimer::timeout, this, &CrashMonitor::ProcessEnded);
}

CrashMonitor::~CrashMonitor() = default;

bool CrashMonitor::RunForTick() {
    if (checkRunning_)
        return false;
    checkRunning_ = true;
    runCrashCheck();
    checkRunning_ = false;
    return true;
}

void CrashMonitor::ProcessEnded() {
    // Only while the monitor runs: the stop sequence and going offline stop it, and so does a
    // start that began with neither option on.
    if (!fleet_.tmrStatusUpdater->isActive())
        return;
    // Checks never nest; this one comes right after the one that runs.
    if (checkRunning_) {
        checkSoon(kRetryMs);
        return;
    }
    checkRunning_ = true;
    runCrashCheck();
    checkRunning_ = false;
}

void CrashMonitor::checkSoon(int ms) {
    if (!tmrCrashCheck_->isActive() || tmrCrashCheck_->remainingTime() > ms)
        tmrCrashCheck_->start(ms);
}

bool CrashMonitor::anyWatchedServerGone() const {
    for (int i = 0; i < ServerFleet::kCount; ++i)
        if (fleet_.supervisor(i).watched() && !fleet_.ServerRuns(i))
            return true;
    return false;
}

// A server whose own process handle still runs its program is running; that check costs
// microseconds. The whole list is taken only when a handle says its process is gone.
bool CrashMonitor::runCrashCheck() {
    if (options_.autoRestart != 1)
        return true;
    runDueRelaunches();
    if (fleet_.ServerState() == LauncherState::Offline)
        return false; // stopped during a relaunch
    if (!anyWatchedServerGone()) {
        snapshotFailing_ = false; // the check ran; a later failing list is news again
        return true;
    }
    const QString processList = fleet_.services().apis->GetProcessList();
    if (processList.isEmpty()) {
        // An empty list means the snapshot failed, not that every server died.
        if (!snapshotFailing_)
            log_.note(QStringLiteral("Cannot list the running processes; crash check skipped "
                                     "until the list can be read."));
        snapshotFailing_ = true;
        return true;
    }
    snapshotFailing_ = false;

    bool noticeAgain = false;
    for (int i = 0; i < ServerFleet::kCount; ++i) {
        ServerSupervisor& server = fleet_.supervisor(i);
        // A server being started, restarted or stopped by the operator is no crash, nor is one
        // whose relaunch is due later.
        if (!server.watched() || fleet_.ServerRuns(i) ||
            occursIn(processList, programFileName(server.process.sExePath)))
            continue;
        if (endedOnPurpose(i))
            continue;
        const std::int64_t delay = relaunchDelay(i);
        announceCrash(i, delay);
        if (!server.watched()) {
            endings_->lookNow();
            continue; // stopped while its ending was read
        }
        fleet_.CrashAnnounced();
        // The crashed console is looked at once the relaunch has its process, or now when the
        // relaunch waits.
        if (delay != 0)
            endings_->lookNow();
        noticeAgain = relaunchCrashedServer(i, delay) || noticeAgain;
        endings_->lookNow(); // a relaunch that did not get as far as a process
        if (fleet_.ServerState() == LauncherState::Offline)
            return false;
    }
    if (noticeAgain)
        showCrashNotice();
    return true;
}

// The crash line; the crash is told to serverCrashed's observers once its report is written,
// with how the server ended.
void CrashMonitor::announceCrash(int server, std::int64_t delay) {
    ServerSupervisor& s = fleet_.supervisor(server);
    log_.note(s.name() + QStringLiteral(" just crashed!"));
    s.tally.crashed(fleet_.services().clock->EpochMs());
    endings_->report(s, [this, server, delay] { emit serverCrashed(server, delay); });
}

// When the crashed server is to be started again: 0 at once, kAfterTheNotice, or a delay that
// grows while it keeps crashing.
std::int64_t CrashMonitor::relaunchDelay(int server) {
    ServerSupervisor& s = fleet_.supervisor(server);
    if (!growingDelays_)
        return noticeShown_ && s.inCrashNotice() ? kAfterTheNotice : 0;
    return s.backoff.crashed(fleet_.services().clock->NowMs(), backoffSettings_);
}

// An end with one of the server's expected exit statuses is a stop from inside the server (an
// in-game shutdown): the server is left stopped, as if the operator had stopped it.
bool CrashMonitor::endedOnPurpose(int server) {
    ServerSupervisor& s = fleet_.supervisor(server);
    if (s.health.expectedExits.isEmpty())
        return false;
    const ConsoleEnding ending = endings_->awaitEnding(s);
    if (!s.watched())
        return true; // stopped while its ending was read
    if (ending.state != ConsoleEnding::State::Ended ||
        !s.health.expectedExits.contains(ending.exitStatus))
        return false;
    log_.note(s.name() + QStringLiteral(" ended by itself (exit status %1); not started again")
                             .arg(ending.exitStatus));
    fleet_.services().apis->CloseEndedConsole(s.name());
    s.stopped();
    fleet_.followServerStates();
    return true;
}

void CrashMonitor::ServerFailedProbe(int server, const QString& reason) {
    ServerSupervisor& s = fleet_.supervisor(server);
    log_.note(s.name() + QStringLiteral(" just crashed!"));
    s.tally.crashed(fleet_.services().clock->EpochMs());
    endings_->reportHung(s, reason);
    fleet_.CrashAnnounced();
    s.relaunched();
    emit serverCrashed(server, 0);
    emit probeFailed(server, reason);
    fleet_.restartHungServer(server);
    if (fleet_.ServerState() != LauncherState::Offline)
        showCrashNotice();
}

// A crash is relaunched at once. One that comes while the notice of the server's last crash
// still stands waits for the first check after the notice; with the relaunch delays set, a
// server that keeps crashing waits instead for a delay that grows, never given up. Nothing waits
// for either: they run on the launcher's clock and its timers. True when the crash notice is to
// begin (again).
bool CrashMonitor::relaunchCrashedServer(int server, std::int64_t delay) {
    ServerSupervisor& s = fleet_.supervisor(server);
    if (delay == kAfterTheNotice) {
        s.crashed(std::nullopt, noticeEndsAtMs_); // no due time: after this notice
        return false;
    }
    if (delay == 0) {
        relaunchNow(server);
        return true;
    }
    const std::int64_t now = fleet_.services().clock->NowMs();
    s.crashed(now + delay);
    log_.note(s.name() + QStringLiteral(" keeps crashing; next try in ") + Seconds(delay) +
              QStringLiteral(", at ") + TimeIn(*fleet_.services().clock, delay) +
              QStringLiteral("."));
    fleet_.ChangeLauncherState(Transition::RefreshTray);
    checkSoon(static_cast<int>(delay));
    return true;
}

// False when the operator stopped the servers during the relaunch.
bool CrashMonitor::relaunchNow(int server) {
    ServerSupervisor& s = fleet_.supervisor(server);
    s.relaunched();
    s.backoff.started(fleet_.services().clock->NowMs());
    // At once: the window shows the crash while the new process settles.
    const bool started = fleet_.StartServer(server, ServerFleet::kSettleSeconds, false) == 0;
    if (fleet_.ServerState() == LauncherState::Offline)
        return false;
    // One that could not be started is found missing again by a later check, and tried again.
    if (!started && s.state() == State::StartFailed)
        s.watchAgain();
    if (server == ServerTable::kMap)
        fleet_.ChangeLauncherState(Transition::ArmPriorityTimer);
    return true;
}

void CrashMonitor::runDueRelaunches() {
    std::optional<std::int64_t> next;
    bool afterNotice = false;
    for (int i = 0; i < ServerFleet::kCount; ++i) {
        ServerSupervisor& s = fleet_.supervisor(i);
        const std::int64_t now = fleet_.services().clock->NowMs();
        if (s.state() != State::CrashedWaiting) {
            if (s.watched() && s.backoff.keepsCrashing() && fleet_.ServerRuns(i) &&
                s.backoff.forgiveIfStable(now, backoffSettings_)) {
                log_.note(s.name() + QStringLiteral(" has stayed up for ") +
                          Seconds(backoffSettings_.stableMs) +
                          QStringLiteral("; its next crash is relaunched at once."));
                fleet_.ChangeLauncherState(Transition::RefreshTray);
            }
            continue;
        }
        if (!s.dueMs()) {
            // The first check after the notice it crashed in, even when another server's crash has
            // begun the notice again since: its relaunch is announced as a crash's is.
            if (noticeShown_ && now < s.noticeEndsAtMs())
                continue;
            fleet_.CrashAnnounced();
            if (!relaunchNow(i))
                return;
            afterNotice = true;
            continue;
        }
        if (now < *s.dueMs()) {
            next = std::min(next.value_or(*s.dueMs()), *s.dueMs());
            continue;
        }
        if (!relaunchNow(i))
            return;
        fleet_.ChangeLauncherState(Transition::RefreshTray);
    }
    if (next)
        checkSoon(static_cast<int>(*next - fleet_.services().clock->NowMs()));
    if (afterNotice)
        showCrashNotice();
}

// The red crash notice stands for the chosen number of seconds while the launcher reads
// "crashed". It runs on a timer of its own, so that a crash during the notice is relaunched as
// soon as the first one was.
void CrashMonitor::showCrashNotice() {
    noticeCaption_ = QStringLiteral("Server Crashed! ") + log_.Now();
    noticeShown_ = true;
    emit crashNoticeChanged(true, noticeCaption_);
    // Read once, when the notice begins; a later crash begins it again.
    const std::int64_t seconds = options_.keepIconForSeconds;
    noticeEndsAtMs_ = fleet_.services().clock->NowMs() + seconds * 1000;
    tmrCrashNotice_->start(static_cast<int>(seconds * 1000));
}

void CrashMonitor::tmrCrashNotice_Timer() {
    if (!noticeShown_)
        return; // a late firing of a notice that has ended already
    const std::int64_t left = noticeEndsAtMs_ - fleet_.services().clock->NowMs();
    if (left > 0) {
        tmrCrashNotice_->start(static_cast<int>(std::min<std::int64_t>(left, 60000)));
        return;
    }
    noticeShown_ = false;
    tmrCrashNotice_->stop();
    for (int i = 0; i < ServerFleet::kCount; ++i)
        fleet_.supervisor(i).crashNoticeEnded();
    emit crashNoticeChanged(false, noticeCaption_);
    fleet_.CrashNoticeEnded();
}

void CrashMonitor::ForgetCrashes() {
    for (int i = 0; i < ServerFleet::kCount; ++i) {
        fleet_.supervisor(i).backoff.reset();
        fleet_.supervisor(i).crashNoticeEnded();
    }
}

QString CrashMonitor::CrashLoopSummary() const {
    QStringList names;
    std::optional<std::int64_t> next;
    for (int i = 0; i < ServerFleet::kCount; ++i) {
        const ServerSupervisor& s = fleet_.supervisor(i);
        if (!s.backoff.keepsCrashing())
            continue;
        names << s.name();
        if (s.state() == State::CrashedWaiting && s.dueMs())
            next = std::min(next.value_or(*s.dueMs()), *s.dueMs());
    }
    if (names.isEmpty())
        return QString();
    QString tip =
        names.join(QStringLiteral(", ")) +
        (names.size() == 1 ? QStringLiteral(" keeps crashing") : QStringLiteral(" keep crashing"));
    if (next)
        tip += QStringLiteral("; next try ") +
               TimeIn(*fleet_.services().clock, *next - fleet_.services().clock->NowMs());
    return tip;
}

void CrashMonitor::LoadSettings(LauncherSettings& settings) {
    endings_->setReportsKept(
        static_cast<int>(settings.ReadNumber(LauncherKeys::kCrashReportsKept)));
    struct Key {
        const LauncherKey& key;
        std::int64_t CrashBackoffSettings::*field; // in milliseconds
    };
    static constexpr Key kKeys[] = {
        {LauncherKeys::kRelaunchWindow, &CrashBackoffSettings::windowMs},
        {LauncherKeys::kRelaunchFirstDelay, &CrashBackoffSettings::firstDelayMs},
        {LauncherKeys::kRelaunchMaxDelay, &CrashBackoffSettings::maxDelayMs},
        {LauncherKeys::kRelaunchStableAfter, &CrashBackoffSettings::stableMs},
    };
    // The growing delays are on when any of their keys is set.
    const auto given = [&settings](const LauncherKey& key) {
        return !settings.Read(QString::fromLatin1(key.name)).isEmpty();
    };
    growingDelays_ = given(LauncherKeys::kRelaunchBurst);
    for (const Key& key : kKeys)
        growingDelays_ = growingDelays_ || given(key.key);
    CrashBackoffSettings& s = backoffSettings_;
    s.burst = static_cast<int>(settings.ReadNumber(LauncherKeys::kRelaunchBurst));
    for (const Key& key : kKeys)
        s.*key.field = std::int64_t{1000} * settings.ReadNumber(key.key);
    // The ceiling is never below the first delay.
    s.maxDelayMs = std::max(s.maxDelayMs, s.firstDelayMs);
    // A console kept ready for each server's relaunch: one hidden console more per server.
    fleet_.services().apis->SetReadyConsoles(settings.ReadNumber(LauncherKeys::kReadyConsole) == 1);
}
