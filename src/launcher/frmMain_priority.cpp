#include "frmMain.h"

#include "modAPIs.h"

#include <QTimer>

// The priority step: one tick of tmrHelper some seconds after a complete start raises the map
// server to high priority, and the log says whether that worked.
void frmMain::tmrHelper_Timer() {
    const std::int32_t changed = services_.apis->SetProcessPriority(
        ServerProc[ServerTable::kMap].hProcess, modAPIs::HIGH_PRIORITY_CLASS);
    if (changed != 0) {
        LauncherLogAdd(Now() +
                       QStringLiteral("> Map Server Process was changed to high priority class."));
    } else {
        const QString reason = services_.apis->LastPriorityError();
        LauncherLogAdd(Now() +
                       QStringLiteral("> Map Server Process could not be changed to high priority "
                                      "class: ") +
                       (reason.isEmpty() ? QStringLiteral("no reason was given") : reason));
    }
    tmrHelper->stop();
}
