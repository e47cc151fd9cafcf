#pragma once

#include <QAbstractHttpServer>
#include <memory>

class StatusBoard;

// Answers GET /metrics and GET /status from the board; any other path is 404, any other method on
// those two paths 405. Nothing served can change anything.
class StatusHttpServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    explicit StatusHttpServer(std::shared_ptr<const StatusBoard> board, QObject* parent = nullptr);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    std::shared_ptr<const StatusBoard> board_;
};
