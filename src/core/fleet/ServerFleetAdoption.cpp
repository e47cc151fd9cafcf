// Servers that run without this launcher having started them: left by a launcher that was
// killed, or started by hand from the server folder. They are never started a second time, and
// finding them starts nothing.
#include "ServerFleet.h"

#include "Clock.h"
#include "LauncherLog.h"
#include "LauncherState.h"
#include "modAPIs.h"

#include <QStringList>

// All three running: the launcher watches them and is online, as after a start. Only some: it
// says which and stays offline; Start Servers then watches those and starts the others.
void ServerFleet::AdoptRunningServers() {
    const QString location = services_.apis->ConsoleLocation();
    if (!location.isEmpty())
        log_.note(location);

    std::array<ServerProcess, kCount> found;
    int running = 0;
    for (int i = 0; i < kCount; ++i) {
        found[i] = services_.apis->FindRunningServer(programPath(i));
        running += found[i].lPID > 0 ? 1 : 0;
    }
    if (running < kCount) {
        QStringList missing;
        for (int i = 0; i < kCount; ++i) {
            services_.apis->ReleaseProcessHandle(found[i].hProcess);
            if (found[i].lPID <= 0)
                missing << supervisor(i).name();
            else
                log_.note(supervisor(i).name() + QStringLiteral(" is already running (PID ") +
                          QString::number(found[i].lPID) + QStringLiteral(")."));
        }
        if (running > 0)
            log_.note(QStringLiteral("Not all servers are running: Start Servers will watch these "
                                     "and start ") +
                      missing.join(QStringLiteral(" and ")) + QStringLiteral("."));
        return;
    }
    for (int i = 0; i < kCount; ++i) {
        ReplaceProcess(i, found[i]);
        log_.note(supervisor(i).name() + QStringLiteral(" was already running (PID ") +
                  QString::number(found[i].lPID) + QStringLiteral("); watching it."));
        WatchServerEnd(i);
        supervisor(i).markRunning(services_.clock->NowMs());
    }
    ChangeLauncherState(Transition::Online);
}
