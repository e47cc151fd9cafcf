#pragma once

#include <QTcpServer>

// A listening socket that keeps its clients within bounds, whatever they send or do not send:
// a connection quiet for too long is closed, a request too large is refused with 413, one the HTTP
// layer gives up on is answered 400, and connections beyond a limit are refused with 503.
class GuardedTcpServer : public QTcpServer {
    Q_OBJECT
public:
    struct Limits {
        int idleMs = 10000;              // a connection without traffic this long is closed
        qint64 requestBytes = 64 * 1024; // at most this much sent before an answer
        int connections = 256;           // open at once
    };

    explicit GuardedTcpServer(Limits limits, QObject* parent = nullptr);
    int openConnections() const { return open_; }

protected:
    void incomingConnection(qintptr handle) override;

private:
    Limits limits_;
    int open_ = 0;
};
