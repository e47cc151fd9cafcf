#include "frmMain.h"

#include "modAPIs.h"

// How each server is asked to end, chosen per server in the settings ("Map Server Close Request"
// and so on). A missing key leaves the platform's default; a value the platform cannot use is
// named in the log and the default stays. These keys are read only, never written.
void frmMain::LoadCloseRequests() {
    for (const QString& title : ServerTable::displayNames()) {
        const QString key = title + QStringLiteral(" Close Request");
        const QString stored = ReadSetting(key, QString());
        if (!stored.isEmpty() && !services_.apis->SetCloseRequest(title, stored))
            LogUnusableSetting(key, stored, QStringLiteral("the default close request"));
    }
}
