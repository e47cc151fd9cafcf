#include "frmMain.h"

#include "LauncherApp.h"
#include "LauncherSettings.h"
#include "ServerStateMarks.h"
#include "ServerUsageTips.h"
#include "StatusReporter.h"
#include "TabStrip.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"

#include "clsTrayIcon.h"

#include <QLineEdit>

void frmMain::Form_Load() {
    conTab->Select(4);
    LoadSettings();
    loadStatusPictures();
    CreateTrayIcon();
    core_.fleet().AdoptRunningServers();
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

// Each option's handler copies its control's value into the core, which reads it when it needs it.

void frmMain::chkAutoRestartUse_Click() {
    core_.options().autoRestart = chkAutoRestartUse->Value();
    ChangeLauncherState(chkAutoRestartUse->Value() == 1 ? Transition::CrashNoticeControlsOn
                                                        : Transition::CrashNoticeControlsOff);
    // The crash check alone tells that a server still runs: the marks say whether it watches.
    RefreshServerStateMarks(conTab->tabBar());
    if (TrayIcon)
        TrayIcon->ChangeTipDetails(TrayTipDetails(core_));
}

void frmMain::chkOutputServerMessage_Click() {
    core_.options().messageUpdate = chkOutputServerMessage->Value();
}

void frmMain::chkTrayIconUse_Click() {
    core_.options().trayIconUse = chkTrayIconUse->Value();
}

void frmMain::chkLogEverything_Click() {
    core_.options().logToDisk = chkLogEverything->Value();
    ChangeLauncherState(chkLogEverything->Value() == 1 ? Transition::DiskLoggingOn
                                                       : Transition::DiskLoggingOff);
}

void frmMain::chkSendStatus_Click() {
    core_.options().sendStatus = chkSendStatus->Value();
    app_.status().serve(chkSendStatus->Value() == 1);
}

void frmMain::vsInterval_Change() {
    const int seconds = -vsInterval->Value();
    txtInterval->setText(QString::number(seconds));
    core_.options().intervalSeconds = seconds;
    core_.fleet().SetStatusInterval(seconds);
}

void frmMain::vsKeepIconFor_Change() {
    txtKeepIconFor->setText(QString::number(-vsKeepIconFor->Value()));
    core_.options().keepIconForSeconds = -vsKeepIconFor->Value();
}

// The options as stored, put into their controls in this order; each control whose value changes
// raises its handler, which copies the value back into the core.
void frmMain::LoadSettings() {
    const LauncherOptions loaded = core_.LoadSettings();
    chkAutoRestartUse->SetValue(loaded.autoRestart);
    chkTrayIconUse->SetValue(loaded.trayIconUse);
    chkOutputServerMessage->SetValue(loaded.messageUpdate);
    chkLogEverything->SetValue(loaded.logToDisk);
    app_.status().loadSettings(); // where to serve, before the box may start serving
    chkSendStatus->SetValue(loaded.sendStatus);
    showAdvancedFeatures(core_.settings().AdvancedFeaturesOn());
    txtInterval->setText(QString::number(loaded.intervalSeconds));
    vsInterval->SetValue(-loaded.intervalSeconds);
}

bool frmMain::AdvancedFeaturesUsed() const {
    return chkLogEverything->isEnabled();
}

void frmMain::UseAdvancedFeatures(bool on) {
    if (on == AdvancedFeaturesUsed())
        return;
    core_.settings().SetOptIn(LauncherSettings::kAdvancedFeatures, on);
    // Given up, they stop: nothing is logged to disk nor served any more.
    if (!on) {
        chkLogEverything->SetValue(0);
        chkSendStatus->SetValue(0);
    }
    showAdvancedFeatures(on);
}

void frmMain::showAdvancedFeatures(bool on) {
    chkLogEverything->setEnabled(on);
    chkSendStatus->setEnabled(on);
}

void frmMain::SaveSettings() {
    core_.SaveSettings();
}
