#include "frmMain.h"

#include "ConsoleCommandLine.h"
#include "ServerTabMenu.h"
#include "StatusEndpoint.h"
#include "TabStrip.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"
#include "modAPIs.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

frmMain::frmMain(LauncherServices services, QWidget* parent)
    : QWidget(parent), services_(std::move(services)) {
    buildControls();
    tmrStopCheck = new QTimer(this);
    tmrStopCheck->setSingleShot(true);
    tmrStopCheck->setTimerType(Qt::PreciseTimer);
    tmrStopCheck->setInterval(5000);
    CreateCrashRecoveryTimers();
    outputText_ = txtOutput->toPlainText();
    connectHandlers();
    InstallServerTabMenus(*this);
}

frmMain::~frmMain() {
    for (ServerProcess& record : ServerProc)
        services_.apis->ReleaseProcessHandle(record.hProcess);
}

void frmMain::connectHandlers() {
    connect(cmdServerStart, &QPushButton::clicked, this, &frmMain::cmdServerStart_Click);
    connect(cmdServerShutdown, &QPushButton::clicked, this, &frmMain::cmdServerShutdown_Click);
    connect(mnuTrayStartServers, &QAction::triggered, this, &frmMain::mnuTrayStartServers_Click);
    connect(mnuTrayStopServers, &QAction::triggered, this, &frmMain::mnuTrayStopServers_Click);
    connect(mnuTrayExit, &QAction::triggered, this, &frmMain::mnuTrayExit_Click);
    connect(tmrHelper, &QTimer::timeout, this, &frmMain::tmrHelper_Timer);
    connect(tmrStatusUpdater, &QTimer::timeout, this, &frmMain::tmrStatusUpdater_Timer);
    connect(tmrStopCheck, &QTimer::timeout, this, &frmMain::ReportServersStillRunning);
    connect(conTab, &TabStrip::Click, this, &frmMain::conTab_Click);
    connect(txtCommand, &ConsoleCommandLine::Submit, this, &frmMain::txtCommand_Submit);
    connect(chkAutoRestartUse, &VbCheckBox::Click, this, &frmMain::chkAutoRestartUse_Click);
    connect(chkLogEverything, &VbCheckBox::Click, this, &frmMain::chkLogEverything_Click);
    connect(chkSendStatus, &VbCheckBox::Click, this, &frmMain::chkSendStatus_Click);
    connect(vsInterval, &VbScrollBar::Change, this, &frmMain::vsInterval_Change);
    connect(vsKeepIconFor, &VbScrollBar::Change, this, &frmMain::vsKeepIconFor_Change);
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
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void frmMain::closeEvent(QCloseEvent* event) {
    event->accept();
    Form_Unload();
}
