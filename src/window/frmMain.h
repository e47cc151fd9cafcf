#pragma once

// The launcher's one window: the controls, their layout, and handlers that forward the operator's
// actions to the launcher core. The window keeps no server state of its own; it presents what the
// core tells it through signals.
//
// Where each named piece of the launcher lives:
//
//   ServerName, ServerProc             ServerTable::displayNames(), ServerFleet::ServerProc(i)
//                                      (a ServerSupervisor's process record)
//   ServerState                        ServerFleet::ServerState()
//   LauncherLogAdd                     LauncherLog::LauncherLogAdd; lstLog follows lineAdded
//   ShowServerMessages                 ConsoleMirror::ShowServerMessages; txtOutput follows
//                                      paneChanged
//   ChangeLauncherState                here, the dispatcher; ServerFleet::ChangeLauncherState
//                                      applies the core half of 10, 11, 12 and 50 and signals
//                                      launcherStateChanged, which PresentLauncherState shows
//   WaitSeconds, StartServer,          ServerFleet (core/fleet/ServerFleetStart.cpp)
//   StartServers, StopServers
//   tmrStatusUpdater, tmrHelper        ServerFleet: the status tick and the priority step
//   the crash check, lblCrashNotice    CrashMonitor: the check, the notice's timer and caption;
//                                      RedNotice: what the label shows, crash or status notice
//   LoadSettings, SaveSettings         LauncherSettings reads and writes; here the options are
//                                      put into the controls, whose handlers copy them back
//   WindowMemo, TrayIcon,              here (tray/frmMain_tray.cpp for the tray)
//   UpdateTrayIcon
//
// Directory of the window's own files: window/ (controls, layout, lifecycle, options), tray/ (the
// tray presentation), status/ (the status endpoint).

#include "LauncherCore.h"
#include "LauncherState.h"
#include "WindowMemo.h"
#include "WindowServices.h"

#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class ConsoleCommandLine;
class LogListBox;
class MessagePane;
class PastedLines;
class PictureBox;
class RedNotice;
class AlertDelivery;
class LauncherApp;
class StatusReporter;
class TabStrip;
class VbCheckBox;
class VbScrollBar;
class WindowPlaces;
class clsTrayIcon;

class frmMain : public QWidget {
    Q_OBJECT
public:
    // Shows the launcher and forwards the operator's wishes to it; owns none of its services.
    frmMain(LauncherApp& app, WindowServices services, QWidget* parent = nullptr);
    ~frmMain() override;

    LauncherCore& core() { return core_; }
    LauncherApp& app() { return app_; }
    WindowMemo Memo;
    std::shared_ptr<clsTrayIcon> TrayIcon;

    // ---- controls, directly on the window -----------------------------------------------------
    QPushButton* cmdToTray = nullptr;
    QPushButton* cmdServerStart = nullptr;
    QPushButton* cmdServerShutdown = nullptr;
    QWidget* picContainer = nullptr;
    TabStrip* conTab = nullptr;
    MessagePane* txtOutput = nullptr;
    std::array<PictureBox*, 3> imgServerStatus{};
    ConsoleCommandLine* txtCommand = nullptr; // inside txtOutput, its bottom line

    // ---- controls inside picContainer ---------------------------------------------------------
    VbCheckBox* chkAutoRestartUse = nullptr;
    VbCheckBox* chkOutputServerMessage = nullptr;
    std::array<QGroupBox*, 3> fra{};
    QLabel* lblCrashNotice = nullptr;
    QAction* actStopTryingStatus = nullptr; // chkSendStatus's menu, while its port is tried again
    // inside fra[2], "Advanced Features"
    VbCheckBox* chkSendStatus = nullptr;
    VbCheckBox* chkLogEverything = nullptr;
    // inside fra[1], "Options"
    VbScrollBar* vsKeepIconFor = nullptr;
    QLineEdit* txtKeepIconFor = nullptr;
    VbCheckBox* chkTrayIconUse = nullptr;
    QLineEdit* txtInterval = nullptr;
    VbScrollBar* vsInterval = nullptr;
    // lblText[1] in fra[2]; lblText[0] and lblText[2] in fra[1]
    std::array<QLabel*, 3> lblText{};
    // inside fra[0], "Launcher Messages"
    LogListBox* lstLog = nullptr;

