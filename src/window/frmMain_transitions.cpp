#include "frmMain.h"

#include "LauncherApp.h"

#include "AlertDelivery.h"
#include "CrashMonitor.h"
#include "LauncherState.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

constexpr int kExitAlertWaitMs = 2000;

} // namespace

// Every visible change of launcher state goes through here. The codes that concern the servers
// (10, 11, 12, 50) go to the core, which applies its half and signals back for the presentation;
// the others belong to the window alone.
void frmMain::ChangeLauncherState(std::int32_t code) {
    switch (code) {
    case Transition::Offline:
    case Transition::Online:
    case Transition::ArmPriorityTimer:
    case Transition::RefreshTray:
        core_.fleet().ChangeLauncherState(code);
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
        // The pane shows the console as it is now, not as it was when the updates stopped.
        core_.ServerTabSelected(core_.mirror().SelectedServer());
        if (Memo.fSaved)
            setWindowTitle(Memo.sCaption);
        Memo.fSaved = true;
        setWindowState(windowState() & ~Qt::WindowMinimized); // maximised comes back so
        show();
        letPendingEventsRun();
        Memo.fTrayIconAdded = 0;
        if (chkTrayIconUse->Value() == 1)
            RemoveTrayIcon();
        break;
    case Transition::DiskLoggingOn:
        lblText[1]->setEnabled(true);
        break;
    case Transition::DiskLoggingOff:
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
    case Transition::Exit: {
        const QByteArray place = saveGeometry(); // as the operator left it
        setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
        show();
        letPendingEventsRun();
        // Stops what runs and saves the settings; the program ends once the servers' stop
        // sequences have run, the window showing meanwhile.
        // The alert that the launcher exits gets two seconds to go out; it waits in the queue
        // file for the next start otherwise.
        core_.BeginExit([this, place] {
            app_.alerts().finishThen(
                [this, place] {
                    rememberPlace(place);
                    RemoveTrayIcon();
                    TrayIcon.reset();
                    emit aboutToEnd();
                    services_.endProgram();
                },
                kExitAlertWaitMs);
        });
        break;
    }
    default:
        break;
    }
}

void frmMain::PresentLauncherState(int code) {
    const bool online = code == Transition::Online;
    if (online || code == Transition::Offline) {
        cmdServerShutdown->setEnabled(online);
        cmdServerStart->setEnabled(!online);
        mnuTrayStartServers->setEnabled(!online);
        mnuTrayStopServers->setEnabled(online);
        QString tooltip = online ? QStringLiteral("All servers are online")
                                 : QStringLiteral("Corvane Launcher is Running");
        UpdateTrayIcon(Memo.fTrayIconAdded, tooltip);
    } else if (code == Transition::RefreshTray) {
        // Empty, for the caption, unless a server keeps crashing.
        QString tooltip = core_.fleet().monitor().CrashLoopSummary();
        UpdateTrayIcon(Memo.fTrayIconAdded, tooltip);
    }
}
