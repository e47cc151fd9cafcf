#include "ServerFleet.h"

#include "Clock.h"
#include "ConsoleMirror.h"
#include "CrashMonitor.h"
#include "HealthProbes.h"
#include "LauncherLog.h"
#include "LauncherOptions.h"
#include "LauncherState.h"
#include "ReadinessWatch.h"
#include "StopSequence.h"
#include "modAPIs.h"

#include <QCoreApplication>

namespace {

// A coarse timer may fire up to 5 % early; the timers whose period the launcher relies on are
// precise.
ClockTimer* makeTimer(Clock& clock, QObject* owner, int intervalMs, bool singleShot) {
    ClockTimer* timer = clock.CreateTimer(owner);
    timer->setInterval(intervalMs);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(singleShot);
    return timer; // not started
}

void enableTimer(ClockTimer* timer) {
    // Enabling a running timer leaves its period where it is.
    if (!timer->isActive())
        timer->start();
}

} // namespace

ServerFleet::ServerFleet(const CoreServices& services, LauncherLog& log,
                         const LauncherOptions& options, ConsoleMirror& mirror, QObject* parent)
    : QObject(parent), tmrStatusUpdater(makeTimer(*services.clock, this, 5000, false)),
      tmrHelper(makeTimer(*services.clock, this, 15000, false)), services_(services), log_(log),
      options_(options), mirror_(mirror), tmrDeadlines_(makeTimer(*services.clock, this, 0, true)),
      tmrHealth_(makeTimer(*services.clock, this, 0, true)) {
    tmrStatusUpdater->setObjectName(QStringLiteral("tmrStatusUpdater"));
    tmrHelper->setObjectName(QStringLiteral("tmrHelper"));
    for (int i = 0; i < kCount; ++i) {
        supervisors_[i] = new ServerSupervisor(i, *services.clock, this);
        connect(supervisors_[i], &ServerSupervisor::stateChanged, this, [this](int server) {
            // A server is never probed while it starts, stops or is stopped.
            if (!supervisor(server).watched())
                probes_[server].reset();
            if (supervisor(server).watched() && !supervisor(server).health.probes.empty())
                tmrHealth_->start(0);
            emit serverStateChanged(server);
        });
    }
    connect(tmrHealth_, &ClockTimer::timeout, this, &ServerFleet::CheckHealth);
    monitor_ = std::make_unique<CrashMonitor>(*this, log, options);
    connect(tmrStatusUpdater, &ClockTimer::timeout, this, &ServerFleet::tmrStatusUpdater_Timer);
    connect(tmrHelper, &ClockTimer::timeout, this, &ServerFleet::tmrHelper_Timer);
    connect(tmrDeadlines_, &ClockTimer::timeout, this, &ServerFleet::CheckDeadlines);
    mirror_.online = [this] { return serverState_ > LauncherState::Offline; };
    mirror_.serverRuns = [this](int server) {
        return ServerProc(server).lPID > 0 && ServerRuns(server);
    };
}

ServerFleet::~ServerFleet() {
    for (ServerSupervisor* server : supervisors_)
        services_.apis->ReleaseProcessHandle(server->process.hProcess);
}

QString ServerFleet::programPath(int server) const {
    return programs_[server].isEmpty() ? services_.serverFolder + supervisor(server).programFile()
                                       : programs_[server];
}

QStringList ServerFleet::MissingPrograms() const {
    QStringList missing;
    for (int i = 0; i < kCount; ++i)
        if (!services_.apis->FileExists(programPath(i)))
            missing << (programs_[i].isEmpty() ? supervisor(i).programFile().mid(1) : programs_[i]);
    return missing;
}

void ServerFleet::ChangeLauncherState(std::int32_t code) {
    switch (code) {
    case Transition::Offline:
        tmrStatusUpdater->stop();
        setLauncherState(LauncherState::Offline);
        mirror_.SetPaneText(QStringLiteral("Servers are Offline."));
        break;
    case Transition::Online:
        if (options_.autoRestart == 1 || options_.messageUpdate == 1)
            enableTimer(tmrStatusUpdater);
        if (serverState_ == LauncherState::Offline) {
            // Counted from each time the launcher goes online.
            for (ServerSupervisor* server : supervisors_)
                server->relaunchesSinceOnline = 0;
        }
        setLauncherState(LauncherState::Online);
        mirror_.SetPaneText(QString());
        break;
    case Transition::ArmPriorityTimer:
        enableTimer(tmrHelper);
        break;
    case Transition::RefreshTray:
        break;
    default:
        return;
    }
    emit launcherStateChanged(code);
}

void ServerFleet::setLauncherState(std::int16_t state) {
    serverState_ = state;
}

void ServerFleet::CrashAnnounced() {
    setLauncherState(LauncherState::Crashed);
    ChangeLauncherState(Transition::RefreshTray);
}

void ServerFleet::CrashNoticeEnded() {
    if (serverState_ != LauncherState::Crashed)
        return;
    setLauncherState(LauncherState::Online);
    ChangeLauncherState(Transition::RefreshTray);
}

void ServerFleet::SetStatusInterval(int seconds) {
    tmrStatusUpdater->setInterval(seconds * 1000);
}

void ServerFleet::tmrStatusUpdater_Timer() {
    // A tick that falls due while a check is still under way is dropped.
    if (!monitor_->RunForTick())
        return;
    // Stopped during the check: the refresh would show a console that is being closed.
    if (serverState_ == LauncherState::Offline)
        return;
    mirror_.RefreshSelected();
}

// The priority step: one tick of tmrHelper some seconds after a complete start raises the map
// server to high priority, and the log says whether that worked.
void ServerFleet::tmrHelper_Timer() {
    const OsResult changed = services_.apis->SetProcessPriority(
        ServerProc(ServerTable::kMap).hProcess, modAPIs::HIGH_PRIORITY_CLASS);
    if (changed)
        log_.note(QStringLiteral("Map Server Process was changed to high priority class."));
    else
        log_.note(
            QStringLiteral("Map Server Process could not be changed to high priority class: ") +
            changed.error());
    tmrHelper->stop();
}

bool ServerFleet::ServerRuns(int server) const {
    return services_.apis->ProcessRuns(ServerProc(server).hProcess);
}

void ServerFleet::WatchServerEnd(int server) {
    const ServerProcess& record = ServerProc(server);
    if (!record.hProcess.isNull())
        services_.apis->WatchProcessEnd(record.hProcess, [this] { ServerProcessEnded(); });
}

void ServerFleet::ServerProcessEnded() {
    CheckDeadlines();
    monitor_->ProcessEnded();
}

void ServerFleet::ReplaceProcess(int server, const ServerProcess& next) {
    ServerProcess& record = ServerProc(server);
    const ProcessHandle replaced = record.hProcess;
    record = next;
    if (replaced != next.hProcess)
        services_.apis->ReleaseProcessHandle(replaced);
}

void ServerFleet::letPendingEventsRun() {
    QCoreApplication::processEvents();
}
