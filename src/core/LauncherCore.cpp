#include "LauncherCore.h"

#include "Clock.h"
#include "CrashMonitor.h"
#include "LauncherState.h"
#include "modAPIs.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QTimer>
#include <cstdio>

namespace {

const QString kSizeKey = QStringLiteral("Log File Size Limit KB");
const QString kKeptKey = QStringLiteral("Log Files Kept");
constexpr qint64 kDefaultSizeKb = 10240;
constexpr qint64 kMaxSizeKb = 4 * 1024 * 1024;
constexpr int kDefaultKept = 5;
constexpr int kMaxKept = 100;
// How many of a console's last lines the message pane shows; only read, never written.
const QString kConsoleLines = QStringLiteral("ServerMessage Lines");
constexpr int kMinConsoleLines = 1;
constexpr int kMaxConsoleLines = 50000;
// How often what the servers use is sampled, in seconds.
const QString kSampleKey = QStringLiteral("Resource Sample Seconds");
// How often the console logs' problems are looked for while logs are written.
constexpr int kProblemPollMs = 2000;

} // namespace

LauncherCore::LauncherCore(const CoreServices& services, QObject* parent)
    : QObject(parent), services_(services), settings_(*services.settings, log_),
      mirror_(*services.apis, options_), fleet_(services, log_, options_, mirror_),
      alerts_(fleet_, *services.clock, services.serverFolder),
      sampler_(*services.apis, *services.clock, fleet_),
      players_(*services.apis, fleet_, installation_, sampler_),
      memoryLimits_(fleet_, installation_, sampler_, *services.clock, log_),
      scheduler_(fleet_, mirror_, log_, *services.clock),
      backups_(fleet_, log_, *services.clock, services.serverFolder),
      scheduledBackup_(backups_, log_) {
    connect(&memoryLimits_, &MemoryLimitWatch::restartingForMemory, &alerts_,
            &AlertWatch::serverRestartingForMemory);
    settings_.UseInstallation(&installation_.launcher);
    fleet_.beforeStart = [this] { ReadInstallation(); };
    fleet_.startRefusal = [this](int server) { return backups_.StartRefusal(server); };
    fleet_.latestUsage = [this](int server) { return sampler_.latest(server); };
    memoryLimits_.holdsServer = [this](int server) { return backups_.Busy(server); };
    alerts_.watchSchedules(scheduler_);
    scheduler_.SetBackupStep([this](const QString& schedule, Scheduler::BackupDone done) {
        for (const ScheduleEntry& entry : installation_.schedules)
            if (entry.name == schedule)
                return scheduledBackup_.run(entry, std::move(done));
        done(false, QStringLiteral("the schedule is no longer in the installation's file"));
    });
    connect(&backups_, &ServerBackups::backupFinished, &alerts_, &AlertWatch::backupFinished);
    connect(&backups_, &ServerBackups::restoreFinished, &alerts_, &AlertWatch::restoreFinished);
}

LauncherCore::~LauncherCore() {
    if (watchingConsoleLogProblems_)
        services_.apis->WatchConsoleLogProblems({});
}

LauncherOptions LauncherCore::LoadSettings() {
    const LauncherOptions loaded = settings_.LoadOptions(options_);
    ReadInstallation();
    if (installation_.found)
        log_.note(QStringLiteral("This installation's settings are read from ") +
                  installationFile() + QStringLiteral(" at every start of the servers."));

    const QString lines =
        settings_.Read(kConsoleLines, QString::number(modAPIs::kDefaultConsoleLines));
    bool ok = false;
    const int count = lines.trimmed().toInt(&ok);
    if (ok && count >= kMinConsoleLines && count <= kMaxConsoleLines)
        services_.apis->SetConsoleLineLimit(count);
    else
        settings_.LogUnusable(kConsoleLines, lines,
                              QString::number(services_.apis->ConsoleLineLimit()));
    logMaxBytes_ = settings_.ReadNumber(kSizeKey, kDefaultSizeKb, 16, kMaxSizeKb) * 1024;
    logKept_ = static_cast<int>(settings_.ReadNumber(kKeptKey, kDefaultKept, 0, kMaxKept));
    return loaded;
}

QString LauncherCore::installationFile() const {
    return services_.serverFolder + u'/' + QLatin1String(InstallationConfig::kFileName);
}

void LauncherCore::ReadInstallation() {
    installation_ = InstallationConfig::Read(services_.serverFolder);
    for (const QString& problem : installation_.problems)
        log_.note(problem + u'.');
    const auto fromServerFolder = [this](const QString& path) {
        return path.isEmpty() || path.startsWith(u'/')
                   ? path
                   : QDir::cleanPath(services_.serverFolder + u'/' + path);
    };
    for (int i = 0; i < ServerTable::kCount; ++i) {
        const ServerLaunchConfig& server = installation_.servers[i];
        fleet_.SetProgram(i, fromServerFolder(server.program));
        fleet_.SetStopPlan(i, server.stopPlan);
        fleet_.supervisor(i).health = server.health;
        backups_.configure(i, server.backup,
                           server.stopPlan ? server.stopPlan->saveConfirmation : QString());
        services_.apis->SetLaunchOptions(ServerTable::displayNames()[i],
                                         LaunchOptions{server.arguments, server.environment,
                                                       fromServerFolder(server.workingFolder)});
    }
    LoadCloseRequests();
    fleet_.monitor().LoadSettings(settings_);
    sampler_.SetIntervalSeconds(static_cast<int>(
        settings_.ReadNumber(kSampleKey, ResourceSampler::kDefaultSeconds, 1, 3600)));
    alerts_.setTiming(installation_.alerts.backUpAfterSeconds,
                      installation_.alerts.summaryEverySeconds);
    scheduler_.SetEntries(installation_.schedules);
    emit installationRead();
}

