#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <memory>

class StatusBoard;

// Answers GET /metrics and GET /status from the board; any other path is 404, any other method on
// those two paths 405. With a token, those two paths answer only a request that carries it as its
// bearer token, and 401 any other. Nothing served can change anything.
class StatusHttpServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    // An empty token: none is asked for.
    StatusHttpServer(std::shared_ptr<const StatusBoard> board, QByteArray token,
                     QObject* parent = nullptr);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    std::shared_ptr<const StatusBoard> board_;
    const QByteArray token_;
};
