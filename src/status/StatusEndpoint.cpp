#include "StatusEndpoint.h"

#include "StatusBoard.h"
#include "StatusHttpServer.h"

#include <QThread>

StatusEndpoint::StatusEndpoint() : board_(std::make_shared<StatusBoard>()) {}

StatusEndpoint::~StatusEndpoint() {
    close();
}

bool StatusEndpoint::open(const QHostAddress& address, quint16 port, QString* error,
                          GuardedTcpServer::Limits limits) {
    close();
    thread_ = std::make_unique<QThread>();
    thread_->setObjectName(QStringLiteral("status endpoint"));
    thread_->start();
    // Made and bound on the serving thread, so that every socket belongs to it; binding takes
    // microseconds, so waiting for it here is no wait for the window.
    QString reason;
    StatusHttpServer* server = nullptr;
    auto* anchor = new QObject;
    anchor->moveToThread(thread_.get());
    QMetaObject::invokeMethod(
        anchor,
        [&] {
            auto* http = new StatusHttpServer(board_, token_);
            auto* tcp = new GuardedTcpServer(limits, http);
            if (!tcp->listen(address, port)) {
                reason = tcp->errorString();
                delete http;
                return;
            }
            http->bind(tcp);
            port_ = tcp->serverPort();
            server = http;
        },
        Qt::BlockingQueuedConnection);
    anchor->deleteLater();
    server_ = server;
    if (server_)
        return true;
    close();
    if (error)
        *error = reason;
    return false;
}

void StatusEndpoint::close() {
    if (!thread_)
        return;
    if (server_) {
        StatusHttpServer* server = server_;
        QMetaObject::invokeMethod(
            server, [server] { delete server; }, Qt::BlockingQueuedConnection);
        server_ = nullptr;
    }
    thread_->quit();
    thread_->wait();
    thread_.reset();
    port_ = 0;
}

void StatusEndpoint::publish(StatusSnapshot snapshot) {
    board_->publish(std::move(snapshot));
}
