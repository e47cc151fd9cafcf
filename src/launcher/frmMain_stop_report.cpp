#include "frmMain.h"

#include "modAPIs.h"

#include <QTimer>

// A close request is only a request: a few seconds after a stop the log says which servers did
// not end, so that the operator knows before starting again.

void frmMain::ReportServersStillRunningLater() {
    tmrStopCheck->start();
}

void frmMain::ReportServersStillRunning() {
    tmrStopCheck->stop();
    const QString processList = services_.apis->GetProcessList();
    if (processList.isEmpty()) {
        LauncherLogAdd(
            Now() +
            QStringLiteral("> Cannot list the running processes to see which servers ended."));
        return;
    }
    const QString seconds = QString::number(tmrStopCheck->interval() / 1000);
    bool anyRunning = false;
    for (int i = 0; i < ServerTable::kCount; ++i) {
        // Whole entries only: ":map-server," is that program, not a longer name ending in it.
        const QString entry =
            QLatin1Char(':') + ServerTable::programFiles()[i].mid(1) + QLatin1Char(',');
        if (!processList.contains(entry))
            continue;
        anyRunning = true;
        LauncherLogAdd(Now() + QStringLiteral("> ") + ServerName[i] +
                       QStringLiteral(" is still running ") + seconds +
                       QStringLiteral(" seconds after the close request."));
    }
    if (!anyRunning)
        LauncherLogAdd(Now() + QStringLiteral("> All servers have ended."));
}
