#pragma once

#include "BackupConfig.h"

#include <QString>
#include <QStringList>

struct RestoreResult {
    bool ok = false;
    QString error;          // why not, for the log
    QStringList restored;   // the paths put back
    QStringList movedAside; // where what they replaced now is
};

// Puts the paths of a backup archive back in place. Every entry is looked at first: one whose
// name is absolute, holds "..", lies outside the paths the installation backs up, or would be
// reached through a link (one of the archive's, or a folder of the server folder that is a link)
// refuses the whole archive, and nothing is changed. Each path is then unpacked beside its place,
// what is in its place is renamed to "<path>.before-restore-<stamp>" (never deleted), and the
// unpacked one takes its place. Blocks: runs on a worker thread.
RestoreResult RestoreBackupArchive(const QString& archivePath, const QList<BackupSource>& sources,
                                   const QString& serverFolder, const QString& stamp);
