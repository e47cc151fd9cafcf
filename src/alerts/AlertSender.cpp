#include "AlertSender.h"

#include "AlertQueue.h"
#include "AlertText.h"
#include "Clock.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>
#include <algorithm>

namespace {

// Files the operator names for an endpoint are small; a larger one is a mistake.
constexpr qint64 kMaxEndpointFileBytes = 64 * 1024;

bool ReadSmallFile(const QString& path, QByteArray* data, QString* why) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = path + QStringLiteral(" cannot be read: ") + file.errorString();
        return false;
    }
    *data = file.read(kMaxEndpointFileBytes + 1);
    if (data->size() > kMaxEndpointFileBytes) {
        *why = path + QStringLiteral(" is larger than 64 KB");
        return false;
    }
    return true;
}

// "Name: value" lines; blank lines and lines that begin with # are skipped.
bool ParseHeaders(const QByteArray& text, const QString& path,
                  QList<QPair<QByteArray, QByteArray>>* headers, QString* why) {
    int number = 0;
    for (QByteArray line : text.split('\n')) {
        ++number;
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = colon > 0 ? line.left(colon).trimmed() : QByteArray();
        const bool token = !name.isEmpty() && std::all_of(name.begin(), name.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '-' || c == '_';
        });
        const QByteArray value = line.mid(colon + 1).trimmed();
        const bool printable = std::all_of(value.begin(), value.end(), [](char c) {
            return static_cast<unsigned char>(c) >= 0x20 && c != 0x7f;
        });
        if (!token || !printable) {
            *why = QStringLiteral("%1 line %2 is no \"Name: value\" header").arg(path).arg(number);
            return false;
        }
        headers->append({name, value});
    }
    return true;
}

} // namespace

struct AlertSender::Endpoint {
    AlertEndpointConfig config;
    AlertFormat format = AlertFormat::Json;
    QNetworkReply* reply = nullptr; // the delivery under way
    QString sending;                // the id of the alert it carries
    bool sendingTest = false;       // and whether it is a test alert, whose delivery is told
    int failures = 0;               // tries in a row that failed
    std::int64_t retryAtMs = 0;
    bool toldFailing = false;
};

AlertSender::AlertSender(AlertQueue& queue, Clock& clock, QObject* parent)
    : QObject(parent), queue_(queue), clock_(clock), network_(new QNetworkAccessManager(this)),
      tmrRetry_(new QTimer(this)) {
    tmrRetry_->setSingleShot(true);
    connect(tmrRetry_, &QTimer::timeout, this, &AlertSender::deliverDue);
}

AlertSender::~AlertSender() {
    for (const auto& e : endpoints_)
        if (e->reply) {
            e->reply->disconnect(this);
            e->reply->abort();
        }
}

void AlertSender::setEndpoints(const QList<AlertEndpointConfig>& endpoints) {
    std::vector<std::unique_ptr<Endpoint>> next;
    for (const AlertEndpointConfig& config : endpoints) {
        // The ones kept are moved out as they are found: what is left behind is empty.
        const auto same = std::find_if(endpoints_.begin(), endpoints_.end(), [&](const auto& e) {
            return e && e->config.name == config.name;
        });
        auto endpoint = same != endpoints_.end() ? std::move(*same) : std::make_unique<Endpoint>();
        endpoint->config = config;
        endpoint->format = AlertFormatNamed(config.format).value_or(AlertFormat::Json);
        next.push_back(std::move(endpoint));
    }
    for (const auto& gone : endpoints_)
        if (gone && gone->reply) {
            gone->reply->disconnect(this);
            gone->reply->abort();
            gone->reply->deleteLater();
        }
    endpoints_ = std::move(next);
    // A connection kept from before would go on with the certificates trusted then.
    network_->clearConnectionCache();
    deliverDue();
}

bool AlertSender::idle() const {
    const std::int64_t now = clock_.NowMs();
    return std::none_of(endpoints_.begin(), endpoints_.end(), [&](const auto& e) {
        return e->reply || (e->retryAtMs <= now && queue_.next(e->config.name));
    });
}

void AlertSender::deliverDue() {
    const std::int64_t now = clock_.NowMs();
    for (const auto& e : endpoints_)
        if (!e->reply && e->retryAtMs <= now)
            send(*e);
    armRetry();
}

void AlertSender::armRetry() {
    std::int64_t earliest = -1;
    for (const auto& e : endpoints_)
        if (!e->reply && e->failures > 0 && (earliest < 0 || e->retryAtMs < earliest))
            earliest = e->retryAtMs;
    if (earliest < 0) {
        tmrRetry_->stop();
        return;
    }
    const std::int64_t wait = std::max<std::int64_t>(0, earliest - clock_.NowMs());
    tmrRetry_->start(static_cast<int>(std::min<std::int64_t>(wait, kLongestRetryMs)));
}

