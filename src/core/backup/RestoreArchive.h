#pragma once

#include "BackupConfig.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>

struct RestoreResult {
    bool ok = false;
    QString error;          // why not, for the log
    QStringList restored;   // the paths put back
    QStringList movedAside; // where what they replaced now is
};

// What a restore is told and tells while it runs; all of it is optional.
struct RestoreControl {
    // Becoming true stops the unpacking: what was unpacked goes and nothing is changed. Once the
    // paths are being put in place the restore is finished, which takes a few renames.
    const std::atomic<bool>* cancel = nullptr;
    // Bytes unpacked, of all the archive holds; first called, with 0, once every entry has been
    // looked at. Called on the restoring thread.
    std::function<void(qint64 done, qint64 total)> progress;
    // The bytes free for this user in the folder's file system; the system's answer when empty.
    std::function<qint64(const QString& folder)> freeBytes;
};

// Puts the paths of a backup archive back in place. The archive is opened once, and only when it
// is a plain file of this user's; everything is read from that one opened file. Every entry is
// looked at first: one whose name is absolute, holds "..", lies outside the paths the
// installation backs up, or would be reached through a link (one of the archive's, or a folder of
// the server folder that is a link) refuses the whole archive, and so does an archive that
// unpacks to more than there is room for; nothing is changed then. Each path is then unpacked
// into a private folder beside its place, every entry checked again as it is written and every
// write's result looked at; any failure removes what was unpacked. Only then is what is in each
// place renamed to "<path>.before-restore-<stamp>" (never deleted) and the unpacked path renamed
// into it; should one of those renames fail, the paths already replaced are put back. Names are
// kept as the bytes they are. Blocks: runs on a worker thread.
RestoreResult RestoreBackupArchive(const QString& archivePath, const QList<BackupSource>& sources,
                                   const QString& serverFolder, const QString& stamp,
                                   const RestoreControl& control = {});

// A restore's private folder beside the path it restores ("worlds/.main.restoring-..."), as an
// earlier run that ended during a restore may have left it.
bool IsRestoreLeftover(const QString& pathName, const QString& leftover);

// Removes a folder and everything in it, never following a link; names may be any bytes.
bool RemoveTree(int dirFd, const char* name);
