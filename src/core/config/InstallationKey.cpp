#include "InstallationKey.h"

#include <QCryptographicHash>
#include <QDir>

QString InstallationKey(const QString& serverFolder) {
    QString canonical = QDir(serverFolder).canonicalPath();
    if (canonical.isEmpty())
        canonical = QDir::cleanPath(QDir(serverFolder).absolutePath());
    return QString::fromLatin1(
        QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
}
