#include "LinuxBackendConfig.h"

#include "TrampolineLocation.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>

namespace {

QString RunningProgramFolder() {
    if (QCoreApplication::instance() != nullptr)
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(u'/', 0, -2);
}

} // namespace

LinuxBackendConfig LinuxBackendConfig::ForInstalledLauncher(const QString& serverFolder) {
    LinuxBackendConfig config;
    config.trampolinePath = LocateTrampoline(RunningProgramFolder());
    const QString canonical = QFileInfo(serverFolder).canonicalFilePath();
    config.serverFolder = canonical.isEmpty() ? serverFolder : canonical;
    config.tmuxSocketName = SocketNameForFolder(config.serverFolder);
    return config;
}

QString LinuxBackendConfig::SocketNameForFolder(const QString& canonicalFolder) {
    const QByteArray hash =
        QCryptographicHash::hash(canonicalFolder.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("corvane-") + QString::fromLatin1(hash.left(10));
}