void AlertSender::send(Endpoint& e) {
    const std::optional<Alert> alert = queue_.next(e.config.name);
    if (!alert)
        return;
    QString why;
    QByteArray data;
    QString address = e.config.url;
    if (address.isEmpty()) {
        if (!ReadSmallFile(e.config.urlFile, &data, &why))
            return failed(e, why);
        address = QString::fromUtf8(data).section(u'\n', 0, 0).trimmed();
    }
    if (!AlertsConfig::UsableUrl(address))
        return failed(e, e.config.urlFile.isEmpty()
                             ? QStringLiteral("its address is no http:// or https:// one")
                             : e.config.urlFile + QStringLiteral(" holds no http:// or https:// "
                                                                 "address"));
    QList<QPair<QByteArray, QByteArray>> headers;
    if (!e.config.headersFile.isEmpty() &&
        (!ReadSmallFile(e.config.headersFile, &data, &why) ||
         !ParseHeaders(data, e.config.headersFile, &headers, &why)))
        return failed(e, why);

    QNetworkRequest request(QUrl(address, QUrl::StrictMode));
    if (!e.config.caFile.isEmpty()) {
        const QList<QSslCertificate> authorities = QSslCertificate::fromPath(e.config.caFile);
        if (authorities.isEmpty())
            return failed(e, e.config.caFile + QStringLiteral(" holds no certificate"));
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(authorities);
        request.setSslConfiguration(tls);
    }
    const AlertPayload payload = FormatAlert(*alert, e.format);
    request.setHeader(QNetworkRequest::ContentTypeHeader, payload.contentType);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("corvane-launcher"));
    for (const auto& [name, value] : payload.headers)
        request.setRawHeader(name, value);
    for (const auto& [name, value] : headers) // the operator's own, over the format's
        request.setRawHeader(name, value);
    request.setTransferTimeout(kAnswerTimeoutMs);
    e.sending = alert->id;
    e.sendingTest = alert->kind == Alert::Kind::Test;
    e.reply = network_->post(request, payload.body);
    Endpoint* endpoint = &e;
    QNetworkReply* reply = e.reply;
    connect(reply, &QNetworkReply::finished, this,
            [this, endpoint, reply] { answered(*endpoint, reply); });
}

void AlertSender::answered(Endpoint& e, QNetworkReply* reply) {
    reply->deleteLater();
    e.reply = nullptr;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString name = e.config.name;
    if (status >= 200 && status < 300) {
        queue_.done(e.sending, name);
        if (e.toldFailing)
            emit note(QStringLiteral("Alerts to %1 are delivered again.").arg(name));
        e.failures = 0;
        e.retryAtMs = 0;
        e.toldFailing = false;
        if (e.sendingTest)
            emit note(
                QStringLiteral("Test alert delivered to %1 (HTTP %2).").arg(name).arg(status));
        emit delivered(name, e.sending);
        send(e);
        armRetry();
        return;
    }
    const bool busy = status == 408 || status == 429 || status >= 500 || status == 0;
    if (!busy) {
        // Refused for good: sending it again would get the same answer and hold back the rest.
        const QString answer = CleanLine(QString::fromUtf8(reply->read(300)));
        queue_.done(e.sending, name);
        emit note(QStringLiteral("Alerts to %1: an alert was refused (HTTP %2%3); it is not sent "
                                 "again.")
                      .arg(name)
                      .arg(status)
                      .arg(answer.isEmpty() ? QString() : QStringLiteral(": ") + answer));
        send(e);
        armRetry();
        return;
    }
    // Retry-After, in seconds, when the receiver asks for a pause.
    const std::int64_t asked = reply->rawHeader("Retry-After").trimmed().toLongLong() * 1000;
    failed(e,
           status == 0
               ? reply->errorString()
               : QStringLiteral("HTTP %1 %2")
                     .arg(status)
                     .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()),
           std::min(asked, kLongestRetryMs));
}

void AlertSender::failed(Endpoint& e, const QString& reason, std::int64_t pauseMs) {
    ++e.failures;
    const int doublings = std::min(e.failures - 1, 20);
    const std::int64_t pause =
        std::max(pauseMs, std::min(kFirstRetryMs << doublings, kLongestRetryMs));
    e.retryAtMs = clock_.NowMs() + pause;
    if (!e.toldFailing) {
        e.toldFailing = true;
        emit note(QStringLiteral("Alerts to %1 cannot be delivered: %2; %3 waiting, tried again "
                                 "with growing pauses.")
                      .arg(e.config.name, CleanLine(reason))
                      .arg(queue_.waiting(e.config.name)));
    }
    armRetry();
}
