#include "BackupRetention.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <algorithm>
#include <unistd.h>

namespace {

struct Named {
    BackupArchiveFile file;
    int sameSecond = 1;
};

} // namespace

QString ArchiveName(const QString& program, qint64 epochMs, int sameSecond) {
    return program + u'-' +
           QDateTime::fromMSecsSinceEpoch(epochMs, Qt::UTC)
               .toString(QStringLiteral("yyyyMMdd-HHmmss")) +
           (sameSecond > 1 ? u'-' + QString::number(sameSecond) : QString()) +
           QStringLiteral(".tar.zst");
}

QList<BackupArchiveFile> ServerArchives(const QString& folder, const QString& program) {
    const QRegularExpression form(QStringLiteral("^%1-(\\d{8}-\\d{6})(?:-(\\d{1,6}))?\\.tar\\.zst$")
                                      .arg(QRegularExpression::escape(program)));
    QList<Named> found;
    for (const QFileInfo& info :
         QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        const QRegularExpressionMatch match = form.match(info.fileName());
        // Only what this launcher wrote: its name, a plain file, this user's own. Anything else,
        // such as a file another user planted under a later date, is not offered.
        if (!match.hasMatch() || info.ownerId() != ::geteuid())
            continue;
        QDateTime when =
            QDateTime::fromString(match.captured(1), QStringLiteral("yyyyMMdd-HHmmss"));
        if (!when.isValid())
            continue;
        when.setTimeSpec(Qt::UTC);
        found << Named{
            {info.absoluteFilePath(), info.fileName(), info.size(), when.toMSecsSinceEpoch()},
            match.captured(2).isEmpty() ? 1 : match.captured(2).toInt()};
    }
    std::sort(found.begin(), found.end(), [](const Named& a, const Named& b) {
        return a.file.epochMs != b.file.epochMs ? a.file.epochMs > b.file.epochMs
                                                : a.sameSecond > b.sameSecond;
    });
    QList<BackupArchiveFile> archives;
    for (const Named& named : found)
        archives << named.file;
    return archives;
}

QList<BackupArchiveFile> ArchivesPastLimits(const QList<BackupArchiveFile>& newestFirst,
                                            int keepCount, qint64 keepBytes, const QString& keep) {
    QList<BackupArchiveFile> past;
    int count = 0;
    qint64 bytes = 0;
    // The one kept counts first, wherever it is among them.
    for (const BackupArchiveFile& archive : newestFirst) {
        if (archive.name == keep) {
            count = 1;
            bytes = archive.bytes;
        }
    }
    bool full = false;
    for (const BackupArchiveFile& archive : newestFirst) {
        if (archive.name == keep)
            continue;
        full = full || (keepCount > 0 && count + 1 > keepCount) ||
               (keepBytes > 0 && bytes + archive.bytes > keepBytes);
        if (full) {
            past << archive;
            continue;
        }
        ++count;
        bytes += archive.bytes;
    }
    return past;
}
