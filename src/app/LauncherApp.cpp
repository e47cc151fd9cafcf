#include "LauncherApp.h"

#include "AlertDelivery.h"
#include "ControlServer.h"
#include "HistoryRecorder.h"
#include "LauncherKeys.h"
#include "Platform.h"
#include "StatusReporter.h"
#include "WebAccounts.h"
#include "WebConfig.h"
#include "WebPanel.h"

#include <QDateTime>

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
        control_->setAudit([this](const QString& who, const QString& what) {
            core_.audit().record(QStringLiteral("corvanectl"), who,
                                 QStringLiteral("the control socket"), what);
        });
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

void LauncherApp::serveWeb(const QString& serverFolder) {
    const WebConfig& config = core_.installation().web;
    if (!config.on)
        return;
    const QString where = QStringLiteral("%1 port %2").arg(config.address).arg(config.port);
    QString why = config.problem();
    if (why.isEmpty() && privateFolder_.isEmpty())
        why = QStringLiteral(
            "the user's private folder, where its accounts are kept, cannot be used");
    auto panel = std::make_unique<WebPanel>(core_, *core_.services().clock);
    panel->setSendTestAlert([this] { alerts_->sendTest(); });
    panel->setHistory([this](QObject* receiver, std::function<void(const HistoryView&)> done) {
        history_->load(receiver, std::move(done));
    });
    if (why.isEmpty() &&
        panel->open(config, privateFolder_, WebAccounts::FileName(serverFolder), &why)) {
        web_ = std::move(panel);
        core_.log().note(QStringLiteral("The web panel is served on %1%2.")
                             .arg(where, config.tls() ? QStringLiteral(" over TLS") : QString()));
        return;
    }
    core_.log().note(QStringLiteral("No web panel on %1: %2.").arg(where, why));
}

void LauncherApp::closeControl() {
    web_.reset();
    control_.reset();
}

void LauncherApp::closeHistory() {
    history_->close();
}
