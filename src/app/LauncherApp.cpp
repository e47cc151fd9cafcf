#include "LauncherApp.h"

#include "AlertDelivery.h"
#include "ControlServer.h"
#include "HistoryRecorder.h"
#include "LauncherKeys.h"
#include "Platform.h"
#include "StatusReporter.h"

namespace {

std::unique_ptr<HistoryRecorder> MakeHistory(LauncherCore& core) {
    // Its folder is known once the installation's file has been read.
    return std::make_unique<HistoryRecorder>(core,
                                             [&core] { return HistoryRecorder::KeptFolder(core); });
}

QString UsablePrivateFolder() {
    QString why;
    return PrivateStateFolder(&why);
}

} // namespace

LauncherApp::LauncherApp(SettingsStore& settings, const QString& serverFolder)
    : ownApis_(CreatePlatformApis(serverFolder)), ownClock_(CreateSystemClock()),
      privateFolder_(UsablePrivateFolder()),
      ownCore_(std::make_unique<LauncherCore>(
          CoreServices{ownApis_.get(), ownClock_.get(), &settings, serverFolder})),
      core_(*ownCore_), status_(std::make_unique<StatusReporter>(core_)),
      alerts_(std::make_unique<AlertDelivery>(core_, privateFolder_)),
      history_(MakeHistory(core_)) {
    core_.schedules().UseStateFolder(privateFolder_);
}

LauncherApp::LauncherApp(LauncherCore& core, const QString& privateFolder)
    : privateFolder_(privateFolder), core_(core), status_(std::make_unique<StatusReporter>(core_)),
      alerts_(std::make_unique<AlertDelivery>(core_, privateFolder_)),
      history_(MakeHistory(core_)) {}

void LauncherApp::endPlatform() {
    ownApis_.reset();
}

// The services go before the core they observe (the members' order).
LauncherApp::~LauncherApp() = default;

void LauncherApp::serveControl(const QString& serverFolder) {
    const QString path = ControlServer::SocketPath(privateFolder_, serverFolder);
    const auto newControl = [this] {
        control_ = std::make_unique<ControlServer>(core_);
        control_->setSendTestAlert([this] { alerts_->sendTest(); });
    };
    newControl();
    // With a control group, only the shared socket: the group's members and this user reach it.
    if (const QString group = core_.settings().Read(LauncherKeys::kControlGroup).trimmed();
        !group.isEmpty()) {
        if (control_->listenShared(serverFolder, group)) {
            core_.log().note(QStringLiteral("corvanectl of group ") + group +
                             QStringLiteral(" reaches this launcher at ") +
                             ControlServer::SharedSocketPath(serverFolder));
            return;
        }
        core_.log().note(QStringLiteral("No control socket for group ") + group +
                         QStringLiteral(": ") + control_->error() +
                         QStringLiteral("; only this user's corvanectl reaches this launcher."));
        newControl();
    }
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

void LauncherApp::closeHistory() {
    history_->close();
}
