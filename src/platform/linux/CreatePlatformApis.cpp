#include "../Platform.h"
#include "LinuxApis.h"

#include <QCoreApplication>

std::unique_ptr<modAPIs> CreatePlatformApis() {
    LinuxBackendConfig config = LinuxBackendConfig::ForInstalledLauncher();
    // While tmux is waited for, the window's events run, as in every other wait of the launcher.
    config.waitHook = [] { QCoreApplication::processEvents(); };
    return std::make_unique<LinuxApis>(config);
}
