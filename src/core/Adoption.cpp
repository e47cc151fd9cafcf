// Servers that run without this launcher having started them: left by a launcher that was
// killed, or started by hand from the server folder. They are watched, never started twice.
#include "ServerFleet.h"

#include "Clock.h"
#include "LauncherLog.h"
#include "LauncherState.h"
#include "modAPIs.h"

void ServerFleet::AdoptRunningServers() {
    const QString location = services_.apis->ConsoleLocation();
    if (!location.isEmpty())
        log_.note(location);

    int adopted = 0;
    for (int i = 0; i < kCount; ++i) {
        const ServerProcess running = services_.apis->FindRunningServer(programPath(i));
        if (running.lPID <= 0) {
            services_.apis->ReleaseProcessHandle(running.hProcess);
            continue;
        }
        ReplaceProcess(i, running);
        ++adopted;
        log_.note(supervisor(i).name() + QStringLiteral(" was already running (PID ") +
                  QString::number(running.lPID) + QStringLiteral("); watching it."));
    }
    if (adopted == 0)
        return;
    for (int i = 0; i < kCount; ++i) {
        WatchServerEnd(i);
        // Those of the three that are not running are then missing, as crashed ones are.
        if (ServerProc(i).sExePath.isEmpty())
            ServerProc(i).sExePath = programPath(i);
        supervisor(i).markRunning(services_.clock->NowMs());
    }
    ChangeLauncherState(Transition::Online);
}
