#pragma once

#include "GuardedTcpServer.h"
#include "ServingThread.h"
#include "StatusSnapshot.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <memory>

class StatusBoard;
class StatusHttpServer;

// Serves the last published status over HTTP from a thread of its own, so that no request ever
// waits for the window and no client can delay it.
class StatusEndpoint {
public:
    StatusEndpoint();
    ~StatusEndpoint();
    StatusEndpoint(const StatusEndpoint&) = delete;
    StatusEndpoint& operator=(const StatusEndpoint&) = delete;

    // Starts serving on the address and port (0: any free port). On failure, serves nothing and
    // returns false with the reason in error.
    bool open(const QHostAddress& address, quint16 port, QString* error,
              GuardedTcpServer::Limits limits = {});
    void close();
    // The bearer token the next open asks of every request for the status; empty for none.
    void requireToken(QByteArray token) { token_ = std::move(token); }
    bool isOpen() const { return server_ != nullptr; }
    // The port served on; 0 while closed.
    quint16 port() const { return port_; }

    void publish(StatusSnapshot snapshot);

private:
    std::shared_ptr<StatusBoard> board_;
    ServingThread thread_;
    StatusHttpServer* server_ = nullptr; // lives in thread_
    quint16 port_ = 0;
    QByteArray token_;
};
