#include "../Platform.h"
#include "LinuxApis.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

std::unique_ptr<modAPIs> CreatePlatformApis(const QString& serverFolder) {
    LinuxBackendConfig config = LinuxBackendConfig::ForInstalledLauncher(serverFolder);
    // While tmux is waited for, the window's events run, as in every other wait of the launcher.
    config.waitHook = [] { QCoreApplication::processEvents(); };
    return std::make_unique<LinuxApis>(config);
}

QString ConsoleSocketName(const QString& serverFolder) {
    const QString canonical = QFileInfo(serverFolder).canonicalFilePath();
    return LinuxBackendConfig::SocketNameForFolder(canonical.isEmpty() ? serverFolder : canonical);
}

QString ProgramNameOfProcess(qint64 pid) {
    if (pid <= 0)
        return QString();
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid))).fileName();
}
