#include "frmMain.h"

#include "LauncherState.h"

#include <QCursor>
#include <QMenu>

// The tray presentation. Until the tray component is wired in, the window is never represented
// in the tray: these leave everything as it is.

void frmMain::CreateTrayIcon() {}

void frmMain::RemoveTrayIcon() {}

void frmMain::UpdateTrayIcon(std::int16_t& flTrayIconAdded, QString& Tooltip) {
    Q_UNUSED(flTrayIconAdded);
    Q_UNUSED(Tooltip);
}

void frmMain::TrayIcon_LeftButtonDoubleClick() {
    ChangeLauncherState(Transition::Restored);
}

void frmMain::TrayIcon_RightButtondown() {
    mnuTrayMenu->popup(QCursor::pos());
}

void frmMain::mnuTrayExit_Click() {
    ChangeLauncherState(Transition::Exit);
}
