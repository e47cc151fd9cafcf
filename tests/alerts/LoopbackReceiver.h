#pragma once

#include <QHash>
#include <QList>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

// A webhook receiver on loopback, plain or TLS: it records every request it is sent and answers
// with the status the test chooses, after an optional pause, or with an answer the test wrote
// whole (which may promise more than it sends).
class LoopbackReceiver : public QObject {
public:
    struct Request {
        QByteArray head; // request line and headers
        QByteArray body;
    };
    QList<Request> requests;
    QList<QByteArray> answers; // answered in turn, before the statuses
    QList<int> statuses;       // answered in turn; 200 once they run out
    int pauseMs = 0;

    // A plain receiver; with a key and certificate, a TLS one.
    explicit LoopbackReceiver(const QSslConfiguration* tls = nullptr) {
        if (tls) {
            auto* server = new QSslServer(this);
            server->setSslConfiguration(*tls);
            server_ = server;
        } else {
            server_ = new QTcpServer(this);
        }
        connect(server_, &QTcpServer::pendingConnectionAvailable, this, &LoopbackReceiver::take);
    }
    bool listen(quint16 port = 0) { return server_->listen(QHostAddress::LocalHost, port); }
    void close() { server_->close(); }
    quint16 port() const { return server_->serverPort(); }
    QString url() const {
        return QStringLiteral("%1://127.0.0.1:%2/hook")
            .arg(qobject_cast<QSslServer*>(server_) ? "https" : "http")
            .arg(port());
    }

private:
    void take() {
        while (QTcpSocket* socket = server_->nextPendingConnection())
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
    }
    void read(QTcpSocket* socket) {
        QByteArray& buffer = buffers_[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray head = buffer.left(end);
        qsizetype length = 0;
        for (const QByteArray& line : head.split('\n'))
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        if (buffer.size() < end + 4 + length)
            return;
        requests << Request{head, buffer.mid(end + 4, length)};
        buffer.remove(0, end + 4 + length);
        QByteArray answer;
        if (!answers.isEmpty())
            answer = answers.takeFirst();
        else
            answer = QByteArrayLiteral("HTTP/1.1 ") +
                     QByteArray::number(statuses.isEmpty() ? 200 : statuses.takeFirst()) +
                     QByteArrayLiteral(" X\r\nContent-Length: 0\r\n\r\n");
        QTimer::singleShot(pauseMs, socket, [socket, answer] { socket->write(answer); });
    }
    QTcpServer* server_;
    QHash<QTcpSocket*, QByteArray> buffers_;
};
