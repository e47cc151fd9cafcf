#include "frmMain.h"

#include "SettingsStore.h"
#include "modAPIs.h"

// How each server is asked to end, chosen per server in the settings ("Map Server Close Request"
// and so on). A missing key leaves the platform's default; a value the platform cannot use is
// named in the log and the default stays. These keys are read only, never written.
void frmMain::LoadCloseRequests() {
    SettingsStore& store = *services_.settings;
    const QString app = QStringLiteral("CorvaneLauncher");
    const QString section = QStringLiteral("Settings");
    for (const QString& title : ServerTable::displayNames()) {
        const QString key = title + QStringLiteral(" Close Request");
        const QString stored = store.GetSetting(app, section, key, QString());
        if (stored.isEmpty() || services_.apis->SetCloseRequest(title, stored))
            continue;
        LauncherLogAdd(Now() + QStringLiteral("> Setting \"") + key +
                       QStringLiteral("\" holds \"") + stored +
                       QStringLiteral("\", which cannot be used; keeping the default close "
                                      "request."));
    }
}
