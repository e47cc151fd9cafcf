#include "ServerBackups.h"

#include "Clock.h"
#include "ConsoleLineWatch.h"
#include "ConsolePattern.h"
#include "LauncherLog.h"
#include "RestoreArchive.h"
#include "ServerFleet.h"
#include "modAPIs.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <unistd.h>

namespace {

// How often the console of a server that was asked to save is looked at.
constexpr int kSaveLookMs = 250;

QString Stamp(std::int64_t epochMs) {
    return QDateTime::fromMSecsSinceEpoch(epochMs, Qt::UTC)
        .toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

QString Seconds(std::int64_t ms) {
    return ms < 10000 ? QStringLiteral("%1 s").arg(static_cast<double>(ms) / 1000, 0, 'f', 1)
                      : QStringLiteral("%1 s").arg((ms + 500) / 1000);
}

} // namespace

struct ServerBackups::Job {
    bool restore = false;
    bool saving = false;      // waiting for the server to confirm its save
    bool answering = false;   // waiting for its console to answer the save command
    bool unconfirmed = false; // asked to save, but backed up without a word that it did
    QString archive;          // written, or restored from
    std::int64_t startedMs = 0;
    std::int64_t saveDueMs = 0;
    std::unique_ptr<ConsoleLineWatch> console;
    QRegularExpression confirmation;
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{0};
    std::atomic<bool> cancel{false};
    QThread* thread = nullptr;
    // The worker's outcome, read once the thread has finished.
    ArchiveWriteResult written;
    QList<BackupArchiveFile> removed;
    QStringList notRemoved;
    RestoreResult restored;
};

ServerBackups::ServerBackups(ServerFleet& fleet, LauncherLog& log, Clock& clock,
                             const QString& serverFolder, QObject* parent)
    : QObject(parent), fleet_(fleet), log_(log), clock_(clock), serverFolder_(serverFolder),
      tmrSave_(clock.CreateTimer(this)) {
    tmrSave_->setInterval(kSaveLookMs);
    connect(tmrSave_, &ClockTimer::timeout, this, &ServerBackups::lookForSave);
}

ServerBackups::~ServerBackups() {
    // Without EndJobsForExit first: a backup under way is given up (its partial archive removed),
    // a restore rolls back or finishes, as EndJobsForExit tells.
    for (const std::shared_ptr<Job>& job : jobs_) {
        if (job && job->thread) {
            job->cancel = true;
            job->thread->wait();
            delete job->thread;
        }
    }
}

void ServerBackups::configure(int server, const BackupConfig& backup,
                              const QString& saveConfirmation) {
    configs_[server] = backup;
    confirmations_[server] = saveConfirmation;
    if (!leftoversLooked_[server] && backup.enabled() && !jobs_[server]) {
        leftoversLooked_[server] = true;
        removeLeftovers(server);
    }
}

// What an earlier run that ended during a backup or restore (killed, or the machine down) left:
// its partial archive, its private restore folders. Only this user's own are removed.
void ServerBackups::removeLeftovers(int server) {
    const uint me = ::geteuid();
    QStringList removed;
    const QString archives = folder(server);
    const QString partialStart = u'.' + program(server) + u'-';
    for (const QFileInfo& info :
         QDir(archives).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        if (info.fileName().startsWith(partialStart) &&
            info.fileName().contains(QLatin1String(".partial")) && info.ownerId() == me &&
            QFile::remove(info.filePath()))
            removed << info.filePath();
    }
    for (const BackupSource& source : BackupSources(configs_[server], serverFolder_)) {
        const QFileInfo target(source.target);
        const QString base = target.fileName();
        for (const QFileInfo& info : QDir(target.absolutePath())
                                         .entryInfoList(QDir::Dirs | QDir::Hidden |
                                                        QDir::NoSymLinks | QDir::NoDotAndDotDot)) {
            if (!IsRestoreLeftover(base, info.fileName()) || info.ownerId() != me)
                continue;
            const int parent = ::open(QFile::encodeName(target.absolutePath()).constData(),
                                      O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (parent >= 0 && RemoveTree(parent, QFile::encodeName(info.fileName()).constData()))
                removed << info.filePath();
            if (parent >= 0)
                ::close(parent);
        }
    }
    for (const QString& path : removed)
        note(server, QStringLiteral("backup or restore of an earlier run left %1; it is removed.")
                         .arg(path));
}

bool ServerBackups::AnyBusy() const {
    return std::any_of(jobs_.begin(), jobs_.end(), [](const auto& job) { return job != nullptr; });
}

void ServerBackups::EndJobsForExit() {
    exiting_ = true;
    tmrSave_->stop();
    for (int server = 0; server < ServerTable::kCount; ++server) {
        const std::shared_ptr<Job> job = jobs_[server];
        if (!job)
            continue;
        job->cancel = true;
        if (job->saving) { // no archive begun yet
            jobs_[server] = nullptr;
            note(server, QStringLiteral("backup given up: the launcher exits."));
            emit backupFinished(server, false, QStringLiteral("the launcher exits"));
        }
    }
    if (!AnyBusy())
        emit idle();
}

QString ServerBackups::program(int server) const {
    return ServerTable::programFiles()[server].mid(1);
}

QString ServerBackups::name(int server) const {
    return ServerTable::displayNames()[server];
}

void ServerBackups::note(int server, const QString& text) const {
    log_.note(name(server) + u' ' + text);
}

QString ServerBackups::folder(int server) const {
    return BackupFolder(configs_[server], serverFolder_, program(server));
}

bool ServerBackups::CanBackUp(int server) const {
    return configs_[server].enabled() && !jobs_[server];
}

bool ServerBackups::StartBackup(int server) {
    if (exiting_)
        return false;
    if (!configs_[server].enabled()) {
        note(server, QStringLiteral("has no backup: its section of %1 names no \"backup path\".")
                         .arg(QStringLiteral("corvane-launcher.ini")));
        return false;
    }
    if (jobs_[server]) {
        note(server, jobs_[server]->restore
                         ? QStringLiteral("is not backed up: a backup is being restored.")
                         : QStringLiteral("is not backed up again: its backup is under way."));
        return false;
    }
    auto job = std::make_shared<Job>();
    jobs_[server] = job;
    job->startedMs = clock_.NowMs();
    const QString& command = configs_[server].saveCommand;
    if (command.isEmpty() || !fleet_.ServerRuns(server)) {
        beginArchive(server);
        return true;
    }
    modAPIs& apis = *fleet_.services().apis;
    job->console = std::make_unique<ConsoleLineWatch>(apis, name(server));
    const bool sent = apis.SendConsoleInput(name(server), command) != 0;
    const std::weak_ptr<Job> weak = job;
    const auto answered = [this, server, weak, command](bool answer) {
        const std::shared_ptr<Job> waited = weak.lock();
        if (!waited || jobs_[server] != waited || !waited->answering)
            return;
        waited->answering = false;
        waited->unconfirmed = !answer;
        note(server, answer ? QStringLiteral("answered its save command (\"%1\").").arg(command)
                            : QStringLiteral("did not answer its save command (\"%1\"): its save "
                                             "is unconfirmed; backing it up as it is.")
                                  .arg(command));
        beginArchive(server);
    };
    // Without a save confirmation, an answer of its console at least tells that it read the line.
    if (sent && confirmations_[server].isEmpty() && awaitAnswer(server, command, answered)) {
        job->console.reset();
        job->answering = true;
        note(server, QStringLiteral("was asked to save (\"%1\"); its backup begins once its "
                                    "console answers.")
                         .arg(command));
        return true;
    }
    if (!sent || confirmations_[server].isEmpty()) {
        note(server,
             sent ? QStringLiteral("was asked to save (\"%1\") before its backup.").arg(command)
                  : QStringLiteral("could not be asked to save (\"%1\"); backing it up as it "
                                   "is.")
                        .arg(command));
        beginArchive(server);
        return true;
    }
    note(server, QStringLiteral("was asked to save (\"%1\"); its backup begins once it confirms, "
                                "within %2 s.")
                     .arg(command)
                     .arg(kSaveWaitSeconds));
    job->saving = true;
    job->confirmation = ConsolePattern::Compile(confirmations_[server]);
    job->saveDueMs = clock_.NowMs() + std::int64_t{1000} * kSaveWaitSeconds;
    tmrSave_->start();
    return true;
}

void ServerBackups::lookForSave() {
    bool anyWaiting = false;
    for (int server = 0; server < ServerTable::kCount; ++server) {
        const std::shared_ptr<Job> job = jobs_[server];
        if (!job || !job->saving)
            continue;
        bool saved = false;
        for (const QString& line : job->console->newLines())
            saved = saved || ConsolePattern::Match(job->confirmation, line).hasMatch();
        if (saved) {
            note(server, QStringLiteral("saved its world."));
        } else if (clock_.NowMs() >= job->saveDueMs || !fleet_.ServerRuns(server)) {
            note(server, QStringLiteral("did not confirm its save within %1 s; backing it up as it "
                                        "is.")
                             .arg(kSaveWaitSeconds));
            job->unconfirmed = true;
        } else {
            anyWaiting = true;
            continue;
        }
        job->saving = false;
        job->console.reset();
        beginArchive(server);
    }
    if (!anyWaiting)
        tmrSave_->stop();
}

void ServerBackups::beginArchive(int server) {
    const std::shared_ptr<Job> job = jobs_[server];
    const QString into = folder(server);
    const std::int64_t now = clock_.EpochMs();
    int sameSecond = 1;
    while (QFileInfo::exists(into + u'/' + ArchiveName(program(server), now, sameSecond)))
        ++sameSecond;
    job->archive = into + u'/' + ArchiveName(program(server), now, sameSecond);
    const BackupConfig& config = configs_[server];
    note(server, QStringLiteral("backup started: %1 to %2.")
                     .arg(config.paths.join(QStringLiteral(", ")), job->archive));

    const QList<BackupSource> sources = BackupSources(config, serverFolder_);
    const ArchiveIo io = this->io;
    const QString programName = program(server);
    Job* raw = job.get();
    job->thread = QThread::create([raw, sources, into, io, config, programName, this, server] {
        int quarter = 0;
        const ArchiveProgress progress = [&](qint64 done, qint64 total) {
            raw->done = done;
            raw->total = total;
            const int now = total > 0 ? static_cast<int>(done * 4 / total) : 4;
            if (now > quarter && now < 4) {
                quarter = now;
                // The line tells how far it was at this quarter, not when the line is written.
                QMetaObject::invokeMethod(
                    this,
                    [this, server, now, done, total] { progressed(server, now, done, total); },
                    Qt::QueuedConnection);
            }
        };
        raw->written = WriteBackupArchive(sources, raw->archive, into, io, progress, raw->cancel);
        if (!raw->written.ok)
            return;
        const QString made = QFileInfo(raw->archive).fileName();
        raw->removed = ArchivesPastLimits(ServerArchives(into, programName), config.keepCount,
                                          config.keepBytes, made);
        for (const BackupArchiveFile& old : raw->removed)
            if (!QFile::remove(old.path))
                raw->notRemoved << old.name;
    });
    connect(job->thread, &QThread::finished, this, [this, server] { backupDone(server); });
    job->thread->start(QThread::LowPriority);
}

void ServerBackups::progressed(int server, int quarter, qint64 done, qint64 total) {
    if (!jobs_[server])
        return;
    note(server, QStringLiteral("backup %1 % (%2 of %3).")
                     .arg(quarter * 25)
                     .arg(ByteSizeText(done), ByteSizeText(total)));
}

void ServerBackups::backupDone(int server) {
    const std::shared_ptr<Job> job = std::exchange(jobs_[server], nullptr);
    job->thread->deleteLater();
    job->thread = nullptr;
    const ArchiveWriteResult& result = job->written;
    const auto idleOnExit = qScopeGuard([this] {
        if (exiting_ && !AnyBusy())
            emit idle();
    });
    if (!result.ok && job->cancel && result.error == QLatin1String("the backup was cancelled")) {
        note(server, QStringLiteral("backup given up: the launcher exits; the partial archive is "
                                    "removed."));
        emit backupFinished(server, false, QStringLiteral("the launcher exits"));
        return;
    }
    if (!result.ok) {
        note(
            server,
            QStringLiteral("backup failed: %1; the partial archive is removed.").arg(result.error));
        emit backupFinished(server, false, result.error);
        return;
    }
    const std::int64_t tookMs = clock_.NowMs() - job->startedMs;
    note(server,
         QStringLiteral("backup done: %1, %2 (%3 read, %4 files) in %5.")
                 .arg(job->archive, ByteSizeText(result.archiveBytes),
                      ByteSizeText(result.bytesRead))
                 .arg(result.files)
                 .arg(Seconds(tookMs)) +
             (job->unconfirmed ? QStringLiteral(" Its save was not confirmed: the world may be "
                                                "older than it looked.")
                               : QString()));
    if (result.skipped > 0)
        note(server, QStringLiteral("backup left out %1 entries that are neither files, folders "
                                    "nor links (pipes, sockets, devices).")
                         .arg(result.skipped));
    for (const BackupArchiveFile& old : job->removed)
        if (!job->notRemoved.contains(old.name))
            note(server, QStringLiteral("backup %1 removed: past the backups kept.").arg(old.name));
    for (const QString& old : job->notRemoved)
        note(server, QStringLiteral("backup %1 could not be removed.").arg(old));
    emit backupFinished(server, true, job->archive);
}

QList<BackupArchiveFile> ServerBackups::Archives(int server) const {
    return ServerArchives(folder(server), program(server));
}

QStringList ServerBackups::RestoredPaths(int server) const {
    QStringList paths;
    for (const BackupSource& source : BackupSources(configs_[server], serverFolder_))
        paths << source.target;
    return paths;
}

bool ServerBackups::CanRestore(int server) const {
    return configs_[server].enabled() && !jobs_[server] &&
           !fleet_.supervisor(server).keepsLauncherOnline() && !fleet_.ServerRuns(server);
}

bool ServerBackups::StartRestore(int server, const QString& archivePath) {
    if (exiting_)
        return false;
    if (!CanRestore(server)) {
        note(server,
             QStringLiteral("is not restored: %1.")
                 .arg(jobs_[server] ? QStringLiteral("a backup or restore of it is under way")
                      : configs_[server].enabled() ? QStringLiteral("it runs; stop it first")
                                                   : QStringLiteral("it has no \"backup path\"")));
        return false;
    }
    auto job = std::make_shared<Job>();
    job->restore = true;
    job->archive = archivePath;
    job->startedMs = clock_.NowMs();
    jobs_[server] = job;
    note(server, QStringLiteral("restore of %1 started; the server is not started until it is "
                                "over.")
                     .arg(archivePath));
    const QList<BackupSource> sources = BackupSources(configs_[server], serverFolder_);
    const QString stamp = Stamp(clock_.EpochMs());
    const QString folder = serverFolder_;
    Job* raw = job.get();
    RestoreControl control;
    control.cancel = &raw->cancel;
    control.progress = [raw](qint64 done, qint64 total) {
        raw->done = done;
        raw->total = total;
    };
    control.freeBytes = freeBytes;
    job->thread = QThread::create([raw, sources, folder, stamp, control] {
        raw->restored = RestoreBackupArchive(raw->archive, sources, folder, stamp, control);
    });
    connect(job->thread, &QThread::finished, this, [this, server] { restoreDone(server); });
    job->thread->start(QThread::LowPriority);
    return true;
}

void ServerBackups::restoreDone(int server) {
    const std::shared_ptr<Job> job = std::exchange(jobs_[server], nullptr);
    job->thread->deleteLater();
    job->thread = nullptr;
    const RestoreResult& result = job->restored;
    const QString archive = QFileInfo(job->archive).fileName();
    const auto idleOnExit = qScopeGuard([this] {
        if (exiting_ && !AnyBusy())
            emit idle();
    });
    if (!result.ok && job->cancel && result.error == QLatin1String("the restore was cancelled")) {
        note(server,
             QStringLiteral("restore of %1 stopped: the launcher exits; nothing was changed.")
                 .arg(archive));
        emit restoreFinished(server, false, QStringLiteral("the launcher exits"));
        return;
    }
    if (!result.ok) {
        const QString why = result.movedAside.isEmpty() && result.restored.isEmpty()
                                ? QStringLiteral("; nothing was changed")
                                : QStringLiteral("; moved aside so far: ") +
                                      result.movedAside.join(QStringLiteral(", "));
        note(server,
             QStringLiteral("restore of %1 stopped: %2%3.").arg(archive, result.error, why));
        emit restoreFinished(server, false, result.error + why);
        return;
    }
    const QString detail =
        QStringLiteral("%1 put back from %2")
            .arg(result.restored.join(QStringLiteral(", ")), archive) +
        (result.movedAside.isEmpty() ? QString()
                                     : QStringLiteral("; what they replaced is kept as ") +
                                           result.movedAside.join(QStringLiteral(", ")));
    note(server, QStringLiteral("restore done: %1.").arg(detail));
    emit restoreFinished(server, true, detail);
}

QString ServerBackups::StartRefusal(int server) const {
    return jobs_[server] && jobs_[server]->restore
               ? QStringLiteral("a backup is being restored into it")
               : QString();
}

QString ServerBackups::ProgressText(int server) const {
    const std::shared_ptr<Job>& job = jobs_[server];
    if (!job)
        return {};
    if (job->restore)
        return QStringLiteral("Restoring %1").arg(QFileInfo(job->archive).fileName());
    if (job->saving || job->answering)
        return QStringLiteral("Backup: waiting for the save");
    const qint64 total = job->total;
    const qint64 done = job->done;
    return QStringLiteral("Backup %1 % (%2 of %3)")
        .arg(total > 0 ? done * 100 / total : 0)
        .arg(ByteSizeText(done), ByteSizeText(total));
}
