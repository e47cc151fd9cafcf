#pragma once

#include "AlertFormats.h"
#include "AlertsConfig.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class AlertQueue;
class Clock;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// Delivers the queued alerts to each endpoint in turn, oldest first, one at a time per endpoint so
// that they arrive in order. An endpoint that cannot be reached, or answers that it is busy, is
// tried again after a pause that doubles up to five minutes; the log names it once when it starts
// failing and once when it takes alerts again, never at every try. An alert it refuses (a 4xx
// answer) is logged and not sent again, so that it never holds back the ones behind it. Lives on
// a thread of its own; its deadlines run on the launcher's clock.
class AlertSender : public QObject {
    Q_OBJECT
public:
    static constexpr std::int64_t kFirstRetryMs = 2000;
    static constexpr std::int64_t kLongestRetryMs = 300000;
    static constexpr int kAnswerTimeoutMs = 20000;

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
    void answered(Endpoint& endpoint, QNetworkReply* reply);
    void failed(Endpoint& endpoint, const QString& reason, std::int64_t pauseMs = 0);
    void armRetry();

    AlertQueue& queue_;
    Clock& clock_;
    QNetworkAccessManager* network_;
    QTimer* tmrRetry_;
    std::vector<std::unique_ptr<Endpoint>> endpoints_;
};
