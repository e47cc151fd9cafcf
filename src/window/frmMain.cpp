#include "frmMain.h"

#include "AlertDelivery.h"
#include "ConsoleCommandLine.h"
#include "CrashMonitor.h"
#include "LauncherApp.h"
#include "LogListBox.h"
#include "MessagePane.h"
#include "OperatorMenus.h"
#include "RedNotice.h"
#include "ServerStateMarks.h"
#include "ServerTabMenu.h"
#include "StatusReporter.h"
#include "TabStrip.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"
#include "WindowPlaces.h"
#include "clsTrayIcon.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>

frmMain::frmMain(LauncherApp& app, WindowServices services, QWidget* parent)
    : QWidget(parent), app_(app), core_(app.core()), services_(std::move(services)) {
    buildControls();
    connectHandlers();
    observeCore();
    observeStatus();
    InstallServerTabMenus(conTab->tabBar(), core_);
    placeWindow();
    InstallServerStateMarks(conTab->tabBar(), core_);
    InstallOperatorMenus(*this);
}

frmMain::~frmMain() = default;

void frmMain::connectHandlers() {
    connect(cmdServerStart, &QPushButton::clicked, this, &frmMain::cmdServerStart_Click);
    connect(cmdServerShutdown, &QPushButton::clicked, this, &frmMain::cmdServerShutdown_Click);
    connect(mnuTrayStartServers, &QAction::triggered, this, &frmMain::mnuTrayStartServers_Click);
    connect(mnuTrayStopServers, &QAction::triggered, this, &frmMain::mnuTrayStopServers_Click);
    connect(mnuTrayExit, &QAction::triggered, this, &frmMain::mnuTrayExit_Click);
    connect(conTab, &TabStrip::Click, this, &frmMain::conTab_Click);
    connect(txtCommand, &ConsoleCommandLine::Submit, this, &frmMain::txtCommand_Submit);
    connect(txtCommand, &ConsoleCommandLine::SubmitLines, this, &frmMain::txtCommand_SubmitLines);
    connect(conTab, &TabStrip::Click, txtCommand,
            [this] { txtCommand->showServer(conTab->SelectedIndex() - 1); });
    connect(chkAutoRestartUse, &VbCheckBox::Click, this, &frmMain::chkAutoRestartUse_Click);
    connect(chkOutputServerMessage, &VbCheckBox::Click, this,
            &frmMain::chkOutputServerMessage_Click);
    connect(chkTrayIconUse, &VbCheckBox::Click, this, &frmMain::chkTrayIconUse_Click);
    connect(chkLogEverything, &VbCheckBox::Click, this, &frmMain::chkLogEverything_Click);
    connect(chkSendStatus, &VbCheckBox::Click, this, &frmMain::chkSendStatus_Click);
    connect(vsInterval, &VbScrollBar::Change, this, &frmMain::vsInterval_Change);
    connect(vsKeepIconFor, &VbScrollBar::Change, this, &frmMain::vsKeepIconFor_Change);
}

// The window shows what the core tells: the log's lines as they grow, the pane, the launcher state
// and, through the red notice, the crash notice.
void frmMain::observeCore() {
    lstLog->showLines(core_.log().lines());
    lstLog->setCurrentRow(lstLog->count() - 1);
    connect(&core_.log(), &LauncherLog::lineAboutToBeAdded, lstLog,
            &LogListBox::lineAboutToBeAdded);
    connect(&core_.log(), &LauncherLog::oldestLineAboutToBeDropped, lstLog,
            &LogListBox::oldestLineAboutToBeDropped);
    connect(&core_.log(), &LauncherLog::oldestLineDropped, lstLog, &LogListBox::oldestLineDropped);
    connect(&core_.log(), &LauncherLog::lineAdded, this, [this] {
        lstLog->lineAdded();
        lstLog->setCurrentRow(lstLog->count() - 1);
    });
    connect(&core_.mirror(), &ConsoleMirror::paneChanged, txtOutput, &MessagePane::showStyled);
    ServerFleet& fleet = core_.fleet();
    connect(&fleet, &ServerFleet::launcherStateChanged, this, &frmMain::PresentLauncherState);
    // A start that waits for a server to be ready can be stopped before the launcher is online.
    connect(&fleet, &ServerFleet::startAwaitsReadiness, this, [this](bool waiting) {
        cmdServerShutdown->setEnabled(waiting || core_.fleet().ServerState() > 0);
    });
    notice_ = new RedNotice(*core_.services().clock, core_.options(), this);
    connect(notice_, &RedNotice::changed, this, &frmMain::ShowRedNotice);
    connect(&fleet.monitor(), &CrashMonitor::crashNoticeChanged, notice_, &RedNotice::crashNotice);
    connect(&fleet.monitor(), &CrashMonitor::serverCrashed, notice_, &RedNotice::serverCrashed);
    connect(&fleet.monitor(), &CrashMonitor::serverCrashed, this, &frmMain::NotifyCrash);
}

// The status box shows whether the status is served; the operator's wish stays in the options.
// While the port cannot be had the box is unticked, so a click ticks it and tries at once; the
// box's menu is where the operator gives the tries up.
void frmMain::observeStatus() {
    connect(&app_.status(), &StatusReporter::servingChanged, this, &frmMain::ShowStatusServed);
    connect(&app_.status(), &StatusReporter::notCurrentlyServed, notice_, &RedNotice::statusNotice);
    actStopTryingStatus =
        new QAction(QStringLiteral("Stop Trying to Serve the Status"), chkSendStatus);
    actStopTryingStatus->setEnabled(false);
    chkSendStatus->addAction(actStopTryingStatus);
    chkSendStatus->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(actStopTryingStatus, &QAction::triggered, this, &frmMain::StopTryingToServeStatus);
}

void frmMain::StopTryingToServeStatus() {
    core_.options().sendStatus = 0;
    app_.status().serve(false);
    actStopTryingStatus->setEnabled(false);
}

void frmMain::ShowRedNotice(bool shown, const QString& caption, const QString& tip) {
    lblCrashNotice->setText(caption);
    lblCrashNotice->setToolTip(tip);
    lblCrashNotice->setVisible(shown);
}

void frmMain::ShowStatusServed(bool served) {
    const QSignalBlocker noClick(chkSendStatus); // the launcher's doing, not the operator's wish
    chkSendStatus->SetValue(served ? 1 : 0);
    actStopTryingStatus->setEnabled(!served);
}

quint16 frmMain::StatusPort() const {
    return app_.status().port();
}

StatusReporter& frmMain::Status() {
    return app_.status();
}

AlertDelivery& frmMain::Alerts() {
    return app_.alerts();
}

void frmMain::letPendingEventsRun() {
    QCoreApplication::processEvents();
}

void frmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The very first showing counts as the window's first size notification.
    if (!shownOnce_) {
        shownOnce_ = true;
        Form_Resize();
    }
}

void frmMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Maximised or full screen the window only grows; minimising and coming back change state.
    if (event->type() == QEvent::WindowStateChange &&
        ((static_cast<QWindowStateChangeEvent*>(event)->oldState() ^ windowState()) &
         Qt::WindowMinimized))
        Form_Resize();
}

void frmMain::closeEvent(QCloseEvent* event) {
    event->accept();
    Form_Unload();
}
