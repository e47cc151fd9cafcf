// The servers' state for monitoring systems, served over HTTP while "Report Server Status" is on.
#include "frmMain.h"

#include "StatusEndpoint.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"
#include "modAPIs.h"

#include <QDateTime>
#include <QTimer>

namespace {

const QString kAddressKey = QStringLiteral("Status Address");
const QString kPortKey = QStringLiteral("Status Port");
const QString kDefaultAddress = QStringLiteral("127.0.0.1");
constexpr quint16 kDefaultPort = 18731;
// The snapshot is taken this often while the endpoint serves, and after every state change.
constexpr int kPublishMs = 1000;

// "127.0.0.1:18731" or "[::1]:18731".
QString HostAndPort(const QHostAddress& address, quint16 port) {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? u'[' + address.toString() + u']'
                             : address.toString();
    return host + u':' + QString::number(port);
}

} // namespace

void frmMain::LoadStatusSettings() {
    const QString address = ReadSetting(kAddressKey, kDefaultAddress);
    statusAddress_ = QHostAddress(address.trimmed());
    if (statusAddress_.isNull()) {
        LogUnusableSetting(kAddressKey, address, kDefaultAddress);
        statusAddress_ = QHostAddress(kDefaultAddress);
    }
    // 0: any free port, told in the log
    statusPort_ = static_cast<quint16>(ReadNumberSetting(kPortKey, kDefaultPort, 0, 65535));
}

void frmMain::chkSendStatus_Click() {
    if (chkSendStatus->Value() != 1) {
        if (statusEndpoint_ && statusEndpoint_->isOpen()) {
            tmrStatusReport->stop();
            statusEndpoint_->close();
            LauncherLogAdd(Now() + QStringLiteral("> No longer serving the server status."));
        }
        return;
    }
    if (statusEndpoint_ && statusEndpoint_->isOpen())
        return;
    if (!statusEndpoint_)
        statusEndpoint_ = std::make_unique<StatusEndpoint>();
    PublishStatus();
    QString error;
    if (!statusEndpoint_->open(statusAddress_, statusPort_, &error)) {
        LauncherLogAdd(Now() + QStringLiteral("> Cannot serve the server status on ") +
                       HostAndPort(statusAddress_, statusPort_) + QStringLiteral(": ") + error +
                       QStringLiteral("; carrying on without it."));
        return;
    }
    if (!tmrStatusReport) {
        tmrStatusReport = new QTimer(this);
        tmrStatusReport->setInterval(kPublishMs);
        connect(tmrStatusReport, &QTimer::timeout, this, &frmMain::PublishStatus);
    }
    tmrStatusReport->start();
    const QString base =
        QStringLiteral("http://") + HostAndPort(statusAddress_, statusEndpoint_->port());
    LauncherLogAdd(Now() + QStringLiteral("> Serving the server status at ") + base +
                   QStringLiteral("/metrics and ") + base + QStringLiteral("/status."));
}

StatusSnapshot frmMain::CurrentStatus() const {
    static const QString labels[ServerTable::kCount] = {
        QStringLiteral("login"), QStringLiteral("char"), QStringLiteral("map")};
    const std::int64_t epochNowMs = QDateTime::currentMSecsSinceEpoch();
    const std::int64_t clockNowMs = services_.clock->NowMs();
    StatusSnapshot snapshot;
    for (int i = 0; i < ServerTable::kCount; ++i) {
        ServerStatus& s = snapshot.servers[i];
        const ServerProcess& record = ServerProc[i];
        s.label = labels[i];
        s.meantToRun = runStates_.meantToRun(i);
        s.running =
            record.lPID > 0 && services_.apis->ProcessRunsProgram(record.hProcess, record.sExePath);
        if (s.running) {
            s.pid = record.lPID;
            const std::int64_t upMs = clockNowMs - runStates_.runningSinceMs(i);
            s.startTimeSeconds = static_cast<double>(epochNowMs - upMs) / 1000.0;
        }
        s.crashes = tallies_[i].crashes;
        s.relaunches = tallies_[i].relaunches;
        s.lastCrashSeconds = static_cast<double>(tallies_[i].lastCrashEpochMs) / 1000.0;
    }
    snapshot.launcherState = ServerState;
    snapshot.intervalSeconds = -vsInterval->Value();
    snapshot.version = QStringLiteral(CORVANE_VERSION);
    return snapshot;
}

void frmMain::PublishStatus() {
    if (statusEndpoint_)
        statusEndpoint_->publish(CurrentStatus());
}

quint16 frmMain::StatusPort() const {
    return statusEndpoint_ ? statusEndpoint_->port() : 0;
}