    // ---- the hidden tray menu -----------------------------------------------------------------
    // The classic items first, as they always were: Start, Stop, a separator, Exit. Whatever was
    // added since comes after mnuTraySep[1], below them.
    QMenu* mnuTrayMenu = nullptr;
    QAction* mnuTrayStartServers = nullptr;
    QAction* mnuTrayStopServers = nullptr;
    std::array<QAction*, 2> mnuTraySep{};
    QAction* mnuTrayExit = nullptr;
    QAction* mnuTrayShowWindow = nullptr; // first of the added, put in by the tray

    // ---- the dispatcher of visible state changes (window/frmMain_transitions.cpp) ------------
    void ChangeLauncherState(std::int32_t code);

    // ---- the operator's actions, forwarded to the core (window/frmMain_handlers.cpp) ---------
    void cmdServerStart_Click();
    void cmdServerShutdown_Click();
    void mnuTrayStartServers_Click();
    void mnuTrayStopServers_Click();
    void conTab_Click();
    void txtCommand_Submit(const QString& sText);
    void txtCommand_SubmitLines(int server, const PastedLines& paste);

    // ---- window lifecycle and options (window/frmMain_lifecycle.cpp) -------------------------
    void Form_Load();
    void Form_Resize();
    void Form_Unload();
    void chkAutoRestartUse_Click();
    void chkOutputServerMessage_Click();
    void chkTrayIconUse_Click();
    void chkLogEverything_Click();
    void chkSendStatus_Click();
    void vsInterval_Change();
    void vsKeepIconFor_Change();
    // Reads the settings through the core and puts the options into their controls.
    void LoadSettings();
    // Whether the Advanced Features' boxes can be used; the operator's opt-in "Use the Advanced
    // Features", written to the user's settings as it changes. Given up, both boxes are cleared.
    bool AdvancedFeaturesUsed() const;
    void UseAdvancedFeatures(bool on);
    void SaveSettings();

    // ---- tray presentation (tray/frmMain_tray.cpp) -------------------------------------------
    void UpdateTrayIcon(std::int16_t& flTrayIconAdded, QString& Tooltip);
    void TrayIcon_LeftButtonDoubleClick();
    void mnuTrayShowWindow_Click();
    void TrayIcon_RightButtondown();
    void mnuTrayExit_Click();

    // ---- the window's size (window/frmMain_place.cpp) ---------------------------------------
    // Whether the window may grow beyond its designed size, its place remembered; the operator's
    // opt-in "Let the Window Grow", written to the user's settings as it changes.
    bool WindowGrows() const;
    void LetWindowGrow(bool on);

    // ---- a second start on the same server folder (window/frmMain_raise.cpp) -----------------
    void BringWindowBack();

    // The port the status is served on; 0 while it is not served.
    quint16 StatusPort() const;
    StatusReporter& Status();
    AlertDelivery& Alerts();
    const WindowServices& services() const { return services_; }

signals:
    // The program is about to end, at once and without destructors: what must be left whole on
    // disk is closed now.
    void aboutToEnd();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();      // window/frmMain_layout.cpp
    void connectHandlers();    // window/frmMain.cpp
    void observeCore();        // window/frmMain.cpp
    void observeStatus();      // window/frmMain.cpp
    void loadStatusPictures(); // window/frmMain_pictures.cpp
    void CreateTrayIcon();     // tray/frmMain_tray.cpp: the tray component, no icon shown yet
    void RemoveTrayIcon();     // tray/frmMain_tray.cpp: the icon goes, the hook is undone
    // The presentation half of a transition the core applied (window/frmMain_transitions.cpp).
    void PresentLauncherState(int code);
    void ShowRedNotice(bool shown, const QString& caption, const QString& tip);
    void ShowStatusServed(bool served);
    void StopTryingToServeStatus();               // the status box's menu
    void NotifyCrash(int server, qint64 delayMs); // tray/frmMain_tray.cpp
    void letPendingEventsRun();
    void placeWindow();                          // window/frmMain_place.cpp
    void rememberPlace(const QByteArray& place); // window/frmMain_place.cpp
    void allowGrowing(bool on);                  // window/frmMain_place.cpp
    void showAdvancedFeatures(bool on);          // window/frmMain_lifecycle.cpp

    LauncherApp& app_;
    LauncherCore& core_;
    WindowServices services_;
    RedNotice* notice_ = nullptr;          // the crash notice, and the status's
    std::unique_ptr<WindowPlaces> places_; // while the window may grow
    bool shownOnce_ = false;
};
