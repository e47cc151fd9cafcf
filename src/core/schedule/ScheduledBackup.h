#pragma once

#include "Scheduler.h"

#include <QObject>
#include <QStringList>
#include <array>

class LauncherLog;
class ServerBackups;

// The backup a schedule asks for: one of each of its servers that has backup paths, all begun at
// once; the schedule hears the outcome once every one of them has ended.
class ScheduledBackup : public QObject {
    Q_OBJECT
public:
    ScheduledBackup(ServerBackups& backups, LauncherLog& log, QObject* parent = nullptr);

    // Begins the backups of the entry's servers; done follows, at once when none could begin.
    void run(const ScheduleEntry& entry, Scheduler::BackupDone done);

private:
    void finished(int server, bool ok, const QString& detail);
    void answer();

    ServerBackups& backups_;
    LauncherLog& log_;
    std::array<bool, 3> waiting_{};
    QStringList failures_;
    Scheduler::BackupDone done_;
};
