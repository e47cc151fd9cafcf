#include "frmMain.h"

#include "TabStrip.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"

#include <QLineEdit>
#include <QTimer>

void frmMain::Form_Load() {
    for (int i = 0; i < ServerTable::kCount; ++i)
        ServerName[i] = ServerTable::displayNames()[i];
    conTab->Select(4);
    LoadSettings();
    loadStatusPictures();
    CreateTrayIcon();
    AdoptRunningServers();
}

void frmMain::Form_Resize() {
    if (windowState() & Qt::WindowMinimized)
        ChangeLauncherState(Transition::Minimised);
    else
        ChangeLauncherState(Transition::Restored);
}

void frmMain::Form_Unload() {
    ChangeLauncherState(Transition::Exit);
}

void frmMain::chkAutoRestartUse_Click() {
    ChangeLauncherState(chkAutoRestartUse->Value() == 1 ? Transition::CrashNoticeControlsOn
                                                        : Transition::CrashNoticeControlsOff);
}

void frmMain::chkLogEverything_Click() {
    ChangeLauncherState(chkLogEverything->Value() == 1 ? Transition::DiskLoggingOn
                                                       : Transition::DiskLoggingOff);
}

void frmMain::vsInterval_Change() {
    const int seconds = -vsInterval->Value();
    txtInterval->setText(QString::number(seconds));
    tmrStatusUpdater->setInterval(seconds * 1000);
}

void frmMain::vsKeepIconFor_Change() {
    txtKeepIconFor->setText(QString::number(-vsKeepIconFor->Value()));
}
