#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <memory>

class LauncherCore;
class QTimer;
class StatusEndpoint;

// Serves the servers' state to monitoring systems while asked to: a snapshot of the core, taken
// every second and on every change of state, published to an HTTP endpoint that answers from a
// thread of its own. The log says where it serves, or why it cannot.
class StatusReporter : public QObject {
    Q_OBJECT
public:
    explicit StatusReporter(LauncherCore& core, QObject* parent = nullptr);
    ~StatusReporter() override;

    // Where to serve ("Status Address" and "Status Port" of the settings), and the bearer token
    // that requests must carry ("status token" of the installation's file alone).
    void loadSettings();
    // Starts or stops serving.
    void serve(bool on);
    // The port served on; 0 while nothing is served.
    quint16 port() const;

private:
    void warnIfOthersCanReadTheToken();
    void publish();

    LauncherCore& core_;
    std::unique_ptr<StatusEndpoint> endpoint_;
    QTimer* tmrPublish_;
    QHostAddress address_;
    quint16 port_ = 0;
    QByteArray token_;
};
