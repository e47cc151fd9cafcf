#include "StatusReporter.h"

#include "Clock.h"
#include "CrashBackoff.h"
#include "LauncherCore.h"
#include "LauncherKeys.h"
#include "StatusEndpoint.h"

#include <QFileInfo>
#include <QTimer>
#include <algorithm>

namespace {

// Of the installation's [Launcher] alone.
const QString kTokenKey = QString::fromLatin1(LauncherKeys::kStatusToken.name).toLower();
const QString kDefaultAddress = QString::fromLatin1(LauncherKeys::kStatusAddress.fallback);
const quint16 kDefaultPort = static_cast<quint16>(LauncherKeys::kStatusPort.number());
// The snapshot is taken this often while the endpoint serves, and after every state change.
constexpr int kPublishMs = 1000;

// "127.0.0.1:18731" or "[::1]:18731".
QString HostAndPort(const QHostAddress& address, quint16 port) {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? u'[' + address.toString() + u']'
                             : address.toString();
    return host + u':' + QString::number(port);
}

// The wait before the try after the given number of failed ones: doubling, up to the longest, as
// a crashing server's relaunches do.
std::int64_t RetryDelayMs(int failedTries) {
    CrashBackoffSettings pacing;
    pacing.firstDelayMs = StatusReporter::kFirstRetryMs;
    pacing.maxDelayMs = StatusReporter::kLongestRetryMs;
    return CrashBackoff::DelayOf(failedTries, pacing);
}

QString Seconds(std::int64_t ms) {
    return QString::number(ms / 1000) + QStringLiteral(" s");
}

} // namespace

StatusReporter::StatusReporter(LauncherCore& core, QObject* parent)
    : QObject(parent), core_(core), tmrPublish_(new QTimer(this)), tmrRetry_(new QTimer(this)),
      address_(QHostAddress(kDefaultAddress)), port_(kDefaultPort) {
    tmrPublish_->setInterval(kPublishMs);
    connect(tmrPublish_, &QTimer::timeout, this, &StatusReporter::publish);
    tmrRetry_->setSingleShot(true);
    connect(tmrRetry_, &QTimer::timeout, this, &StatusReporter::tmrRetry_Timer);
    // Monitoring systems see every change at once.
    connect(&core_.fleet(), &ServerFleet::launcherStateChanged, this, &StatusReporter::publish);
    connect(&core_.fleet(), &ServerFleet::serverStateChanged, this, &StatusReporter::publish);
    connect(&core_.resources(), &ResourceSampler::sampled, this, &StatusReporter::publish);
}

StatusReporter::~StatusReporter() = default;

void StatusReporter::loadSettings() {
    LauncherSettings& settings = core_.settings();
    const QString address = settings.Read(LauncherKeys::kStatusAddress);
    address_ = QHostAddress(address.trimmed());
    if (address_.isNull()) {
        settings.LogUnusable(QString::fromLatin1(LauncherKeys::kStatusAddress.name), address,
                             kDefaultAddress);
        address_ = QHostAddress(kDefaultAddress);
    }
    // 0: any free port, told in the log
    port_ = static_cast<quint16>(settings.ReadNumber(LauncherKeys::kStatusPort));
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
    wanted_ = on;
    failedTries_ = 0;
    if (on) {
        if (!serving())
            tryToServe();
        return;
    }
    LauncherLog& log = core_.log();
    if (tmrRetry_->isActive()) {
        tmrRetry_->stop();
        log.note(QStringLiteral("No longer trying to serve the server status."));
    }
    if (serving()) {
        tmrPublish_->stop();
        endpoint_->close();
        log.note(QStringLiteral("No longer serving the server status."));
    }
}

void StatusReporter::tryToServe() {
    // Never served without the token the installation's file asks for: a file that cannot be
    // used, or a token that cannot, keeps the status unserved.
    if (const QString& refusal = core_.installation().refusal; !refusal.isEmpty()) {
        failedToServe(refusal);
        return;
    }
    token_ = core_.installation().launcher.value(kTokenKey).toUtf8();
    if (!endpoint_)
        endpoint_ = std::make_unique<StatusEndpoint>();
    publish();
    endpoint_->requireToken(token_);
    QString error;
    if (!endpoint_->open(address_, port_, &error)) {
        failedToServe(error);
        return;
    }
    failedTries_ = 0;
    lastError_.clear();
    tmrRetry_->stop();
    tmrPublish_->start();
    const QString base = QStringLiteral("http://") + HostAndPort(address_, endpoint_->port());
    core_.log().note(QStringLiteral("Serving the server status at ") + base +
                     QStringLiteral("/metrics and ") + base + QStringLiteral("/status") +
                     (token_.isEmpty() ? QStringLiteral(".")
                                       : QStringLiteral(", to requests with the bearer token.")));
    emit servingChanged(true);
}

// A failed try is told when it is the first, or when its reason is new; the next is set.
void StatusReporter::failedToServe(const QString& error) {
    ++failedTries_;
    const std::int64_t delay = RetryDelayMs(failedTries_);
    retryAtMs_ = nowMs() + delay;
    tmrRetry_->start(static_cast<int>(delay));
    const bool first = failedTries_ == 1;
    const bool news = first || error != lastError_;
    lastError_ = error;
    if (!news)
        return;
    const QString where = HostAndPort(address_, port_);
    core_.log().note((first ? QStringLiteral("Cannot serve the server status on ")
                            : QStringLiteral("Still cannot serve the server status on ")) +
                     where + QStringLiteral(": ") + error +
                     (first ? QStringLiteral("; carrying on without it, and trying again in ") +
                                  Seconds(delay) +
                                  QStringLiteral(", then less and less often (every ") +
                                  Seconds(kLongestRetryMs) + QStringLiteral(" at most).")
                            : QStringLiteral("; still trying.")));
    if (first)
        emit servingChanged(false);
    emit notCurrentlyServed(QStringLiteral("Status Not Served! ") + core_.log().Now());
}

void StatusReporter::tmrRetry_Timer() {
    if (!wanted_ || serving() || failedTries_ == 0)
        return; // a late firing after the wish or the failure has ended
    const std::int64_t left = retryAtMs_ - nowMs();
    if (left > 0) {
        tmrRetry_->start(static_cast<int>(std::min<std::int64_t>(left, kLongestRetryMs)));
        return;
    }
    tryToServe();
}

std::int64_t StatusReporter::nextTryInMs() const {
    if (!tmrRetry_->isActive())
        return -1;
    return std::max<std::int64_t>(retryAtMs_ - nowMs(), 0);
}

std::int64_t StatusReporter::nowMs() const {
    return core_.services().clock->NowMs();
}

void StatusReporter::publish() {
    if (endpoint_)
        endpoint_->publish(core_.CurrentStatus());
}

bool StatusReporter::serving() const {
    return endpoint_ && endpoint_->isOpen();
}

quint16 StatusReporter::port() const {
    return endpoint_ ? endpoint_->port() : 0;
}
