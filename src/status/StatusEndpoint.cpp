#include "StatusEndpoint.h"

#include "StatusBoard.h"
#include "StatusHttpServer.h"

StatusEndpoint::StatusEndpoint() : board_(std::make_shared<StatusBoard>()) {}

StatusEndpoint::~StatusEndpoint() {
    close();
}

bool StatusEndpoint::open(const QHostAddress& address, quint16 port, QString* error,
                          GuardedTcpServer::Limits limits) {
    close();
    QString reason;
    server_ = static_cast<StatusHttpServer*>(
        thread_.start(QStringLiteral("status endpoint"), [&]() -> QObject* {
            auto* http = new StatusHttpServer(board_, token_);
            return ServingThread::Listen(http, new GuardedTcpServer(limits, http), address, port,
                                         &port_, &reason);
        }));
    if (server_)
        return true;
    port_ = 0;
    if (error)
        *error = reason;
    return false;
}

void StatusEndpoint::close() {
    thread_.end();
    server_ = nullptr;
    port_ = 0;
}

void StatusEndpoint::publish(StatusSnapshot snapshot) {
    board_->publish(std::move(snapshot));
}
