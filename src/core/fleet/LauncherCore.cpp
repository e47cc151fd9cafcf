#include "LauncherCore.h"

#include "Clock.h"
#include "CrashMonitor.h"
#include "LauncherKeys.h"
#include "LauncherState.h"
#include "modAPIs.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <cstdio>

namespace {

// How often the console logs' problems are looked for while logs are written.
constexpr int kProblemPollMs = 2000;

} // namespace

LauncherCore::LauncherCore(const CoreServices& services, QObject* parent)
    : QObject(parent), services_(services), log_(*services.clock), audit_(*services.clock),
      settings_(*services.settings, log_), mirror_(*services.apis, *services.clock, options_),
      fleet_(services, log_, options_, mirror_),
      alerts_(fleet_, *services.clock, services.serverFolder),
      sampler_(*services.apis, *services.clock, fleet_),
      players_(*services.apis, fleet_, installation_, sampler_),
      memoryLimits_(fleet_, installation_, sampler_, *services.clock, log_),
      scheduler_(fleet_, mirror_, log_, *services.clock),
      backups_(fleet_, log_, *services.clock, services.serverFolder),
      answers_(*services.apis, log_, *services.clock), scheduledBackup_(backups_, log_) {
    connect(&memoryLimits_, &MemoryLimitWatch::restartingForMemory, &alerts_,
            &AlertWatch::serverRestartingForMemory);
    settings_.UseInstallation(&installation_.launcher);
    fleet_.beforeStart = [this] { ReadInstallation(); };
    fleet_.startRefusal = [this](int server) { return backups_.StartRefusal(server); };
    fleet_.settingsRefusal = [this](int server) { return SettingsRefusal(server); };
    mirror_.typed = [this](int server, const QString& line) { answers_.typed(server, line); };
    backups_.awaitAnswer = [this](int server, const QString& line,
                                  std::function<void(bool)> answered) {
        return answers_.typed(server, line, std::move(answered));
    };
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
    auditOwnRules();
}

// What the launcher does of itself, by the installation's rules, is audited as what is asked.
void LauncherCore::auditOwnRules() {
    const QString launcher = QStringLiteral("the launcher");
    const QString file = QStringLiteral("the installation's file");
    connect(&scheduler_, &Scheduler::acted, this,
            [this, file](const QString& schedule, const QString& what, const QString& outcome) {
                audit_.record(QStringLiteral("schedule"), schedule, file, what, outcome);
            });
    connect(&fleet_.monitor(), &CrashMonitor::probeFailed, this,
            [this, launcher, file](int server, const QString& reason) {
                audit_.record(QStringLiteral("health rule"), launcher, file,
                              QStringLiteral("restart ") + fleet_.supervisor(server).name(),
                              QStringLiteral("begun: ") + reason);
            });
    connect(&memoryLimits_, &MemoryLimitWatch::restartingForMemory, this,
            [this, launcher, file](int server, const QString& reason) {
                audit_.record(QStringLiteral("memory rule"), launcher, file,
                              QStringLiteral("restart ") + fleet_.supervisor(server).name(),
                              QStringLiteral("begun: ") + reason);
            });
}

LauncherCore::~LauncherCore() {
    if (watchingConsoleLogProblems_)
        services_.apis->WatchConsoleLogProblems({});
}

LauncherOptions LauncherCore::LoadSettings() {
    const LauncherOptions loaded = settings_.LoadOptions(options_);
    ReadInstallation();
    if (!installation_.refusal.isEmpty())
        log_.note(installation_.refusal + QStringLiteral("; no server is started until it is "
                                                         "mended."));
    else if (installation_.found)
        log_.note(QStringLiteral("This installation's settings are read from ") +
                  installationFile() + QStringLiteral(" at every start of the servers."));

    // How many of a console's last lines the message pane shows; only read, never written.
    const LauncherKey& linesKey = LauncherKeys::kConsoleLines;
    const QString lines = settings_.Read(linesKey);
    bool ok = false;
    const int count = lines.trimmed().toInt(&ok);
    if (ok && count >= linesKey.low && count <= linesKey.high)
        services_.apis->SetConsoleLineLimit(count);
    else
        settings_.LogUnusable(QString::fromLatin1(linesKey.name), lines,
                              QString::number(services_.apis->ConsoleLineLimit()));
    logMaxBytes_ = settings_.ReadNumber(LauncherKeys::kLogSizeKb) * 1024;
    logKept_ = static_cast<int>(settings_.ReadNumber(LauncherKeys::kLogFilesKept));
    return loaded;
}

QString LauncherCore::installationFile() const {
    return services_.serverFolder + u'/' + QLatin1String(InstallationConfig::kFileName);
}

QString LauncherCore::fromServerFolder(const QString& path) const {
    return path.isEmpty() || path.startsWith(u'/')
               ? path
               : QDir::cleanPath(services_.serverFolder + u'/' + path);
}

