#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// A server's backups as its section of the installation's file sets them:
//
//   backup path = worlds/main        (one line a path: a folder or a file; relative to the
//   backup path = /var/lib/game/db    server folder, or absolute)
//   backup folder = backups/map       (where archives go; default backups/<program>)
//   keep backups = 10                 (the newest 10 are kept)
//   keep backups size = 5 GB          (the newest ones within 5 GB are kept)
//   save command = save-all           (typed into a running server's console first)
struct BackupConfig {
    QStringList paths;    // as written
    QString folder;       // as written; empty: backups/<program> in the server folder
    int keepCount = 0;    // 0: no limit by number
    qint64 keepBytes = 0; // 0: no limit by size
    QString saveCommand;  // empty: none

    bool enabled() const { return !paths.isEmpty(); }
};

// Applies one "key = value" line of a server's section when the key is a backup key: true when
// used, false with the reason when not. Nothing when the key is not one of these.
std::optional<bool> ApplyBackupKey(BackupConfig& backup, const QString& key, const QString& value,
                                   QString* why);

// "5 GB", "700 MB", "1.5 TB", "4096": bytes, counted in 1024s; nothing when it is no size.
std::optional<qint64> ParseByteSize(const QString& text);

// One path that a backup holds: where it is on disk, and the name its entries have in the
// archive. A path in the server folder keeps its path there ("worlds/main"); one elsewhere is
// held under "_absolute" ("_absolute/var/lib/game/db"), so that no entry is ever absolute.
struct BackupSource {
    QString target;      // absolute and clean
    QString archiveName; // relative, clean, never with ".."
    bool inServerFolder = true;
};
QList<BackupSource> BackupSources(const BackupConfig& backup, const QString& serverFolder);

// Where the server's archives go: the configured folder (relative to the server folder, or
// absolute), else backups/<program> in the server folder.
QString BackupFolder(const BackupConfig& backup, const QString& serverFolder,
                     const QString& program);