// How each server is asked to end: the installation's "close request" of its section, else the
// user's setting "Map Server Close Request" and so on, else the platform's default. A value the
// platform cannot use is named in the log and the default stays. Read only, never written.
void LauncherCore::LoadCloseRequests() {
    for (int i = 0; i < ServerTable::kCount; ++i) {
        const QString& title = ServerTable::displayNames()[i];
        const QString key = title + QStringLiteral(" Close Request");
        QString request = installation_.servers[i].closeRequest;
        if (request.isEmpty())
            request = settings_.Read(key);
        if (request.isEmpty() || !services_.apis->SetCloseRequest(title, request)) {
            if (!request.isEmpty())
                settings_.LogUnusable(key, request, QStringLiteral("the default close request"));
            services_.apis->SetCloseRequest(title, QStringLiteral("SIGTERM"));
        }
    }
}

void LauncherCore::SaveSettings() {
    settings_.SaveOptions(options_);
}

void LauncherCore::UseLogFolder(const QString& folder, const QString& note) {
    log_.UseLogFolder(folder, note, logMaxBytes_, logKept_);
    if (folder.isEmpty() || tmrConsoleLogProblems_ || watchingConsoleLogProblems_)
        return;
    // Told of each problem as it happens where the platform can; else looked for every 2 s.
    watchingConsoleLogProblems_ =
        services_.apis->WatchConsoleLogProblems([this] { ReportConsoleLogProblems(); });
    if (watchingConsoleLogProblems_)
        return;
    tmrConsoleLogProblems_ = new QTimer(this);
    connect(tmrConsoleLogProblems_, &QTimer::timeout, this,
            &LauncherCore::ReportConsoleLogProblems);
    tmrConsoleLogProblems_->start(kProblemPollMs);
}

void LauncherCore::ReportConsoleLogProblems() {
    for (const QString& problem : services_.apis->TakeConsoleLogProblems())
        log_.note(QStringLiteral("Console log: ") + problem +
                  QStringLiteral("; the server keeps running."));
}

void LauncherCore::ServerTabSelected(int server) {
    mirror_.SelectServer(server);
    if (server >= 0 && fleet_.ServerState() > LauncherState::Offline)
        mirror_.ShowServerMessages(server);
}

void LauncherCore::BeginExit(std::function<void()> done) {
    if (exiting_) // a second close request while the first still waits for the servers
        return;
    exiting_ = true;
    exitDone_ = std::move(done);
    if (fleet_.AnythingToStop())
        fleet_.StopServers();
    SaveSettings();
    fleet_.tmrStatusUpdater->stop();
    if (!fleet_.AnyStopUnderWay()) {
        finishExit();
        return;
    }
    connect(&fleet_, &ServerFleet::stopsSettled, this, &LauncherCore::finishExit);
}

void LauncherCore::finishExit() {
    if (!exitDone_)
        return;
    for (const QString& name : fleet_.StillRunningAfterStop()) {
        const QString line =
            LauncherLog::Now() + QStringLiteral("> ") + name +
            QStringLiteral(" is still running; the launcher ends and leaves it running.");
        log_.LauncherLogAdd(line);
        std::fprintf(stderr, "corvane-launcher: %s\n", qPrintable(line));
    }
    alerts_.launcherExiting(fleet_.StillRunningAfterStop());
    const std::function<void()> done = std::exchange(exitDone_, nullptr);
    done();
}

StatusSnapshot LauncherCore::CurrentStatus() const {
    static const QString labels[ServerTable::kCount] = {
        QStringLiteral("login"), QStringLiteral("char"), QStringLiteral("map")};
    const std::int64_t epochNowMs = QDateTime::currentMSecsSinceEpoch();
    const std::int64_t clockNowMs = services_.clock->NowMs();
    StatusSnapshot snapshot;
    for (int i = 0; i < ServerTable::kCount; ++i) {
        ServerStatus& s = snapshot.servers[i];
        const ServerSupervisor& server = fleet_.supervisor(i);
        s.label = labels[i];
        s.meantToRun = server.meantToRun();
        s.running = server.process.lPID > 0 && fleet_.ServerRuns(i);
        if (s.running) {
            s.pid = server.process.lPID;
            const std::int64_t upMs = clockNowMs - server.runningSinceMs();
            s.startTimeSeconds = static_cast<double>(epochNowMs - upMs) / 1000.0;
        }
        s.crashes = server.tally.crashes;
        s.relaunches = server.tally.relaunches;
        s.lastCrashSeconds = static_cast<double>(server.tally.lastCrashEpochMs) / 1000.0;
        s.ready = s.running && server.ready();
        s.probeFailures = server.probeFailures;
        s.resources = sampler_.latest(i);
        s.players = players_.players(i);
    }
    snapshot.launcherState = fleet_.ServerState();
    snapshot.intervalSeconds = options_.intervalSeconds;
    snapshot.version = QStringLiteral(CORVANE_VERSION);
    snapshot.installationId = services_.apis->InstallationId();
    snapshot.launcherPid = QCoreApplication::applicationPid();
    return snapshot;
}
