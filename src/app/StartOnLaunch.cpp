#include "StartOnLaunch.h"

#include "CommandLine.h"
#include "frmMain.h"

#include <QTimer>

void StartServersWhenUp(frmMain& window, const CommandLine& commandLine) {
    if (commandLine.start)
        QTimer::singleShot(0, &window, &frmMain::cmdServerStart_Click);
}
