#include "../Platform.h"
#include "LinuxApis.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <pwd.h>
#include <sys/socket.h>

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

QString PeerUserName(qintptr socketDescriptor) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (socketDescriptor < 0 ||
        getsockopt(static_cast<int>(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return QStringLiteral("unknown user");
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    const QString name = getpwuid_r(peer.uid, &entry, buffer, sizeof buffer, &found) == 0 && found
                             ? QString::fromLocal8Bit(found->pw_name)
                             : QStringLiteral("?");
    return QStringLiteral("%1 (uid %2)").arg(name).arg(peer.uid);
}
