#pragma once

#include <QList>
#include <QString>

// One of a server's archives in its backup folder, named "<program>-yyyyMMdd-HHmmss.tar.zst"
// (UTC), with "-2", "-3" ... before ".tar.zst" for a second one within the same second.
struct BackupArchiveFile {
    QString path;
    QString name;
    qint64 bytes = 0;
    qint64 epochMs = 0; // when it was made, from its name
};

// The server's archives in the folder, the newest first: plain files of this user's under an
// archive's name; other files are not its archives.
QList<BackupArchiveFile> ServerArchives(const QString& folder, const QString& program);

// The archives past the limits, the oldest last: the newest ones are kept while at most keepCount
// of them (0: any number) hold at most keepBytes (0: any size). The archive named keep (the one
// just made) is never among them, even when it alone is over the size.
QList<BackupArchiveFile> ArchivesPastLimits(const QList<BackupArchiveFile>& newestFirst,
                                            int keepCount, qint64 keepBytes, const QString& keep);

// The archive's name for a backup made at epochMs: "map-server-20261208-074512.tar.zst".
QString ArchiveName(const QString& program, qint64 epochMs, int sameSecond = 1);
