#pragma once

#include "BackupConfig.h"

#include <QString>
#include <atomic>
#include <functional>
#include <sys/types.h>

// How an archive's files are read and written: the system's read() and write(), unless a test
// puts one in that fails as a bad disk or a full one would.
struct ArchiveIo {
    std::function<ssize_t(int fd, void* buffer, size_t size)> read;
    std::function<ssize_t(int fd, const void* buffer, size_t size)> write;
};

// Bytes read from the paths so far, of all there are; called on the writing thread.
using ArchiveProgress = std::function<void(qint64 done, qint64 total)>;

struct ArchiveWriteResult {
    bool ok = false;
    QString error;        // why not, for the log
    qint64 bytesRead = 0; // of the files held
    qint64 archiveBytes = 0;
    int files = 0;
    int skipped = 0; // neither a file, a folder nor a link (a pipe, a socket, a device)
};

// Writes the paths into a zstd-compressed tar archive at archivePath, through a temporary file
// beside it that only becomes archivePath once complete; the file is readable by its owner only.
// Files are opened without following a link, and links are held as links. Any error, or cancel
// becoming true, ends it with the temporary file removed. The folder `skip` (the backup folder)
// is left out when it lies among the paths. Blocks: runs on a worker thread.
ArchiveWriteResult WriteBackupArchive(const QList<BackupSource>& sources,
                                      const QString& archivePath, const QString& skip,
                                      const ArchiveIo& io, const ArchiveProgress& progress,
                                      const std::atomic<bool>& cancel);

// "1.5 GB", "212 MB", "14 KB", "512 bytes".
QString ByteSizeText(qint64 bytes);
