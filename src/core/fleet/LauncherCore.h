#pragma once

#include "ActionAudit.h"
#include "AlertWatch.h"
#include "ConsoleAnswers.h"
#include "ConsoleMirror.h"
#include "CoreServices.h"
#include "InstallationConfig.h"
#include "LauncherLog.h"
#include "LauncherOptions.h"
#include "LauncherSettings.h"
#include "MemoryLimitWatch.h"
#include "PlayerCounter.h"
#include "ResourceSampler.h"
#include "ScheduledBackup.h"
#include "Scheduler.h"
#include "ServerBackups.h"
#include "ServerFleet.h"
#include "StatusSnapshot.h"

#include <QObject>
#include <array>
#include <functional>

class ClockTimer;

// The launcher without its window: the log, the options, the console mirror and the fleet of
// servers, wired together. The window and the tray observe it through the signals of its parts and
// forward the operator's actions to it; tests drive it alone, with a fake operating system and
// clock.
class LauncherCore : public QObject {
    Q_OBJECT
public:
    explicit LauncherCore(const CoreServices& services, QObject* parent = nullptr);
    ~LauncherCore() override;

    LauncherLog& log() { return log_; }
    // Told what every surface, and the launcher's own rules, asked of the servers.
    ActionAudit& audit() { return audit_; }
    LauncherOptions& options() { return options_; }
    const LauncherOptions& options() const { return options_; }
    LauncherSettings& settings() { return settings_; }
    ConsoleMirror& mirror() { return mirror_; }
    ServerFleet& fleet() { return fleet_; }
    AlertWatch& alerts() { return alerts_; }
    // The installation's schedules: timed restarts, commands and backups.
    Scheduler& schedules() { return scheduler_; }
    const Scheduler& schedules() const { return scheduler_; }
    // Each server's backups and restores.
    ServerBackups& backups() { return backups_; }
    ConsoleAnswers& answers() { return answers_; }
    const ServerBackups& backups() const { return backups_; }
    const ServerFleet& fleet() const { return fleet_; }
    // What each server's processes use, sampled every few seconds while servers run.
    const ResourceSampler& resources() const { return sampler_; }
    ResourceSampler& resources() { return sampler_; }
    const CoreServices& services() const { return services_; }
    // The players on each server whose console tells them, counted at every sample.
    const PlayerCounter& players() const { return players_; }
    // The installation's settings as last read, and the file they are read from.
    const InstallationConfig& installation() const { return installation_; }
    QString installationFile() const;

    // Reads the settings: the persisted options (returned, for the window to show; the window
    // copies them in as its controls take them), the installation's own settings and the keys
    // that are only read.
    LauncherOptions LoadSettings();
    // Reads the installation's settings (corvane-launcher.ini in the server folder) and applies
    // what a start of the servers uses: programs, their options and stop sequences, the close
    // requests, the crash pacing. Runs at every start of the servers too.
    void ReadInstallation();
    // Writes the persisted options.
    void SaveSettings();

    // The logs folder chosen at start-up (empty: none can be written), with the line that says so.
    void UseLogFolder(const QString& folder, const QString& note);

    // The operator selected a server's tab (0 to 2), or the options (-1): the pane mirrors that
    // server's console, captured at once while servers run.
    void ServerTabSelected(int server);

    // The launcher is closing: stops whatever runs or is being started, saves the settings, and
    // calls done once the stop sequences have run to their end or their deadlines (at once when
    // none runs). The log, and standard error, name the servers left running.
    void BeginExit(std::function<void()> done);
    bool ExitPending() const { return static_cast<bool>(exitDone_); }

    // The servers' state for monitoring systems, taken now.
    StatusSnapshot CurrentStatus() const;

signals:
    // The installation's settings were read again (at start-up and every start of the servers).
    void installationRead();

private:
    void LoadCloseRequests();
    void auditOwnRules();
    // A path of the installation's file: relative to the server folder unless absolute.
    QString fromServerFolder(const QString& path) const;
    // Why the server may not be started with the installation's settings; empty: it may.
    QString SettingsRefusal(int server) const;
    void ReportConsoleLogProblems();
    void finishExit();

    CoreServices services_;
    InstallationConfig installation_;
    LauncherLog log_;
    ActionAudit audit_;
    LauncherOptions options_;
    LauncherSettings settings_;
    ConsoleMirror mirror_;
    ServerFleet fleet_;
    AlertWatch alerts_;
    ResourceSampler sampler_;
    PlayerCounter players_;
    MemoryLimitWatch memoryLimits_;
    Scheduler scheduler_;
    ServerBackups backups_;
    ConsoleAnswers answers_;
    ScheduledBackup scheduledBackup_;
    qint64 logMaxBytes_ = 0;
    int logKept_ = 0;
    ClockTimer* tmrConsoleLogProblems_ = nullptr;
    bool watchingConsoleLogProblems_ = false;
    bool exiting_ = false;
    std::function<void()> exitDone_;
    // Each server's start time as the status first told it, for its process.
    struct StartTime {
        std::int32_t pid = 0;
        std::int64_t sinceMs = 0;
        double epochSeconds = 0;
    };
    mutable std::array<StartTime, ServerTable::kCount> startTimes_{};
};
