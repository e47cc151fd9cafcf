#pragma once

#include "Alert.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class AlertQueue;
class AlertSender;
class LauncherCore;
class QThread;
class QTimer;

// The alerts of the launcher on their way out: each alert the core raises is queued for every
// endpoint the installation names (the queue file written before this returns, so that an alert
// survives even a launcher that ends at once), then delivered from a thread of its own. The log
// tells what cannot be delivered.
class AlertDelivery : public QObject {
    Q_OBJECT
public:
    // The queue is kept in queueFolder (the launcher's private folder), in a file named after the
    // installation; an empty folder keeps it in memory only.
    AlertDelivery(LauncherCore& core, const QString& queueFolder, QObject* parent = nullptr);
    ~AlertDelivery() override;

    // Queues the alert for every endpoint and starts its delivery.
    void post(const Alert& alert);
    // The operator's "Send Test Alert".
    void sendTest();
    // Calls done once every queued alert is delivered, or after at most maxMs; never waits in a
    // loop of its own.
    void finishThen(std::function<void()> done, int maxMs);
    int endpointCount() const { return endpointNames_.size(); }
    bool queueEmpty() const;

signals:
    void delivered(const QString& endpoint, const QString& id);

private:
    void configure(bool installationRead);

    LauncherCore& core_;
    std::unique_ptr<AlertQueue> queue_;
    QThread* thread_;
    AlertSender* sender_; // lives on thread_
    QStringList endpointNames_;
    std::function<void()> finished_;
    QTimer* tmrFinish_;
    qint64 finishByMs_ = 0;
};
