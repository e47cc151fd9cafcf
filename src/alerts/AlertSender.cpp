#include "AlertSender.h"

#include "AlertQueue.h"
#include "AlertText.h"
#include "Clock.h"
#include "OperatorFile.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimeZone>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cmath>

namespace {

// Files the operator names for an endpoint are small; a larger one is a mistake.
constexpr qint64 kMaxEndpointFileBytes = 64 * 1024;

bool ReadSmallFile(const QString& path, QByteArray* data, QString* why) {
    return ReadOperatorFile(path, kMaxEndpointFileBytes, data, why);
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

bool SameOrigin(const QUrl& a, const QUrl& b) {
    const auto defaultPort = [](const QUrl& url) {
        return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80;
    };
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(defaultPort(a)) == b.port(defaultPort(b));
}

// The pause a busy receiver asks for, in ms: its Retry-After header (seconds, or a date), or
// the "retry_after" of a JSON answer (seconds, as Discord sends it); the longer when both.
std::int64_t AskedPauseMs(const QByteArray& retryAfter, const QByteArray& answer, int status,
                          std::int64_t epochMs) {
    double seconds = 0;
    const QByteArray header = retryAfter.trimmed();
    bool number = false;
    if (const double value = header.toDouble(&number); number && std::isfinite(value)) {
        seconds = value;
    } else if (!header.isEmpty()) {
        // As HTTP writes dates: "Thu, 28 May 2026 20:27:00 GMT".
        QDateTime at = QLocale::c().toDateTime(QString::fromLatin1(header),
                                               QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
        at.setTimeZone(QTimeZone::utc());
        if (at.isValid())
            seconds = static_cast<double>(at.toMSecsSinceEpoch() - epochMs) / 1000;
    }
    if (status == 429) {
        const QJsonValue asked =
            QJsonDocument::fromJson(answer).object().value(QLatin1String("retry_after"));
        if (asked.isDouble() && std::isfinite(asked.toDouble()))
            seconds = std::max(seconds, asked.toDouble());
    }
    // Bounded before it is turned into a whole number of ms.
    seconds = std::clamp(seconds, 0.0, static_cast<double>(AlertSender::kLongestRetryMs) / 1000);
    return static_cast<std::int64_t>(std::ceil(seconds * 1000));
}

} // namespace

struct AlertSender::Endpoint {
    AlertEndpointConfig config;
    AlertFormat format = AlertFormat::Json;
    QNetworkReply* reply = nullptr; // the delivery under way
    QString sending;                // the id of the alert it carries
    bool sendingTest = false;       // and whether it is a test alert, whose delivery is told
    QUrl address;                   // where it was sent
    std::int64_t deadlineMs = 0;    // when it fails if no whole answer came
    QByteArray answer;              // the answer's first kMaxAnswerBytes
    QString refused;                // why the delivery was ended before its answer came
    int failures = 0;               // tries in a row that failed
    std::int64_t retryAtMs = 0;
    bool toldFailing = false;
};

AlertSender::AlertSender(AlertQueue& queue, Clock& clock, QObject* parent)
    : QObject(parent), queue_(queue), clock_(clock), tmrRetry_(new QTimer(this)) {
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

QNetworkAccessManager* AlertSender::networkFor(const QString& caFile) {
    QNetworkAccessManager*& network = networks_[caFile];
    if (!network)
        network = new QNetworkAccessManager(this);
    return network;
}

void AlertSender::setEndpoints(const QList<AlertEndpointConfig>& endpoints) {
    std::vector<std::unique_ptr<Endpoint>> next;
    for (const AlertEndpointConfig& config : endpoints) {
        // The ones kept are moved out as they are found: what is left behind is empty.
        const auto same = std::find_if(endpoints_.begin(), endpoints_.end(), [&](const auto& e) {
            return e && e->config.name == config.name;
        });
        auto endpoint = same != endpoints_.end() ? std::move(*same) : std::make_unique<Endpoint>();
        // A delivery under way with other trust is sent again with the new.
        if (endpoint->reply && endpoint->config.caFile != config.caFile)
            dropReply(*endpoint);
        endpoint->config = config;
        endpoint->format = AlertFormatNamed(config.format).value_or(AlertFormat::Json);
        next.push_back(std::move(endpoint));
    }
    for (const auto& gone : endpoints_)
        if (gone && gone->reply)
            dropReply(*gone);
    endpoints_ = std::move(next);
    for (auto it = networks_.begin(); it != networks_.end();) {
        const bool used = std::any_of(endpoints_.begin(), endpoints_.end(),
                                      [&](const auto& e) { return e->config.caFile == it->first; });
        if (used) {
            // A connection kept from before would go on with the certificates trusted then.
            it->second->clearConnectionCache();
            ++it;
        } else {
            it->second->deleteLater();
            it = networks_.erase(it);
        }
    }
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
        if (e->reply && e->deadlineMs <= now) {
            dropReply(*e);
            failed(*e, QStringLiteral("no whole answer within %1 s").arg(kDeliveryMs / 1000));
        }
    for (const auto& e : endpoints_)
        if (!e->reply && e->retryAtMs <= now)
            send(*e);
    armRetry();
}

// The next deadline: a retry's, or a delivery's under way.
void AlertSender::armRetry() {
    std::int64_t earliest = -1;
    for (const auto& e : endpoints_) {
        const std::int64_t at = e->reply ? e->deadlineMs : e->failures > 0 ? e->retryAtMs : -1;
        if (at >= 0 && (earliest < 0 || at < earliest))
            earliest = at;
    }
    if (earliest < 0) {
        tmrRetry_->stop();
        return;
    }
    const std::int64_t wait = std::max<std::int64_t>(0, earliest - clock_.NowMs());
    tmrRetry_->start(static_cast<int>(std::min<std::int64_t>(wait, kLongestRetryMs)));
}

void AlertSender::dropReply(Endpoint& e) {
    QNetworkReply* reply = std::exchange(e.reply, nullptr);
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
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

    e.address = QUrl(address, QUrl::StrictMode);
    QNetworkRequest request(e.address);
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
    // Each redirect is looked at before it is followed (redirected below).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMostRedirects);
    e.sending = alert->id;
    e.sendingTest = alert->kind == Alert::Kind::Test;
    e.deadlineMs = clock_.NowMs() + kDeliveryMs;
    e.answer.clear();
    e.refused.clear();
    e.reply = networkFor(e.config.caFile)->post(request, payload.body);
    e.reply->setReadBufferSize(kMaxAnswerBytes);
    Endpoint* endpoint = &e;
    QNetworkReply* reply = e.reply;
    connect(reply, &QNetworkReply::redirected, this,
            [this, endpoint, reply](const QUrl& to) { redirected(*endpoint, reply, to); });
    connect(reply, &QNetworkReply::readyRead, this,
            [this, endpoint, reply] { readAnswer(*endpoint, reply); });
    connect(reply, &QNetworkReply::finished, this,
            [this, endpoint, reply] { answered(*endpoint, reply); });
}

// Only where the alert was sent, and only as a POST: the headers (an Authorization among them)
// go with it, and a GET would count as delivered while the alert is lost.
void AlertSender::redirected(Endpoint& e, QNetworkReply* reply, const QUrl& to) {
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QUrl target = e.address.resolved(to);
    if (SameOrigin(e.address, target) && (status == 307 || status == 308)) {
        emit reply->redirectAllowed();
        return;
    }
    const QString where = target
                              .adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath |
                                        QUrl::RemoveQuery | QUrl::RemoveFragment)
                              .toString();
    e.refused = SameOrigin(e.address, target)
                    ? QStringLiteral("it answered HTTP %1, a redirect that would not send the "
                                     "alert again; not followed")
                          .arg(status)
                    : QStringLiteral("it answered HTTP %1, a redirect to %2; not followed")
                          .arg(status)
                          .arg(where);
    reply->abort(); // finished follows
}

// The answer's first kMaxAnswerBytes are kept; past them it is not read on, and its status
// decides.
void AlertSender::readAnswer(Endpoint& e, QNetworkReply* reply) {
    const qint64 room = kMaxAnswerBytes - e.answer.size();
    if (room > 0)
        e.answer += reply->read(room);
    if (reply->bytesAvailable() > 0) {
        reply->disconnect(this);
        answered(e, reply);
        reply->abort();
    }
}

void AlertSender::answered(Endpoint& e, QNetworkReply* reply) {
    reply->deleteLater();
    e.reply = nullptr;
    if (const qint64 room = kMaxAnswerBytes - e.answer.size(); room > 0)
        e.answer += reply->read(room);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString name = e.config.name;
    if (!e.refused.isEmpty())
        return failed(e, e.refused);
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
    if (!busy && (status < 300 || status >= 400)) {
        // Refused for good: sending it again would get the same answer and hold back the rest.
        const QString answer = CleanLine(QString::fromUtf8(e.answer.left(300)));
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
    failed(e,
           status == 0
               ? reply->errorString()
               : QStringLiteral("HTTP %1 %2")
                     .arg(status)
                     .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()),
           AskedPauseMs(reply->rawHeader("Retry-After"), e.answer, status, clock_.EpochMs()));
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
