#include "../Platform.h"
#include "LinuxApis.h"

std::unique_ptr<modAPIs> CreatePlatformApis() {
    return std::make_unique<LinuxApis>(LinuxBackendConfig::ForInstalledLauncher());
}
