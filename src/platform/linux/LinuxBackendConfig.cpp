#include "LinuxBackendConfig.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

QString RunningProgramFolder() {
    if (QCoreApplication::instance() != nullptr)
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(u'/', 0, -2);
}

} // namespace

LinuxBackendConfig LinuxBackendConfig::ForInstalledLauncher() {
    LinuxBackendConfig config;
    config.trampolinePath = RunningProgramFolder() + QStringLiteral("/corvane-exec");
    return config;
}