QString LauncherCore::SettingsRefusal(int server) const {
    if (!installation_.refusal.isEmpty())
        return installation_.refusal;
    const ServerLaunchConfig& config = installation_.servers[server];
    if (!config.launchProblem.isEmpty())
        return config.launchProblem;
    const QString folder = fromServerFolder(config.workingFolder);
    if (!folder.isEmpty() && !services_.apis->FolderExists(folder))
        return QStringLiteral("its working folder ") + folder + QStringLiteral(" is not a folder");
    return {};
}

void LauncherCore::ReadInstallation() {
    installation_ = InstallationConfig::Read(services_.serverFolder);
    for (const QString& problem : installation_.problems)
        log_.note(problem + u'.');
    for (int i = 0; i < ServerTable::kCount; ++i) {
        const ServerLaunchConfig& server = installation_.servers[i];
        fleet_.SetProgram(i, fromServerFolder(server.program));
        fleet_.SetStopPlan(i, server.stopPlan);
        fleet_.supervisor(i).health = server.health;
        answers_.setPattern(i, server.consoleAnswers);
        backups_.configure(i, server.backup,
                           server.stopPlan ? server.stopPlan->saveConfirmation : QString());
        // The server folder, unless the file names another: a program in a folder of its own
        // runs there too.
        const QString folder = server.workingFolder.isEmpty()
                                   ? services_.serverFolder + u'/'
                                   : fromServerFolder(server.workingFolder);
        services_.apis->SetLaunchOptions(
            ServerTable::displayNames()[i],
            LaunchOptions{server.arguments, server.environment, folder});
    }
    LoadCloseRequests();
    fleet_.monitor().LoadSettings(settings_);
    sampler_.SetIntervalSeconds(
        static_cast<int>(settings_.ReadNumber(LauncherKeys::kSampleSeconds)));
    alerts_.setTiming(installation_.alerts.backUpAfterSeconds,
                      installation_.alerts.summaryEverySeconds);
    scheduler_.SetEntries(installation_.schedules);
    emit installationRead();
}

// How each server is asked to end: the installation's "close request" of its section, else the
// user's setting "Map Server Close Request" and so on, else the platform's default. A value the
// platform cannot use is named in the log and the default stays. Read only, never written.
void LauncherCore::LoadCloseRequests() {
    static constexpr const LauncherKey* kKeys[] = {&LauncherKeys::kLoginCloseRequest,
                                                   &LauncherKeys::kCharCloseRequest,
                                                   &LauncherKeys::kMapCloseRequest};
    for (int i = 0; i < ServerTable::kCount; ++i) {
        const QString& title = ServerTable::displayNames()[i];
        const QString key = QString::fromLatin1(kKeys[i]->name);
        QString request = installation_.servers[i].closeRequest;
        if (request.isEmpty())
            request = settings_.Read(key);
        if (request.isEmpty() || !services_.apis->SetCloseRequest(title, request)) {
            if (!request.isEmpty())
                settings_.LogUnusable(key, request, QStringLiteral("the default close request"));
            services_.apis->SetCloseRequest(title, QString::fromLatin1(kKeys[i]->fallback));
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
    tmrConsoleLogProblems_ = services_.clock->CreateTimer(this);
    connect(tmrConsoleLogProblems_, &ClockTimer::timeout, this,
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
    backups_.EndJobsForExit();
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
    if (backups_.AnyBusy()) { // a backup giving up, a restore rolling back or finishing
        connect(&backups_, &ServerBackups::idle, this, &LauncherCore::finishExit,
                Qt::SingleShotConnection);
        return;
    }
    for (const QString& name : fleet_.StillRunningAfterStop()) {
        const QString line =
            log_.Now() + QStringLiteral("> ") + name +
            QStringLiteral(" is still running; the launcher ends and leaves it running.");
        log_.LauncherLogAdd(line);
        std::fprintf(stderr, "corvane-launcher: %s\n", qPrintable(line));
    }
    alerts_.launcherExiting(fleet_.StillRunningAfterStop());
    const std::function<void()> done = std::exchange(exitDone_, nullptr);
    done();
}

StatusSnapshot LauncherCore::CurrentStatus() const {
    const std::int64_t epochNowMs = services_.clock->EpochMs();
    const std::int64_t clockNowMs = services_.clock->NowMs();
    StatusSnapshot snapshot;
    for (int i = 0; i < ServerTable::kCount; ++i) {
        ServerStatus& s = snapshot.servers[i];
        const ServerSupervisor& server = fleet_.supervisor(i);
        s.label = ServerTable::labels()[i];
        s.meantToRun = server.meantToRun();
        s.running = server.process.lPID > 0 && fleet_.ServerRuns(i);
        if (s.running)
            s.pid = server.process.lPID;
        // A server being started has no start time yet: its process is not yet the one counted.
        if (s.running && server.runningSinceKnown()) {
            // Told once per process: read from two clocks each time, it would wander by a
            // millisecond from one look to the next.
            StartTime& known = startTimes_[i];
            if (known.pid != s.pid || known.sinceMs != server.runningSinceMs()) {
                const std::int64_t upMs = clockNowMs - server.runningSinceMs();
                known = {s.pid, server.runningSinceMs(),
                         static_cast<double>(epochNowMs - upMs) / 1000.0};
            }
            s.startTimeSeconds = known.epochSeconds;
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
