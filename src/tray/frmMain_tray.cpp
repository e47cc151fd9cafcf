#include "frmMain.h"

#include "CrashMonitor.h"
#include "DesktopServices.h"
#include "IconRegistry.h"
#include "LauncherState.h"
#include "PictureBox.h"
#include "ServerStateMarks.h"
#include "ServerUsageTips.h"
#include "VbCheckBox.h"
#include "clsTrayIcon.h"

#include <QAction>
#include <QCursor>
#include <QDateTime>
#include <QMenu>

// The window's side of the tray: while it is minimised with "Minimize To tray" on, the launcher
// state is shown as the tray icon, its tip ends with each server's state, and the icon's mouse
// events arrive here. A double click brings the window back, as does a D-Bus tray's activation
// (its panel's own idea of a click); a single click on an X tray icon does nothing, as it always
// did.

void frmMain::CreateTrayIcon() {
    if (mnuTrayShowWindow == nullptr) {
        mnuTrayShowWindow = new QAction(QStringLiteral("Show Window"), mnuTrayMenu);
        mnuTrayShowWindow->setObjectName(QStringLiteral("mnuTrayShowWindow"));
        const QList<QAction*> items = mnuTrayMenu->actions();
        mnuTrayMenu->insertAction(items.value(items.indexOf(mnuTraySep[1]) + 1), mnuTrayShowWindow);
        connect(mnuTrayShowWindow, &QAction::triggered, this, &frmMain::mnuTrayShowWindow_Click);
    }
    TrayIcon = clsTrayIcon::Create();
    TrayIcon->SetMenu(mnuTrayMenu);
    TrayIcon->ChangeTipDetails(TrayTipDetails(core_));
    connect(&core_.fleet(), &ServerFleet::serverStateChanged, TrayIcon.get(),
            [this] { TrayIcon->ChangeTipDetails(TrayTipDetails(core_)); });
    connect(&core_.resources(), &ResourceSampler::sampled, TrayIcon.get(), [this] {
        if (const QString details = TrayTipDetails(core_); details != TrayIcon->TipDetails())
            TrayIcon->ChangeTipDetails(details);
    });
    connect(TrayIcon.get(), &clsTrayIcon::LeftButtonDoubleClick, this,
            &frmMain::TrayIcon_LeftButtonDoubleClick);
    connect(TrayIcon.get(), &clsTrayIcon::RightButtonDown, this,
            &frmMain::TrayIcon_RightButtondown);
}

void frmMain::RemoveTrayIcon() {
    if (TrayIcon)
        TrayIcon->RemoveTrayIcon();
}

void frmMain::UpdateTrayIcon(std::int16_t& flTrayIconAdded, QString& Tooltip) {
    if (!(windowState() & Qt::WindowMinimized))
        return;
    if (chkTrayIconUse->Value() != 1)
        return;
    // Without a notification area the window stays on the taskbar instead; no icon is wanted.
    if (!services_.trayAvailable() || !TrayIcon)
        return;
    if (Tooltip.isEmpty())
        Tooltip = windowTitle();
    const IconHandle picture =
        RegisterIcon(imgServerStatus[core_.fleet().ServerState()]->Picture());
    if (flTrayIconAdded) {
        TrayIcon->ChangeIcon(picture);
        TrayIcon->ChangeTip(Tooltip);
    } else {
        TrayIcon->ShowTrayIcon(CurrentWindowProcedures().HandleOf(this), Tooltip, picture);
        flTrayIconAdded = -1;
    }
}

void frmMain::TrayIcon_LeftButtonDoubleClick() {
    ChangeLauncherState(Transition::Restored);
}

void frmMain::mnuTrayShowWindow_Click() {
    ChangeLauncherState(Transition::Restored);
}

void frmMain::TrayIcon_RightButtondown() {
    mnuTrayMenu->popup(QCursor::pos());
}

void frmMain::mnuTrayExit_Click() {
    ChangeLauncherState(Transition::Exit);
}

// A crash while the launcher sits in the tray raises a desktop notification; otherwise the window
// shows it.
void frmMain::NotifyCrash(int server, qint64 delayMs) {
    if (Memo.fTrayIconAdded == 0 || !TrayIcon)
        return;
    const QString then = delayMs == 0 ? QStringLiteral(" and is being started again.")
                                      : QStringLiteral("; it keeps crashing, next try at ") +
                                            QDateTime::currentDateTime().addMSecs(delayMs).toString(
                                                QStringLiteral("HH:mm:ss")) +
                                            QStringLiteral(".");
    const ServerSupervisor& crashed = core_.fleet().supervisor(server);
    const QString how =
        crashed.lastEnding.isEmpty() ? QString() : QStringLiteral(" (") + crashed.lastEnding + u')';
    TrayIcon->ShowBalloon(crashed.name() + QStringLiteral(" crashed"),
                          crashed.name() + QStringLiteral(" just crashed") + how + then);
}
