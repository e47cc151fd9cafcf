#include "BundledFonts.h"
#include "DesktopServices.h"
#include "DisplayStartGuard.h"
#include "Platform.h"
#include "QSettingsStore.h"
#include "TerminationHandling.h"
#include "frmMain.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    DisplayStartGuard display(argc, argv); // no display: one line on stderr and exit 1
    QApplication app(argc, argv);
    display.opened();
    QApplication::setApplicationName(QStringLiteral("CorvaneLauncher"));
    registerBundledFonts();

    const auto apis = CreatePlatformApis();
    const auto clock = CreateSystemClock();
    QSettingsStore settings;

    LauncherServices services;
    services.apis = apis.get();
    services.clock = clock.get();
    services.settings = &settings;
    services.launcherFolder = [] { return QCoreApplication::applicationDirPath(); };
    services.trayAvailable = [] { return DesktopHasNotificationArea(); };
    services.endProgram = [] {
        // Ends at once: no further event runs, nothing half-done gets another chance to act.
        std::fflush(nullptr);
        std::_Exit(EXIT_SUCCESS);
    };

    frmMain window(services);
    EndLikeClosingTheWindow(window);
    window.Form_Load();
    window.show();
    return app.exec();
}
