#include "BundledFonts.h"
#include "CommandLine.h"
#include "DesktopServices.h"
#include "DisplayStartGuard.h"
#include "HistoryCharts.h"
#include "InstallLayout.h"
#include "LauncherApp.h"
#include "LauncherCore.h"
#include "LauncherKeys.h"
#include "LogFolder.h"
#include "PaletteChoice.h"
#include "Platform.h"
#include "QSettingsStore.h"
#include "ServerFolderChoice.h"
#include "ServerFolderReport.h"
#include "SingleInstance.h"
#include "StartOnLaunch.h"
#include "TerminationHandling.h"
#include "frmMain.h"

#include <QApplication>
#include <QDesktopServices>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    const CommandLine commandLine = ParseCommandLineArguments(argc, argv);
    if (commandLine.exitNow) {
        PrintCommandLineOutput(commandLine);
        return commandLine.exitCode;
    }
    DisplayStartGuard display(argc, argv); // no display: one line on stderr and exit 1
    QApplication app(argc, argv);
    display.opened();
    QApplication::setApplicationName(QStringLiteral("CorvaneLauncher"));
    QApplication::setDesktopFileName(QStringLiteral("org.corvane.CorvaneLauncher"));
    registerBundledFonts();
    UsePaletteFromEnvironment();

    QSettingsStore settings;
    const ServerFolder serverFolder = ChooseServerFolder(commandLine, settings);
    if (serverFolder.folder.isEmpty()) { // nothing is started, and nothing written anywhere
        std::fprintf(stderr, "corvane-launcher: %s\n",
                     NoServerFolderMessage(QCoreApplication::applicationDirPath())
                         .toLocal8Bit()
                         .constData());
        return EXIT_FAILURE;
    }
    SingleInstance instance(serverFolder.folder);
    if (const int exitCode = ClaimServerFolder(instance, serverFolder); exitCode >= 0)
        return exitCode;

    LauncherApp launcher(settings, serverFolder.folder);
    LauncherCore& core = launcher.core();

    WindowServices services;
    services.statusIconFolder = [] {
        return FindStatusIconFolder(QCoreApplication::applicationDirPath());
    };
    services.trayAvailable = [] { return DesktopHasNotificationArea(); };
    services.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    services.consoleSocket = [&serverFolder] { return ConsoleSocketName(serverFolder.folder); };
    services.settingsFile = [&settings] {
        return settings.FilePath(QCoreApplication::applicationName());
    };
    services.launcherProgram = [] { return QCoreApplication::applicationFilePath(); };
    services.privateFolder = [&launcher] { return launcher.privateFolder(); };
    services.endProgram = [&instance, &launcher] {
        // Ends at once: no further event runs, nothing half-done gets another chance to act. Only
        // what this run made for itself goes first: its tmux control session and notice pipe, its
        // lock and socket.
        launcher.closeHistory();
        launcher.endPlatform();
        launcher.closeControl();
        instance.release();
        std::fflush(nullptr);
        std::_Exit(EXIT_SUCCESS);
    };

    frmMain window(launcher, services);
    InstallHistoryCharts(window);
    EndLikeClosingTheWindow(window);
    window.Form_Load();
    ReportServerFolder(core.log(), serverFolder, core.fleet().MissingPrograms());
    if (!instance.folderNote().isEmpty()) // said on the error output too, read by fewer
        core.log().note(QStringLiteral("Single launcher check: ") + instance.folderNote() + u'.');
    const LogFolderChoice logs = ChooseLogFolder(
        serverFolder.folder, core.settings().Read(LauncherKeys::kLogGroup).trimmed());
    core.UseLogFolder(logs.folder, logs.note);
    core.alerts().launcherStarted();
    launcher.serveControl(serverFolder.folder);
    launcher.serveWeb(serverFolder.folder);
    QObject::connect(&instance, &SingleInstance::raiseRequested, &window,
                     &frmMain::BringWindowBack);
    window.show();
    StartServersWhenUp(window, commandLine);
    const int status = app.exec();
    // The desktop session's end quits the event loop at once: the servers' stop sequences run to
    // their end or their deadlines all the same, and the program ends there.
    while (core.ExitPending())
        app.exec();
    return status;
}
