#include "ServingThread.h"

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QTcpServer>
#include <QThread>

ServingThread::ServingThread() = default;

ServingThread::~ServingThread() {
    end();
}

QObject* ServingThread::start(const QString& name, const std::function<QObject*()>& make) {
    end();
    thread_ = std::make_unique<QThread>();
    thread_->setObjectName(name);
    thread_->start();
    auto* anchor = new QObject;
    anchor->moveToThread(thread_.get());
    QObject* made = nullptr;
    QMetaObject::invokeMethod(
        anchor, [&] { made = make(); }, Qt::BlockingQueuedConnection);
    anchor->deleteLater();
    made_ = made;
    if (!made_)
        end();
    return made;
}

void ServingThread::end() {
    if (!thread_)
        return;
    if (QObject* made = made_) {
        QMetaObject::invokeMethod(
            made, [made] { delete made; }, Qt::BlockingQueuedConnection);
        made_ = nullptr;
    }
    thread_->quit();
    thread_->wait();
    thread_.reset();
}

QObject* ServingThread::Listen(QAbstractHttpServer* http, QTcpServer* tcp,
                               const QHostAddress& address, quint16 port, quint16* bound,
                               QString* reason) {
    if (!tcp->listen(address, port)) {
        *reason = tcp->errorString();
        delete http;
        return nullptr;
    }
    http->bind(tcp);
    *bound = tcp->serverPort();
    return http;
}
