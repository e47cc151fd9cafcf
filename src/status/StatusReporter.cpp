#include "StatusReporter.h"

#include "LauncherCore.h"
#include "StatusEndpoint.h"

#include <QFileInfo>
#include <QTimer>

namespace {

const QString kAddressKey = QStringLiteral("Status Address");
const QString kPortKey = QStringLiteral("Status Port");
const QString kTokenKey = QStringLiteral("status token"); // of the installation's [Launcher]
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

StatusReporter::StatusReporter(LauncherCore& core, QObject* parent)
    : QObject(parent), core_(core), tmrPublish_(new QTimer(this)),
      address_(QHostAddress(kDefaultAddress)), port_(kDefaultPort) {
    tmrPublish_->setInterval(kPublishMs);
    connect(tmrPublish_, &QTimer::timeout, this, &StatusReporter::publish);
    // Monitoring systems see every change at once.
    connect(&core_.fleet(), &ServerFleet::launcherStateChanged, this, &StatusReporter::publish);
    connect(&core_.fleet(), &ServerFleet::serverStateChanged, this, &StatusReporter::publish);
}

StatusReporter::~StatusReporter() = default;

void StatusReporter::loadSettings() {
    LauncherSettings& settings = core_.settings();
    const QString address = settings.Read(kAddressKey, kDefaultAddress);
    address_ = QHostAddress(address.trimmed());
    if (address_.isNull()) {
        settings.LogUnusable(kAddressKey, address, kDefaultAddress);
        address_ = QHostAddress(kDefaultAddress);
    }
    // 0: any free port, told in the log
    port_ = static_cast<quint16>(settings.ReadNumber(kPortKey, kDefaultPort, 0, 65535));
    // Only the installation's file may hold the token: the user's settings file is written with
    // the user's umask, readable by anyone on most systems. It is never logged.
    token_ = core_.installation().launcher.value(kTokenKey).toUtf8();
    if (!token_.isEmpty())
        warnIfOthersCanReadTheToken();
}

void StatusReporter::warnIfOthersCanReadTheToken() {
    const QString file = core_.installationFile();
    const QFileDevice::Permissions permissions = QFileInfo(file).permissions();
    if (!(permissions & (QFileDevice::ReadGroup | QFileDevice::ReadOther)))
        return;
    core_.log().note(QStringLiteral("Warning: ") + file +
                     QStringLiteral(" holds the status token and can be read by ") +
                     (permissions & QFileDevice::ReadOther ? QStringLiteral("every user")
                                                           : QStringLiteral("its group")) +
                     QStringLiteral("; let only its owner read it (chmod 600)."));
}

void StatusReporter::serve(bool on) {
    LauncherLog& log = core_.log();
    if (!on) {
        if (endpoint_ && endpoint_->isOpen()) {
            tmrPublish_->stop();
            endpoint_->close();
            log.note(QStringLiteral("No longer serving the server status."));
        }
        return;
    }
    if (endpoint_ && endpoint_->isOpen())
        return;
    if (!endpoint_)
        endpoint_ = std::make_unique<StatusEndpoint>();
    publish();
    endpoint_->requireToken(token_);
    QString error;
    if (!endpoint_->open(address_, port_, &error)) {
        log.note(QStringLiteral("Cannot serve the server status on ") +
                 HostAndPort(address_, port_) + QStringLiteral(": ") + error +
                 QStringLiteral("; carrying on without it."));
        return;
    }
    tmrPublish_->start();
    const QString base = QStringLiteral("http://") + HostAndPort(address_, endpoint_->port());
    log.note(QStringLiteral("Serving the server status at ") + base +
             QStringLiteral("/metrics and ") + base + QStringLiteral("/status") +
             (token_.isEmpty() ? QStringLiteral(".")
                               : QStringLiteral(", to requests with the bearer token.")));
}

void StatusReporter::publish() {
    if (endpoint_)
        endpoint_->publish(core_.CurrentStatus());
}

quint16 StatusReporter::port() const {
    return endpoint_ ? endpoint_->port() : 0;
}
