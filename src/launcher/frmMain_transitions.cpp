#include "frmMain.h"

#include "LauncherState.h"
#include "TabStrip.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

void enableTimer(QTimer* timer) {
    // Enabling a running timer leaves its period where it is.
    if (!timer->isActive())
        timer->start();
}

} // namespace

void frmMain::ChangeLauncherState(std::int32_t code) {
    switch (code) {
    case Transition::Offline: {
        cmdServerShutdown->setEnabled(false);
        cmdServerStart->setEnabled(true);
        mnuTrayStartServers->setEnabled(true);
        mnuTrayStopServers->setEnabled(false);
        tmrStatusUpdater->stop();
        ServerState = LauncherState::Offline;
        SetOutputText(QStringLiteral("Servers are Offline."));
        QString tooltip = QStringLiteral("Corvane Launcher is Running");
        UpdateTrayIcon(Memo.fTrayIconAdded, tooltip);
        break;
    }
    case Transition::Online: {
        cmdServerShutdown->setEnabled(true);
        cmdServerStart->setEnabled(false);
        mnuTrayStartServers->setEnabled(false);
        mnuTrayStopServers->setEnabled(true);
        const int autoRestart = chkAutoRestartUse->Value();
        const int messageUpdate = chkOutputServerMessage->Value();
        if (autoRestart == 1 || messageUpdate == 1)
            enableTimer(tmrStatusUpdater);
        if (ServerState == LauncherState::Offline)
            runStates_.clearRelaunches(); // counted from each time the launcher goes online
        ServerState = LauncherState::Online;
        SetOutputText(QString());
        QString tooltip = QStringLiteral("All servers are online");
        UpdateTrayIcon(Memo.fTrayIconAdded, tooltip);
        break;
    }
    case Transition::ArmPriorityTimer:
        enableTimer(tmrHelper);
        break;
    case Transition::Minimised: {
        Memo.iOutputValue = static_cast<std::int16_t>(chkOutputServerMessage->Value());
        Memo.sCaption = windowTitle();
        chkOutputServerMessage->SetValue(0);
        setWindowTitle(windowTitle() + QStringLiteral(" (Message Update Suspended)"));
        // Hidden only when the tray can bring it back; otherwise it stays on the taskbar.
        if (chkTrayIconUse->Value() == 1 && services_.trayAvailable())
            hide();
        letPendingEventsRun();
        QString tooltip;
        UpdateTrayIcon(Memo.fTrayIconAdded, tooltip);
        break;
    }
    case Transition::Restored:
        if (Memo.fSaved)
            chkOutputServerMessage->SetValue(Memo.iOutputValue);
        if (Memo.fSaved)
            setWindowTitle(Memo.sCaption);
        Memo.fSaved = true;
        setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
        show();
        letPendingEventsRun();
        Memo.fTrayIconAdded = 0;
        if (chkTrayIconUse->Value() == 1)
            RemoveTrayIcon();
        break;
    case Transition::DiskLoggingOn:
        enableTimer(tmrLogger);
        lblText[1]->setEnabled(true);
        break;
    case Transition::DiskLoggingOff:
        tmrLogger->stop();
        lblText[1]->setEnabled(false);
        break;
    case Transition::CrashNoticeControlsOn:
        lblText[2]->setEnabled(true);
        vsKeepIconFor->setEnabled(true);
        txtKeepIconFor->setEnabled(true);
        break;
    case Transition::CrashNoticeControlsOff:
        lblText[2]->setEnabled(false);
        vsKeepIconFor->setEnabled(false);
        txtKeepIconFor->setEnabled(false);
        break;
    case Transition::Exit:
        setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
        show();
        letPendingEventsRun();
        // A start that is still running has servers to stop too.
        if (ServerState > LauncherState::Offline || startSequenceRunning_ ||
            runStates_.anyMeantToRun())
            StopServers();
        SaveSettings();
        tmrStatusUpdater->stop();
        RemoveTrayIcon();
        TrayIcon.reset();
        services_.endProgram();
        break;
    case Transition::RefreshTray: {
        QString tooltip = CrashLoopTooltip(); // empty, for the caption, unless one keeps crashing
        UpdateTrayIcon(Memo.fTrayIconAdded, tooltip);
        break;
    }
    default:
        break;
    }
    PublishStatus(); // monitoring systems see every change at once
}
