#include "../Platform.h"
#include "LinuxApis.h"

#include <QCoreApplication>

std::unique_ptr<modAPIs> CreatePlatformApis(const QString& serverFolder) {
    LinuxBackendConfig config = LinuxBackendConfig::ForInstalledLauncher(serverFolder);
    // While tmux is waited for, the window's events run, as in every other wait of the launcher.
    config.waitHook = [] { QCoreApplication::processEvents(); };
    return std::make_unique<LinuxApis>(config);
}
