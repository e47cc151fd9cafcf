#include "WebPanel.h"

#include "ControlProtocol.h"
#include "GuardedTcpServer.h"
#include "HistoryRecords.h"
#include "LauncherCore.h"
#include "OperatorFile.h"
#include "WebConfig.h"
#include "WebFeed.h"
#include "WebHistory.h"
#include "WebHttpServer.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QSemaphore>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>

namespace {

// A TLS handshake: at most this long.
constexpr int kHandshakeMs = 10000;
// The history is read on a thread of its own: at most this long, and again at most that often.
constexpr int kHistoryMostMs = 10000;
constexpr qint64 kHistoryFreshMs = 5000;
// A certificate or key file: at most this large.
constexpr qint64 kMostPemBytes = 1024 * 1024;

bool ReadPem(const QString& path, QByteArray* data, QString* why) {
    return ReadOperatorFile(path, kMostPemBytes, data, why);
}

bool TlsConfiguration(const WebConfig& config, QSslConfiguration* tls, QString* why) {
    QByteArray certificate, key;
    if (!ReadPem(config.certificateFile, &certificate, why) || !ReadPem(config.keyFile, &key, why))
        return false;
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certificate, QSsl::Pem);
    QSslKey privateKey(key, QSsl::Ec, QSsl::Pem);
    if (privateKey.isNull())
        privateKey = QSslKey(key, QSsl::Rsa, QSsl::Pem);
    if (chain.isEmpty() || privateKey.isNull()) {
        *why = chain.isEmpty() ? config.certificateFile + QStringLiteral(": no PEM certificate")
                               : config.keyFile + QStringLiteral(": no PEM private key");
        return false;
    }
    *tls = QSslConfiguration::defaultConfiguration();
    tls->setLocalCertificateChain(chain);
    tls->setPrivateKey(privateKey);
    tls->setProtocol(QSsl::TlsV1_2OrLater);
    tls->setPeerVerifyMode(QSslSocket::VerifyNone);
    return true;
}

} // namespace

WebPanel::WebPanel(LauncherCore& core, Clock& clock, QObject* parent)
    : QObject(parent), core_(core), clock_(clock), verbs_(core) {}

WebPanel::~WebPanel() {
    close();
}

bool WebPanel::open(const WebConfig& config, const QString& accountsFolder,
                    const QString& accountsFile, QString* why) {
    close();
    QSslConfiguration tls;
    if (config.tls() && !TlsConfiguration(config, &tls, why))
        return false;
    const QHostAddress address(config.address);
    WebHttpServer::Launcher launcher;
    launcher.ask = [this](const ControlRequest& request, const QString& who) {
        return onLauncherThread(
            [this, request, who] { return verbs_.handle(request, who).answer; });
    };
    launcher.audit = [this](AuditEntry entry) {
        QMetaObject::invokeMethod(
            this, [this, entry] { core_.audit().record(entry); }, Qt::QueuedConnection);
    };
    launcher.auditLog = [this](int count) {
        return QJsonDocument::fromJson(onLauncherThread([this, count] {
                   return QJsonDocument(audit_->newest(count)).toJson(QJsonDocument::Compact);
               }))
            .array();
    };
    launcher.feed = [this](const QHash<int, quint64>& consoles, quint64 logFrom, bool withStatus) {
        return onLauncherThread([this, consoles, logFrom, withStatus] {
            return WebFeed::Take(core_, consoles, logFrom, withStatus, consoleVersions_);
        });
    };
    launcher.status = [this] {
        return onLauncherThread([this] {
            return QJsonDocument(WebFeed::Status(core_)).toJson(QJsonDocument::Compact);
        });
    };
    launcher.logsFolder = core_.log().folder();
    launcher.history = [this] {
        return onLauncherThread(
            [this](const Reply& reply) {
                // Every open page asks every few seconds: one reading serves them all a while.
                const qint64 now = clock_.NowMs();
                if (!history_ ||
                    (!historyJson_.isEmpty() && now - historyReadMs_ < kHistoryFreshMs))
                    return reply(history_ ? historyJson_ : WebHistory::Json({}));
                history_(this, [this, reply, now](const HistoryView& view) {
                    historyJson_ = WebHistory::Json(view);
                    historyReadMs_ = now;
                    reply(historyJson_);
                });
            },
            kHistoryMostMs);
    };
    audit_ = std::make_unique<WebAudit>(core_.log().folder(), core_.log().maxBytes(),
                                        core_.log().kept());
    connect(&core_.audit(), &ActionAudit::recorded, this, &WebPanel::record, Qt::UniqueConnection);
    closing_ = false;
    consoleVersions_ = {};
    QString reason;
    server_ =
        static_cast<WebHttpServer*>(thread_.start(QStringLiteral("web panel"), [&]() -> QObject* {
            auto* http = new WebHttpServer(config, clock_, accountsFolder, accountsFile, launcher);
            // Over TLS the handshake comes first, within its own time limit; plain, every
            // connection is kept within GuardedTcpServer's bounds.
            QTcpServer* tcp = nullptr;
            if (config.tls()) {
                auto* ssl = new QSslServer(http);
                ssl->setSslConfiguration(tls);
                ssl->setHandshakeTimeout(kHandshakeMs);
                tcp = ssl;
            } else {
                tcp = new GuardedTcpServer({}, http);
            }
            return ServingThread::Listen(http, tcp, address, quint16(config.port), &port_, &reason);
        }));
    if (server_)
        return true;
    close();
    *why = reason;
    return false;
}

void WebPanel::close() {
    // The panel's thread may be waiting for this one: it gives up once it sees this.
    closing_ = true;
    thread_.end();
    server_ = nullptr;
    port_ = 0;
}

void WebPanel::record(const AuditEntry& entry) {
    if (audit_)
        audit_->record(entry);
}

QByteArray WebPanel::onLauncherThread(std::function<QByteArray()> work) {
    return onLauncherThread([work = std::move(work)](const Reply& reply) { reply(work()); }, -1);
}

QByteArray WebPanel::onLauncherThread(std::function<void(const Reply& reply)> work, int mostMs) {
    struct Pending {
        QSemaphore done;
        QByteArray answer;
    };
    auto pending = std::make_shared<Pending>();
    QMetaObject::invokeMethod(
        this,
        [pending, work = std::move(work)] {
            work([pending](QByteArray answer) {
                pending->answer = std::move(answer);
                pending->done.release();
            });
        },
        Qt::QueuedConnection);
    // Never a wait without end: the launcher closing the panel waits for this thread in turn.
    QDeadlineTimer deadline(mostMs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(mostMs));
    while (!pending->done.tryAcquire(1, 100)) {
        if (closing_)
            return ControlAnswer::Refused(QStringLiteral("the launcher is ending"));
        if (deadline.hasExpired())
            return ControlAnswer::Refused(QStringLiteral("the launcher did not answer in time"));
    }
    return pending->answer;
}
