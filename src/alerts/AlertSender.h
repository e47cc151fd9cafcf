#pragma once

#include "AlertFormats.h"
#include "AlertsConfig.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

class AlertQueue;
class Clock;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class QUrl;

// Delivers the queued alerts to each endpoint in turn, oldest first, one at a time per endpoint so
// that they arrive in order. An endpoint that cannot be reached, or answers that it is busy, is
// tried again after a pause that doubles up to five minutes, or after the pause it asks for when
// that is longer (up to five minutes too); the log names it once when it starts failing and once
// when it takes alerts again, never at every try. An alert it refuses (a 4xx answer) is logged and
// not sent again, so that it never holds back the ones behind it.
//
// Receivers are not trusted: a delivery has a deadline as a whole, only the first 64 KB of an
// answer are read, and a redirect is followed only to the same scheme, host and port, and only
// when it keeps the POST (307, 308); any other is a failed delivery. Endpoints with different
// trust ("ca file") never share a connection. Lives on a thread of its own; its deadlines run on
// the launcher's clock.
class AlertSender : public QObject {
    Q_OBJECT
public:
    static constexpr std::int64_t kFirstRetryMs = 2000;
    static constexpr std::int64_t kLongestRetryMs = 300000;
    static constexpr int kAnswerTimeoutMs = 20000;     // with nothing arriving
    static constexpr std::int64_t kDeliveryMs = 30000; // from the request to the whole answer
    static constexpr qint64 kMaxAnswerBytes = 64 * 1024;
    static constexpr int kMostRedirects = 5;

    AlertSender(AlertQueue& queue, Clock& clock, QObject* parent = nullptr);
    ~AlertSender() override;

    // The endpoints to deliver to, from the installation's settings.
    void setEndpoints(const QList<AlertEndpointConfig>& endpoints);
    // Starts every delivery that is due: new alerts, retries whose pause is over.
    void deliverDue();
    // No delivery is under way and none is due.
    bool idle() const;

signals:
    // A line for the launcher log.
    void note(const QString& line);
    void delivered(const QString& endpoint, const QString& id);

private:
    struct Endpoint;
    void send(Endpoint& endpoint);
    void redirected(Endpoint& endpoint, QNetworkReply* reply, const QUrl& to);
    void readAnswer(Endpoint& endpoint, QNetworkReply* reply);
    void answered(Endpoint& endpoint, QNetworkReply* reply);
    void failed(Endpoint& endpoint, const QString& reason, std::int64_t pauseMs = 0);
    // Ends the delivery under way without its answer.
    void dropReply(Endpoint& endpoint);
    void armRetry();
    // The connections for endpoints that trust what caFile names (nothing more when empty).
    QNetworkAccessManager* networkFor(const QString& caFile);

    AlertQueue& queue_;
    Clock& clock_;
    std::map<QString, QNetworkAccessManager*> networks_;
    QTimer* tmrRetry_;
    std::vector<std::unique_ptr<Endpoint>> endpoints_;
};
