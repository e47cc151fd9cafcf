#pragma once

#include "BackupArchive.h"
#include "BackupConfig.h"
#include "BackupRetention.h"
#include "ServerTable.h"

#include <QObject>
#include <QRegularExpression>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class Clock;
class ConsoleLineWatch;
class LauncherLog;
class QThread;
class ClockTimer;
class ServerFleet;

// Each server's backups and restores. A backup archives the paths its section names into its
// backup folder on a worker thread, after the server's save command when it runs; old archives
// past the limits are removed after each one made. A restore puts an archive's paths back while
// the server is stopped, and the server is not started until it is over. One backup or restore of
// a server at a time. The window and the schedules only call in and follow the signals.
class ServerBackups : public QObject {
    Q_OBJECT
public:
    // How long a running server is given to confirm its save before the backup goes on anyway.
    static constexpr int kSaveWaitSeconds = 60;

    ServerBackups(ServerFleet& fleet, LauncherLog& log, Clock& clock, const QString& serverFolder,
                  QObject* parent = nullptr);
    ~ServerBackups() override;

    // The installation's settings for the server, and the console line that confirms its save
    // (empty: none is waited for).
    void configure(int server, const BackupConfig& backup, const QString& saveConfirmation);
    const BackupConfig& config(int server) const { return configs_[server]; }
    QString folder(int server) const;

    // Begins a backup of the server: its save command first while it runs, then the archive.
    // False (and logged) when it has no backup paths, or a backup or restore of it is under way;
    // else backupFinished follows.
    bool StartBackup(int server);
    bool CanBackUp(int server) const;
    bool Busy(int server) const { return jobs_[server] != nullptr; }

    // The server's archives, the newest first.
    QList<BackupArchiveFile> Archives(int server) const;
    // Begins putting the archive's paths back; only while the server is stopped. False (and
    // logged) when it cannot begin; else restoreFinished follows.
    bool StartRestore(int server, const QString& archivePath);
    bool CanRestore(int server) const;
    // What a restore would replace: the paths of the server's backups.
    QStringList RestoredPaths(int server) const;

    // Why the server may not be started now; empty when it may.
    QString StartRefusal(int server) const;
    // The backup or restore under way, in a line for the server's tab tooltip; empty when none.
    QString ProgressText(int server) const;

    // The launcher exits: a backup under way is given up (its partial archive removed); a restore
    // rolls back, or finishes when it is already putting the paths in place, which takes a few
    // renames. The wait is for the block being unpacked and the removal of what was unpacked.
    // idle follows once none runs.
    void EndJobsForExit();
    bool AnyBusy() const;

    // How the archives are read and written; tests put in failing ones.
    ArchiveIo io;
    // Waits for the server's console to answer a line typed into it, telling answered whether it
    // did; false when its console is not checked (see ConsoleAnswers).
    std::function<bool(int server, const QString& line, std::function<void(bool)> answered)>
        awaitAnswer = [](int, const QString&, const std::function<void(bool)>&) { return false; };
    // How much room a restore sees; tests claim more than a small disk has.
    std::function<qint64(const QString& folder)> freeBytes;

signals:
    // ok: detail is the archive made; else why not.
    void backupFinished(int server, bool ok, const QString& detail);
    // ok: detail names what was put back and where what it replaced is; else why not.
    void restoreFinished(int server, bool ok, const QString& detail);
    // No backup or restore runs any more, after EndJobsForExit.
    void idle();

private:
    struct Job;
    void lookForSave();
    void beginArchive(int server);
    void progressed(int server, int quarter, qint64 done, qint64 total);
    void backupDone(int server);
    void restoreDone(int server);
    QString program(int server) const;
    QString name(int server) const;
    void note(int server, const QString& text) const;
    void removeLeftovers(int server);

    ServerFleet& fleet_;
    LauncherLog& log_;
    Clock& clock_;
    QString serverFolder_;
    std::array<BackupConfig, ServerTable::kCount> configs_;
    std::array<QString, ServerTable::kCount> confirmations_;
    std::array<std::shared_ptr<Job>, ServerTable::kCount> jobs_;
    std::array<bool, ServerTable::kCount> leftoversLooked_{};
    bool exiting_ = false;
    ClockTimer* tmrSave_;
};
