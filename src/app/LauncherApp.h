#pragma once

#include "LauncherCore.h"

#include <QString>
#include <memory>

class AlertDelivery;
class ControlServer;
class StatusReporter;

// The launcher without its window: the core and the services that run beside it (the status
// endpoint, the alerts' delivery). The program builds it first and then, when there is a desktop,
// the window, which observes it and forwards the operator's wishes, and owns none of it.
class LauncherApp {
public:
    // Builds the core from its services. Alerts waiting for delivery are kept in privateFolder;
    // an empty folder keeps them in memory only.
    LauncherApp(const CoreServices& services, const QString& privateFolder);
    // Around a core made and owned elsewhere.
    LauncherApp(LauncherCore& core, const QString& privateFolder);
    ~LauncherApp();
    LauncherApp(const LauncherApp&) = delete;
    LauncherApp& operator=(const LauncherApp&) = delete;

    // Listens for corvanectl on the server folder's control socket, once this launcher holds the
    // folder; the log says where, or why it cannot.
    void serveControl(const QString& serverFolder);
    // No longer listens, and removes the socket: for a program that ends without its destructors.
    void closeControl();

    LauncherCore& core() { return core_; }
    StatusReporter& status() { return *status_; }
    AlertDelivery& alerts() { return *alerts_; }

private:
    std::unique_ptr<LauncherCore> ownCore_;
    LauncherCore& core_;
    std::unique_ptr<StatusReporter> status_;
    std::unique_ptr<AlertDelivery> alerts_;
    std::unique_ptr<ControlServer> control_;
};
