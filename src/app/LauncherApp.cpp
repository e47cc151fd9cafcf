#include "LauncherApp.h"

#include "AlertDelivery.h"
#include "ControlServer.h"
#include "StatusReporter.h"

LauncherApp::LauncherApp(const CoreServices& services, const QString& privateFolder)
    : ownCore_(std::make_unique<LauncherCore>(services)), core_(*ownCore_),
      status_(std::make_unique<StatusReporter>(core_)),
      alerts_(std::make_unique<AlertDelivery>(core_, privateFolder)) {}

LauncherApp::LauncherApp(LauncherCore& core, const QString& privateFolder)
    : core_(core), status_(std::make_unique<StatusReporter>(core_)),
      alerts_(std::make_unique<AlertDelivery>(core_, privateFolder)) {}

// The services go before the core they observe (the members' order).
LauncherApp::~LauncherApp() = default;

void LauncherApp::serveControl(const QString& serverFolder) {
    const QString path = ControlServer::SocketPath(serverFolder);
    control_ = std::make_unique<ControlServer>(core_);
    if (path.isEmpty())
        core_.log().note(QStringLiteral("No control socket: the user's private folder cannot be "
                                        "used; corvanectl cannot reach this launcher."));
    else if (!control_->listen(path))
        core_.log().note(QStringLiteral("No control socket at ") + path + QStringLiteral(": ") +
                         control_->error() +
                         QStringLiteral("; corvanectl cannot reach this "
                                        "launcher."));
}

void LauncherApp::closeControl() {
    control_.reset();
}
