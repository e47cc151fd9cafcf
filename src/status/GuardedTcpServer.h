#pragma once

#include <QTcpServer>

// A listening socket that keeps its clients within bounds, whatever they send or do not send: a
// request line that is not HTTP/1 is answered 400, a request too large 413, and a connection
// quiet for too long is closed (with a 408 while a request is due). A client that asks for it
// (HTTP/1.0, "Connection: close") is let go as soon as its answer is out. At the connection limit,
// the connection quiet for longest is closed so that a new one can be taken. A connection upgraded
// to a WebSocket is left to the WebSocket's owner.
class GuardedTcpServer : public QTcpServer {
    Q_OBJECT
public:
    struct Limits {
        int idleMs = 10000;              // after the connection or an answer, for the next request
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
