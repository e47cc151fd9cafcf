#pragma once

#include <QHash>
#include <QList>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>

// A webhook receiver on loopback, plain or TLS: it records every request it is sent and answers
// with an answer the test wrote whole (which may promise more than it sends), or an empty 200.
class LoopbackReceiver : public QObject {
public:
    struct Request {
        QByteArray head; // request line and headers
        QByteArray body;
    };
    QList<Request> requests;
    QList<QByteArray> answers; // answered in turn; Status(200) once they run out

    static QByteArray Status(int status) {
        return "HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Length: 0\r\n\r\n";
    }

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
        socket->write(answers.isEmpty() ? Status(200) : answers.takeFirst());
    }
    QTcpServer* server_;
    QHash<QTcpSocket*, QByteArray> buffers_;
};
