#include "BackupConfig.h"

#include <QDir>
#include <QRegularExpression>

namespace {

QString Absolute(const QString& path, const QString& serverFolder) {
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : serverFolder + u'/' + path);
}

} // namespace

std::optional<qint64> ParseByteSize(const QString& text) {
    static const QRegularExpression form(
        QStringLiteral(
            "^\\s*(\\d+(?:\\.\\d+)?)\\s*(|b|bytes|k|kb|kib|m|mb|mib|g|gb|gib|t|tb|tib)\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const double number = match.captured(1).toDouble();
    const QChar unit = match.captured(2).isEmpty() ? u'b' : match.captured(2).at(0).toLower();
    int shift = 0;
    if (unit == u'k')
        shift = 10;
    else if (unit == u'm')
        shift = 20;
    else if (unit == u'g')
        shift = 30;
    else if (unit == u't')
        shift = 40;
    const double bytes = number * static_cast<double>(qint64{1} << shift);
    if (bytes < 1 || bytes > 1e18)
        return std::nullopt;
    return static_cast<qint64>(bytes);
}

std::optional<bool> ApplyBackupKey(BackupConfig& backup, const QString& key, const QString& value,
                                   QString* why) {
    if (key == QLatin1String("backup path")) {
        const QString clean = QDir::cleanPath(value);
        if (value.isEmpty() || clean == QLatin1String(".") || clean == QLatin1String("/") ||
            clean == QLatin1String("..") || clean.startsWith(QLatin1String("../"))) {
            *why = QStringLiteral("\"backup path\" names a folder or file in the server folder, or "
                                  "an absolute one; not the server folder itself, the root or one "
                                  "above it");
            return false;
        }
        backup.paths << value;
        return true;
    }
    if (key == QLatin1String("backup folder")) {
        if (value.isEmpty()) {
            *why = QStringLiteral("the backup folder is empty");
            return false;
        }
        backup.folder = value;
        return true;
    }
    if (key == QLatin1String("keep backups")) {
        bool ok = false;
        const int count = value.toInt(&ok);
        if (!ok || count < 1 || count > 100000) {
            *why = QStringLiteral("\"keep backups\" is a number from 1");
            return false;
        }
        backup.keepCount = count;
        return true;
    }
    if (key == QLatin1String("keep backups size")) {
        const std::optional<qint64> bytes = ParseByteSize(value);
        if (!bytes) {
            *why = QStringLiteral("\"keep backups size\" is a size such as 500 MB or 5 GB");
            return false;
        }
        backup.keepBytes = *bytes;
        return true;
    }
    if (key == QLatin1String("save command")) {
        backup.saveCommand = value;
        return true;
    }
    return std::nullopt;
}

QList<BackupSource> BackupSources(const BackupConfig& backup, const QString& serverFolder) {
    const QString root = QDir::cleanPath(serverFolder);
    QList<BackupSource> sources;
    for (const QString& path : backup.paths) {
        BackupSource source;
        source.target = Absolute(path, root);
        if (source.target.startsWith(root + u'/')) {
            source.archiveName = source.target.mid(root.size() + 1);
        } else {
            source.inServerFolder = false;
            source.archiveName = QStringLiteral("_absolute") + source.target;
        }
        sources << source;
    }
    return sources;
}

QString BackupFolder(const BackupConfig& backup, const QString& serverFolder,
                     const QString& program) {
    if (backup.folder.isEmpty())
        return QDir::cleanPath(serverFolder + QStringLiteral("/backups/") + program);
    return Absolute(backup.folder, serverFolder);
}
