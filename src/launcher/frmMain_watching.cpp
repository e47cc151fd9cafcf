#include "frmMain.h"

#include "modAPIs.h"

// Servers that run without this launcher having started them: left by a launcher that was
// killed, or started by hand from the server folder. They are watched, never started twice.

void frmMain::AdoptRunningServers() {
    const QString location = services_.apis->ConsoleLocation();
    if (!location.isEmpty())
        LauncherLogAdd(Now() + QStringLiteral("> ") + location);

    int adopted = 0;
    for (int i = 0; i < ServerTable::kCount; ++i) {
        const QString path = services_.launcherFolder() + ServerTable::programFiles()[i];
        const ServerProcess running = services_.apis->FindRunningServer(path);
        if (running.lPID <= 0) {
            services_.apis->ReleaseProcessHandle(running.hProcess);
            continue;
        }
        services_.apis->ReleaseProcessHandle(ServerProc[i].hProcess);
        ServerProc[i] = running;
        ++adopted;
        LauncherLogAdd(Now() + QStringLiteral("> ") + ServerName[i] +
                       QStringLiteral(" was already running (PID ") +
                       QString::number(running.lPID) + QStringLiteral("); watching it."));
    }
    if (adopted == 0)
        return;
    WatchServerEnds();
    // Those of the three that are not running are then missing, as crashed ones are.
    WatchUnstartedServers(0);
    ChangeLauncherState(Transition::Online);
}

void frmMain::WatchUnstartedServers(int first) {
    for (int i = first; i < ServerTable::kCount; ++i) {
        if (ServerProc[i].sExePath.isEmpty())
            ServerProc[i].sExePath = services_.launcherFolder() + ServerTable::programFiles()[i];
        runStates_.running(i, ServerProc[i].lPID, services_.clock->NowMs());
    }
}
