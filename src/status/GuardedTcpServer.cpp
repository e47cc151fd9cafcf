#include "GuardedTcpServer.h"

#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

namespace {

constexpr qint64 kRequestLineBytes = 8192;
constexpr qsizetype kMethodBytes = 20;

enum class RequestLine { Incomplete, Valid, Invalid };

// Whether the start of a request is an HTTP/1 request line ("GET /metrics HTTP/1.1"). The HTTP
// layer drops a connection whose request it cannot parse without a word; such a client is
// answered 400 instead.
RequestLine JudgeRequestLine(const QByteArray& start) {
    const qsizetype end = start.indexOf('\n');
    if (end < 0) {
        // Bytes that cannot begin a method ("GET") need no more to be judged, nor a line too long.
        const QByteArray method = start.left(start.indexOf(' '));
        const bool methodLike = std::all_of(method.begin(), method.end(),
                                            [](char c) { return c >= 'A' && c <= 'Z'; }) &&
                                method.size() <= kMethodBytes;
        return methodLike && start.size() < kRequestLineBytes ? RequestLine::Incomplete
                                                              : RequestLine::Invalid;
    }
    static const QRegularExpression line(QStringLiteral("^[A-Z]{1,20} [!-~]+ HTTP/1\\.[01]\r?$"));
    return line.match(QString::fromLatin1(start.left(end))).hasMatch() ? RequestLine::Valid
                                                                       : RequestLine::Invalid;
}

// A client connection that watches what the HTTP layer is handed.
class GuardedSocket : public QTcpSocket {
public:
    GuardedSocket(const GuardedTcpServer::Limits& limits, int& open, QObject* parent)
        : QTcpSocket(parent), limits_(limits), open_(open) {
        ++open_;
        // The timers' own connections: the HTTP layer may drop every connection of the socket.
        idle_.setSingleShot(true);
        idle_.setInterval(limits_.idleMs);
        connect(&idle_, &QTimer::timeout, this, [this] {
            abort();
            deleteLater();
        });
        // Connected before the HTTP layer's own, so this runs first on every read.
        connect(this, &QTcpSocket::readyRead, this, [this] { onReadyRead(); });
        connect(this, &QTcpSocket::bytesWritten, this, [this] {
            sinceAnswer_ = 0;
            lineJudged_ = false;
            idle_.start();
        });
        idle_.start();
    }
    ~GuardedSocket() override { --open_; }

    // Sends a bare answer with no body and closes the connection once it is out. Nothing the
    // peer sends after it reaches the HTTP layer.
    void refuse(const char* statusLine) {
        // Only reading stops: what the HTTP layer does when the connection ends (freeing what it
        // keeps for it) must still happen.
        disconnect(this, &QTcpSocket::readyRead, nullptr, nullptr);
        disconnect(this, &QTcpSocket::bytesWritten, this, nullptr);
        connect(this, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        write(QByteArray(statusLine) + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        disconnectFromHost();
        // A peer that never reads its answer is not waited for.
        idle_.start(2000);
    }

private:
    void onReadyRead() {
        idle_.start();
        sinceAnswer_ += bytesAvailable();
        if (sinceAnswer_ > limits_.requestBytes) {
            readAll(); // the HTTP layer never sees the rest
            refuse("HTTP/1.1 413 Payload Too Large");
            return;
        }
        if (lineJudged_)
            return;
        const RequestLine line = JudgeRequestLine(peek(kRequestLineBytes));
        lineJudged_ = line != RequestLine::Incomplete;
        if (line == RequestLine::Invalid) {
            readAll();
            refuse("HTTP/1.1 400 Bad Request");
        }
    }

    const GuardedTcpServer::Limits& limits_;
    int& open_;
    QTimer idle_;
    qint64 sinceAnswer_ = 0;  // bytes received since the last answer went out
    bool lineJudged_ = false; // the request line since then was complete and valid
};

} // namespace

GuardedTcpServer::GuardedTcpServer(Limits limits, QObject* parent)
    : QTcpServer(parent), limits_(limits) {}

void GuardedTcpServer::incomingConnection(qintptr handle) {
    auto* socket = new GuardedSocket(limits_, open_, this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    if (open_ > limits_.connections) {
        socket->refuse("HTTP/1.1 503 Service Unavailable");
        return;
    }
    addPendingConnection(socket);
}
