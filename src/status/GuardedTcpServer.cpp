#include "GuardedTcpServer.h"

#include "HttpRequestHead.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

namespace {

// How long a connection being closed may take to receive its last answer.
constexpr int kLastAnswerMs = 2000;

// A client connection that watches what the HTTP layer is handed.
class GuardedSocket : public QTcpSocket {
public:
    GuardedSocket(const GuardedTcpServer::Limits& limits, int& open, QObject* parent)
        : QTcpSocket(parent), limits_(limits), open_(open) {
        ++open_;
        // The timer's own connection: the HTTP layer may drop every connection of the socket.
        idle_.setSingleShot(true);
        connect(&idle_, &QTimer::timeout, this, [this] { letGo(); });
        // Connected before the HTTP layer's own, so this runs first on every read.
        connect(this, &QTcpSocket::readyRead, this, [this] { onReadyRead(); });
        connect(this, &QTcpSocket::bytesWritten, this, [this] {
            const bool close = WantsCloseAfterAnswer(request_);
            request_.clear();
            lineJudged_ = false;
            answered_ = true;
            noteActivity();
            // The whole answer is in the socket's buffer by now: it goes out before the close.
            if (close)
                end(nullptr);
        });
        noteActivity();
    }
    ~GuardedSocket() override { --open_; }

    bool ending() const { return ending_; }
    // Upgraded to a WebSocket: what it carries is no longer HTTP, and its WebSocket's owner
    // keeps it within bounds.
    bool handedOver() const { return handedOver_; }
    qint64 quietMs() const { return quiet_.elapsed(); }

    // Ends the connection for having been quiet: with a 408 while a request is due, without a
    // word after an answer (a client that keeps its connection for the next request).
    void letGo() {
        if (handedOver_)
            return;
        if (ending_) {
            abort(); // a peer that never takes its last answer is not waited for
            deleteLater();
        } else {
            end(answered_ && request_.isEmpty() ? nullptr : "HTTP/1.1 408 Request Timeout");
        }
    }

    // Sends a bare answer with no body, if any, and closes the connection once it is out.
    // Nothing the peer sends after it reaches the HTTP layer.
    void end(const char* statusLine) {
        ending_ = true;
        // Only reading stops: what the HTTP layer does when the connection ends (freeing what it
        // keeps for it) must still happen.
        disconnect(this, &QTcpSocket::readyRead, nullptr, nullptr);
        disconnect(this, &QTcpSocket::bytesWritten, this, nullptr);
        connect(this, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        if (statusLine)
            write(QByteArray(statusLine) + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        disconnectFromHost();
        idle_.start(kLastAnswerMs);
    }

protected:
    qint64 writeData(const char* data, qint64 size) override {
        // The upgrade's answer: from here on the WebSocket server reads and writes the socket,
        // having taken every connection of its signals.
        if (!handedOver_ && !ending_ && QByteArrayView(data, size).startsWith("HTTP/1.1 101 ")) {
            handedOver_ = true;
            idle_.stop();
        }
        return QTcpSocket::writeData(data, size);
    }

private:
    void noteActivity() {
        quiet_.start();
        idle_.start(limits_.idleMs);
    }
    void onReadyRead() {
        // Reading does not put the deadline off: a request trickling in a byte at a time must
        // still be complete within the quiet time after the connection or the last answer.
        quiet_.start();
        if (request_.size() + bytesAvailable() > limits_.requestBytes) {
            readAll(); // the HTTP layer never sees the rest
            end("HTTP/1.1 413 Payload Too Large");
            return;
        }
        // The HTTP layer takes all that has arrived whenever it reads, so what is unread now came
        // since the last read. The request is judged whole: its line may come in pieces.
        request_ += peek(bytesAvailable());
        if (lineJudged_)
            return;
        const RequestLine line = JudgeRequestLine(request_.left(kRequestLineBytes));
        lineJudged_ = line != RequestLine::Incomplete;
        if (line == RequestLine::Invalid) {
            readAll();
            end("HTTP/1.1 400 Bad Request");
        }
    }

    const GuardedTcpServer::Limits& limits_;
    int& open_;
    QTimer idle_;
    QElapsedTimer quiet_;     // since the last byte either way
    QByteArray request_;      // received since the last answer went out, at most requestBytes
    bool lineJudged_ = false; // the request line since then was complete and valid
    bool answered_ = false;   // an answer went out
    bool ending_ = false;     // closing; its last answer may still be on its way
    bool handedOver_ = false; // upgraded to a WebSocket
};

} // namespace

GuardedTcpServer::GuardedTcpServer(Limits limits, QObject* parent)
    : QTcpServer(parent), limits_(limits) {}

void GuardedTcpServer::incomingConnection(qintptr handle) {
    // At the limit, the connection quiet for longest makes room: clients that only hold
    // connections cannot lock out those that ask.
    if (open_ >= limits_.connections) {
        GuardedSocket* quietest = nullptr;
        for (QTcpSocket* socket : findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly)) {
            auto* guarded = dynamic_cast<GuardedSocket*>(socket);
            if (guarded && !guarded->ending() && !guarded->handedOver() &&
                (!quietest || guarded->quietMs() > quietest->quietMs()))
                quietest = guarded;
        }
        if (quietest)
            quietest->letGo();
    }
    auto* socket = new GuardedSocket(limits_, open_, this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    addPendingConnection(socket);
}
