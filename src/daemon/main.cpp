// corvane-launcherd: the launcher without a desktop, for machines reached over SSH or run by
// systemd. The same core and services as the desktop launcher, with no window, tray or charts.

#include "AlertDelivery.h"
#include "CommandLine.h"
#include "LauncherApp.h"
#include "LauncherKeys.h"
#include "LogFolder.h"
#include "QSettingsStore.h"
#include "ServerFolder.h"
#include "ServerFolderReport.h"
#include "ServiceManager.h"
#include "SingleInstance.h"
#include "StandardErrorLog.h"
#include "StatusReporter.h"
#include "TerminationRequests.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace {

// How long the alert that the launcher exits may take to go out; it waits in its queue file for
// the next start otherwise.
constexpr int kExitAlertWaitMs = 2000;

void PrintError(const QString& text) {
    std::fprintf(stderr, "corvane-launcherd: %s\n", text.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // Read, and cleared from the environment, before anything is started.
    const std::unique_ptr<ServiceManager> manager = ConnectServiceManager();
    // The same settings as the desktop launcher's.
    QCoreApplication::setApplicationName(QStringLiteral("CorvaneLauncher"));
    const CommandLineProgram daemon{
        "corvane-launcherd",
        QStringLiteral("Runs the launcher of the servers in the folder given by --server-dir "
                       "without a desktop: it starts them in order, relaunches any that crashed "
                       "and stops them safely on SIGTERM or SIGINT."),
        QStringLiteral("Starts the servers once the launcher is up; without it nothing is "
                       "started."),
        true};
    const CommandLine commandLine = ParseCommandLine(QCoreApplication::arguments().mid(1), daemon);
    if (commandLine.exitNow) {
        PrintCommandLineOutput(commandLine);
        return commandLine.exitCode;
    }
    const QFileInfo folderInfo(commandLine.serverDir);
    const ServerFolder serverFolder{QDir::cleanPath(folderInfo.absoluteFilePath()),
                                    ServerFolderSource::Option};

    SingleInstance instance(serverFolder.folder);
    if (!instance.folderNote().isEmpty())
        PrintError(instance.folderNote());
    if (instance.claim() != SingleInstance::Role::First) {
        const QString holder = instance.holder();
        PrintError(QStringLiteral("a launcher already runs on %1%2; not starting a second one.")
                       .arg(serverFolder.folder,
                            holder.isEmpty() ? QString() : QStringLiteral(": ") + holder));
        return EXIT_FAILURE;
    }

    QSettingsStore settings;
    LauncherApp launcher(settings, serverFolder.folder);
    LauncherCore& core = launcher.core();
    CopyLogToStandardError(core.log());

    // The options as the window's controls would hand them over once loaded.
    const LauncherOptions options = core.LoadSettings();
    core.options() = options;
    core.fleet().SetStatusInterval(options.intervalSeconds);
    launcher.status().loadSettings();
    launcher.status().serve(options.sendStatus == 1);
    ReportServerFolder(core.log(), serverFolder, core.fleet().MissingPrograms());
    const LogFolderChoice logs = ChooseLogFolder(
        serverFolder.folder, core.settings().Read(LauncherKeys::kLogGroup).trimmed());
    core.UseLogFolder(logs.folder, logs.note);
    core.alerts().launcherStarted();
    core.fleet().AdoptRunningServers();
    launcher.serveControl(serverFolder.folder);
    launcher.serveWeb(serverFolder.folder);
    if (commandLine.start)
        QTimer::singleShot(0, &core, [&core] {
            if (core.fleet().ServerState() == 0)
                core.fleet().StartServersAndGoOnline();
        });

    // Under systemd (Type=notify): ready once set up, before the servers are started (which
    // takes a while); the watchdog fed from the event loop, so that a launcher whose loop is
    // stuck is restarted.
    QTimer watchdog;
    if (const int ms = manager->watchdogIntervalMs(); ms > 0) {
        QObject::connect(&watchdog, &QTimer::timeout, &app, [&manager] { manager->watchdog(); });
        watchdog.start(ms);
    }

    // SIGTERM or SIGINT: the servers' stop sequences run to their end or their deadlines, the
    // settings are saved, then the program ends with status 0. Repeated requests end it once.
    bool ending = false;
    WatchTerminationRequests(&app, [&] {
        if (std::exchange(ending, true))
            return;
        manager->stopping();
        core.BeginExit([&launcher] {
            launcher.alerts().finishThen([] { QCoreApplication::exit(EXIT_SUCCESS); },
                                         kExitAlertWaitMs);
        });
    });
    manager->ready();
    const int status = QCoreApplication::exec();
    while (core.ExitPending())
        QCoreApplication::exec();
    return status;
}
