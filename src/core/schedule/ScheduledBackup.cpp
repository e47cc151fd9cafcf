#include "ScheduledBackup.h"

#include "LauncherLog.h"
#include "ServerBackups.h"
#include "ServerTable.h"

#include <algorithm>

ScheduledBackup::ScheduledBackup(ServerBackups& backups, LauncherLog& log, QObject* parent)
    : QObject(parent), backups_(backups), log_(log) {
    connect(&backups_, &ServerBackups::backupFinished, this, &ScheduledBackup::finished);
}

void ScheduledBackup::run(const ScheduleEntry& entry, Scheduler::BackupDone done) {
    if (done_) // a run that was still waiting: the scheduler has moved on from it
        std::exchange(done_, {})(false, QStringLiteral("a newer scheduled backup began"));
    waiting_ = {};
    failures_.clear();
    done_ = std::move(done);
    for (int server = 0; server < ServerTable::kCount; ++server) {
        if (!entry.servers[server])
            continue;
        const QString& name = ServerTable::displayNames()[server];
        if (!backups_.config(server).enabled()) {
            if (!entry.allServers()) // an "all" schedule backs up the servers that have paths
                log_.note(QStringLiteral("Schedule \"") + entry.name + QStringLiteral("\": ") +
                          name + QStringLiteral(" has no backup path; it is left out."));
            continue;
        }
        if (backups_.StartBackup(server))
            waiting_[server] = true;
        else
            failures_ << name + QStringLiteral(" could not begin its backup");
    }
    answer();
}

void ScheduledBackup::finished(int server, bool ok, const QString& detail) {
    if (!waiting_[server])
        return; // one the operator asked for
    waiting_[server] = false;
    if (!ok)
        failures_ << ServerTable::displayNames()[server] + QStringLiteral(": ") + detail;
    answer();
}

// Tells the schedule once no backup of its is under way any more.
void ScheduledBackup::answer() {
    if (!done_ || std::any_of(waiting_.begin(), waiting_.end(), [](bool w) { return w; }))
        return;
    std::exchange(done_, {})(failures_.isEmpty(), failures_.join(QStringLiteral("; ")));
}
