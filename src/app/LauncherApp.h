#pragma once

#include "LauncherCore.h"

#include <QString>
#include <memory>

class AlertDelivery;
class ControlServer;
class HistoryRecorder;
class StatusReporter;
class WebPanel;

// The launcher without its window: the core and the services that run beside it (the status
// endpoint, the alerts' delivery, the history, the control socket). The program builds it first and
// then, when there is a desktop, the window, which observes it and forwards the operator's wishes,
// and owns none of it.
class LauncherApp {
public:
    // The launcher of a program, on the servers of serverFolder: this operating system's platform,
    // the real clock, and the user's private folder, where alerts wait for their delivery and the
    // schedules keep their state (in memory only when the folder cannot be had).
    LauncherApp(SettingsStore& settings, const QString& serverFolder);
    // Around a core made and owned elsewhere; alerts wait in privateFolder (empty: in memory).
    LauncherApp(LauncherCore& core, const QString& privateFolder);
    ~LauncherApp();
    LauncherApp(const LauncherApp&) = delete;
    LauncherApp& operator=(const LauncherApp&) = delete;

    // Listens for corvanectl on the server folder's control socket, once this launcher holds the
    // folder: the private one, or with a control group the group's in the server folder; the log
    // says where, or why it cannot.
    void serveControl(const QString& serverFolder);
    // Serves the web panel when the installation's file has a [Web] section that can be served;
    // the log says where, or why not. Nothing listens without the section.
    void serveWeb(const QString& serverFolder);
    // No longer listens, on the control socket (which it removes) or for the web panel: for a
    // program that ends without its destructors.
    void closeControl();
    // Writes what the history took and closes its file whole: for the same.
    void closeHistory();

    // Ends what the platform made for this run (its tmux control session, its notice pipe): for a
    // program that ends without its destructors. Nothing of the launcher may run after it.
    void endPlatform();

    const QString& privateFolder() const { return privateFolder_; }
    LauncherCore& core() { return core_; }
    StatusReporter& status() { return *status_; }
    AlertDelivery& alerts() { return *alerts_; }
    // Kept across runs when the installation's file asks for it (HistoryRecorder::KeptFolder), in
    // this run's memory otherwise.
    HistoryRecorder& history() { return *history_; }

private:
    std::unique_ptr<modAPIs> ownApis_;
    std::unique_ptr<Clock> ownClock_;
    QString privateFolder_;
    std::unique_ptr<LauncherCore> ownCore_;
    LauncherCore& core_;
    std::unique_ptr<StatusReporter> status_;
    std::unique_ptr<AlertDelivery> alerts_;
    std::unique_ptr<HistoryRecorder> history_;
    std::unique_ptr<ControlServer> control_;
    std::unique_ptr<WebPanel> web_;
};
