#include "StatusHttpServer.h"

#include "BearerToken.h"
#include "StatusBoard.h"
#include "StatusFormats.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>

namespace {

using Status = QHttpServerResponder::StatusCode;

const QByteArray kPrometheusType = QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8");
const QByteArray kJsonType = QByteArrayLiteral("application/json");
const QByteArray kTextType = QByteArrayLiteral("text/plain; charset=utf-8");

} // namespace

StatusHttpServer::StatusHttpServer(std::shared_ptr<const StatusBoard> board, QByteArray token,
                                   QObject* parent)
    : QAbstractHttpServer(parent), board_(std::move(board)), token_(std::move(token)) {}

bool StatusHttpServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    const QString path = request.url().path();
    const bool metrics = path == QLatin1String("/metrics");
    if (!metrics && path != QLatin1String("/status"))
        return false;
    QHttpServerResponder responder = makeResponder(request, socket);
    // Asked before anything else: a client without the token learns nothing, not even the methods.
    if (!token_.isEmpty() && !CarriesBearerToken(request.value("Authorization"), token_)) {
        responder.write(QByteArrayLiteral("A bearer token is needed here.\n"),
                        {{"Content-Type", kTextType}, {"WWW-Authenticate", "Bearer"}},
                        Status::Unauthorized);
        return true;
    }
    if (request.method() != QHttpServerRequest::Method::Get) {
        responder.write(QByteArrayLiteral("Only GET is served here.\n"),
                        {{"Content-Type", kTextType}, {"Allow", "GET"}}, Status::MethodNotAllowed);
        return true;
    }
    const StatusSnapshot snapshot = board_->latest();
    if (metrics)
        responder.write(PrometheusText(snapshot), kPrometheusType);
    else
        responder.write(StatusJson(snapshot), kJsonType,
                        snapshot.healthy() ? Status::Ok : Status::ServiceUnavailable);
    return true;
}

void StatusHttpServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    makeResponder(request, socket)
        .write(QByteArrayLiteral("Not found. Served here: /metrics and /status.\n"), kTextType,
               Status::NotFound);
}
