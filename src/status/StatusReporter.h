#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

class LauncherCore;
class QTimer;
class StatusEndpoint;

// Serves the servers' state to monitoring systems while the operator wants it: a snapshot of the
// core, taken every second and on every change of state, published to an HTTP endpoint that
// answers from a thread of its own. The log says where it serves, or why it cannot.
//
// A port that cannot be had (another program took it first) is tried again, 5 s later and then
// twice as long each time up to 2 minutes, for as long as the operator wants the status served.
// Only the first failure and a change of its reason are logged, and told by notCurrentlyServed;
// serving tells when a try succeeds.
class StatusReporter : public QObject {
    Q_OBJECT
public:
    static constexpr std::int64_t kFirstRetryMs = 5000;
    static constexpr std::int64_t kLongestRetryMs = 120000;

    explicit StatusReporter(LauncherCore& core, QObject* parent = nullptr);
    ~StatusReporter() override;

    // Where to serve ("Status Address" and "Status Port" of the settings), and the bearer token
    // that requests must carry ("status token" of the installation's file alone).
    void loadSettings();
    // The operator's wish: serve, trying again while the port cannot be had, or stop.
    void serve(bool on);
    bool wanted() const { return wanted_; }
    bool serving() const;
    // The port served on; 0 while nothing is served.
    quint16 port() const;
    // Milliseconds of the launcher's clock until the next try; -1 when none is due.
    std::int64_t nextTryInMs() const;
    // The retry timer's handler: tries again once the launcher's clock says it is time.
    void tmrRetry_Timer();

signals:
    // The status is now served (true), or cannot be (false) although the operator wants it.
    void servingChanged(bool serving);
    // A short caption for the operator's eyes: the status cannot be served.
    void notCurrentlyServed(const QString& caption);

private:
    void tryToServe();
    void failedToServe(const QString& error);
    void warnIfOthersCanReadTheToken();
    void publish();
    std::int64_t nowMs() const;

    LauncherCore& core_;
    std::unique_ptr<StatusEndpoint> endpoint_;
    QTimer* tmrPublish_;
    QTimer* tmrRetry_;
    QHostAddress address_;
    quint16 port_ = 0;
    QByteArray token_;
    bool wanted_ = false;
    int failedTries_ = 0; // since the operator last asked, or since serving last ended
    QString lastError_;   // the reason of the last failed try
    std::int64_t retryAtMs_ = 0;
};
