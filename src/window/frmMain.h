#pragma once

#include "ConsoleStyle.h"
#include "CrashBackoff.h"
#include "CrashTally.h"
#include "LauncherServices.h"
#include "LauncherState.h"
#include "LogListBox.h"
#include "RotatingLogFile.h"
#include "ServerProcess.h"
#include "ServerRunState.h"
#include "ServerTable.h"
#include "StatusSnapshot.h"
#include "WindowMemo.h"

#include <QHostAddress>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class PictureBox;
class TabStrip;
class VbCheckBox;
class VbScrollBar;
class clsTrayIcon;
class ConsoleCommandLine;
class StatusEndpoint;

// The launcher's one window. It owns all run-time state: the server table, the launcher state,
// the window memo, the log and the tray component. Its member functions live in the folder of the
// subsystem they belong to:
//   window/   construction, layout, lifecycle handlers, option handlers, settings
//   launcher/ log, transitions, start and stop sequences, status monitor, message view
//   tray/     the tray presentation
class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(LauncherServices services, QWidget* parent = nullptr);
    ~frmMain() override;

    // ---- run-time state ----------------------------------------------------------------------
    std::array<QString, ServerTable::kCount> ServerName;
    std::array<ServerProcess, ServerTable::kCount> ServerProc;
    std::int16_t ServerState = LauncherState::Offline;
    WindowMemo Memo;
    std::shared_ptr<clsTrayIcon> TrayIcon;

    // ---- controls, directly on the window -----------------------------------------------------
    QTimer* tmrHelper = nullptr;
    QTimer* tmrLogger = nullptr;
    QTimer* tmrStatusUpdater = nullptr;
    QTimer* tmrStopCheck = nullptr;   // one tick a few seconds after a stop
    QTimer* tmrCrashNotice = nullptr; // ends the crash notice
    QTimer* tmrCrashCheck = nullptr;  // a crash check soon: a delayed relaunch, or a retry
    QPushButton* cmdToTray = nullptr;
    QPushButton* cmdServerStart = nullptr;
    QPushButton* cmdServerShutdown = nullptr;
    QWidget* picContainer = nullptr;
    TabStrip* conTab = nullptr;
    QPlainTextEdit* txtOutput = nullptr;
    std::array<PictureBox*, 3> imgServerStatus{};
    ConsoleCommandLine* txtCommand = nullptr; // inside txtOutput, its bottom line

    // ---- controls inside picContainer ---------------------------------------------------------
    VbCheckBox* chkAutoRestartUse = nullptr;
    VbCheckBox* chkOutputServerMessage = nullptr;
    std::array<QGroupBox*, 3> fra{};
    QLabel* lblCrashNotice = nullptr;
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
    QMenu* mnuTrayMenu = nullptr;
    QAction* mnuTrayStartServers = nullptr;
    QAction* mnuTrayStopServers = nullptr;
    std::array<QAction*, 1> mnuTraySep{};
    QAction* mnuTrayExit = nullptr;

    // ---- launcher core (launcher/) ------------------------------------------------------------
    void LauncherLogAdd(const QString& sText);
    void ShowServerMessages(std::int16_t index);
    void ChangeLauncherState(std::int32_t code);
    // The local date and time with which log lines and the crash notice begin.
    static QString Now();

    void WaitSeconds(float sngSeconds);
    std::int16_t StartServer(const QString& sExePath, const QString& sName,
                             ServerProcess& udtProcess, float sngWait);
    void StartServers();
    void StopServers();

    void cmdServerStart_Click();
    void cmdServerShutdown_Click();
    void mnuTrayStartServers_Click();
    void mnuTrayStopServers_Click();
    void tmrHelper_Timer();
    // Watches the servers of this installation that already run; the launcher goes online when
    // any does. Called once at load.
    void AdoptRunningServers();       // launcher/frmMain_watching.cpp
    void ReportServersStillRunning(); // launcher/frmMain_stop_report.cpp
    void tmrStatusUpdater_Timer();
    void conTab_Click();
    // Types the text into the console of the selected server (launcher/frmMain_command.cpp).
    void txtCommand_Submit(const QString& sText);

    // ---- one server at a time, from its tab's menu (launcher/frmMain_server_control.cpp) -----
    void StartServerAlone(int server);
    void StopServerAlone(int server);
    void RestartServer(int server); // stop, wait until it has ended, start
    bool CanStartServer(int server) const;
    bool CanStopServer(int server) const; // and so restart it
    QString ServerTabToolTip(int server) const;
    const ServerRunStates& RunStates() const { return runStates_; }
    // ---- logs on disk (launcher/frmMain_disk_logs.cpp) ---------------------------------------
    // The folder for the launcher log, the crash reports and the servers' console logs (empty:
    // none), with the log line that says where it is.
    void UseLogFolder(const QString& folder, const QString& note);
    // After a crash line: how the server ended, into the log and a crash report.
    void ReportCrashEnding(int server);
    void ReportConsoleLogProblems();
    // Crash recovery between status ticks (launcher/frmMain_crash_*.cpp): the end of a server
    // process runs the crash check at once; the crash notice ends on its own timer.
    void ServerProcessEnded();
    void tmrCrashNotice_Timer();

    // ---- the servers' state for monitoring systems (status/frmMain_status_report.cpp) -------
    void chkSendStatus_Click(); // serves the status over HTTP while the box is checked
    StatusSnapshot CurrentStatus() const;
    void PublishStatus();
    quint16 StatusPort() const; // 0 while nothing is served

    // ---- window lifecycle and options (window/) ---------------------------------------------
    void Form_Load();
    void Form_Resize();
    void Form_Unload();
    void chkAutoRestartUse_Click();
    void chkLogEverything_Click();
    void vsInterval_Change();
    void vsKeepIconFor_Change();
    void LoadSettings();
    void SaveSettings();
    // A stored value of the launcher's settings section; fallback when there is none.
    QString ReadSetting(const QString& key, const QString& fallback);
    // Names a stored value that cannot be used in the log, with the value kept instead.
    void LogUnusableSetting(const QString& key, const QString& stored, const QString& kept);
    // A whole-number setting from low to high; any other stored value is named in the log and
    // the fallback is used.
    qint64 ReadNumberSetting(const QString& key, qint64 fallback, qint64 low, qint64 high);

    // ---- tray presentation (tray/) ------------------------------------------------------------
    void UpdateTrayIcon(std::int16_t& flTrayIconAdded, QString& Tooltip);
    void TrayIcon_LeftButtonDoubleClick();
    void TrayIcon_RightButtondown();
    void mnuTrayExit_Click();

    // ---- a second start on the same server folder (window/frmMain_raise.cpp) -----------------
    void BringWindowBack();

    // The services this window was given.
    const LauncherServices& services() const { return services_; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();      // window/frmMain_layout.cpp
    void connectHandlers();    // window/frmMain.cpp
    void loadStatusPictures(); // window/frmMain_pictures.cpp
    void CreateTrayIcon();     // tray/frmMain_tray.cpp: the tray component, no icon shown yet
    void RemoveTrayIcon();     // tray/frmMain_tray.cpp: the icon goes, the hook is undone
    void SetOutputText(const QString& text);       // launcher/frmMain_messages.cpp
    void SetOutputStyled(const StyledText& fresh); // launcher/frmMain_messages.cpp
    void letPendingEventsRun();                    // one pass of pending window events
    bool runCrashCheck(std::uint64_t stopsBefore); // launcher/frmMain_monitor.cpp
    void WatchUnstartedServers(int first);         // launcher/frmMain_watching.cpp
    void ReportServersStillRunningLater();         // launcher/frmMain_stop_report.cpp
    void LoadCloseRequests();                      // window/frmMain_close_requests.cpp
    void LoadLogSettings();                        // launcher/frmMain_disk_logs.cpp
    void LoadStatusSettings();                     // status/frmMain_status_report.cpp
    void writeLauncherLogLine(const QString& text);
    void prepareConsoleLog(const QString& path, const QString& sName);

    // one server at a time (launcher/frmMain_server_control.cpp)
    int serverIndexOf(const ServerProcess& record) const;
    void closeOneServer(int server);
    bool waitForServerEnd(int server);
    void startOneServer(int server);
    void followServerStates(); // online while any server is meant to run

    // launcher/frmMain_crash_wake.cpp, frmMain_crash_notice.cpp, frmMain_crash_backoff.cpp
    void CreateCrashRecoveryTimers();
    void WatchServerEnds();
    void RunCrashCheckSoon(int ms);
    void ShowCrashNotice();
    bool RelaunchCrashedServer(int i, std::uint64_t stopsBefore);
    bool RelaunchNow(int i, std::uint64_t stopsBefore);
    bool RunDueRelaunches(std::uint64_t stopsBefore);
    bool RelaunchPending(int i) const { return relaunchAtMs_[i].has_value(); }
    void NotifyCrash(int i, std::int64_t delayMs);
    QString CrashLoopTooltip() const;
    void LoadCrashBackoffSettings();

    LauncherServices services_;
    bool startSequenceRunning_ = false; // a second start request meanwhile is ignored
    bool shownOnce_ = false;
    bool tickRunning_ = false;           // status ticks never nest
    bool snapshotFailing_ = false;       // the last process snapshot came back empty
    QString outputText_;                 // what the message pane shows
    std::vector<StyleRun> outputRuns_;   // and in which colours
    std::optional<QString> lastCapture_; // the console text the pane shows, as captured
    bool captureRunning_ = false;        // a console capture is waiting for its text
    std::int16_t queuedCapture_ = -1;    // the server whose console was asked for last
    std::uint64_t stopCount_ = 0; // how many stop sequences have run, for waits to notice one
    ServerRunStates runStates_;   // what each server is meant to do
    QString logFolder_;           // empty: nothing is written to disk
    qint64 logMaxBytes_ = 0;      // size limit of each log file
    int logKept_ = 0;             // older log files kept
    std::unique_ptr<RotatingLogFile> launcherLogFile_;
    bool launcherLogFailing_ = false;
    std::array<std::int32_t, ServerTable::kCount> reportedPid_{}; // crashes already reported
    std::array<QString, ServerTable::kCount> lastEnding_;         // how each one's last crash ended
    std::int64_t noticeEndsAtMs_ = 0; // when the crash notice ends, by the clock
    std::uint64_t noticeStops_ = 0;   // stopCount_ when the notice began
    CrashBackoffSettings backoffSettings_;
    std::array<CrashBackoff, ServerTable::kCount> backoff_;
    std::array<std::optional<std::int64_t>, ServerTable::kCount> relaunchAtMs_; // delayed ones
    std::uint64_t backoffStops_ = 0; // stopCount_ the crash histories belong to
    std::array<CrashTally, ServerTable::kCount> tallies_{}; // since the launcher started
    std::unique_ptr<StatusEndpoint> statusEndpoint_;
    QTimer* tmrStatusReport = nullptr; // publishes the status while it is served
    QHostAddress statusAddress_;
    quint16 statusPort_ = 0;
};
