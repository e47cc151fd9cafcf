#include "WebHttpServer.h"

#include "CheckedFolder.h"
#include "Clock.h"
#include "ControlProtocol.h"
#include "CrashReport.h"
#include "ServerTable.h"
#include "WebRequestRules.h"
#include "WebSocketHub.h"

#include <QFile>
#include <QFileInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QLockFile>
#include <QUrlQuery>
#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

using namespace WebRequestRules;

namespace {

QByteArray Json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray Error(const QString& why) {
    return Json({{QStringLiteral("error"), why}});
}

// The panel's own files, built into the program.
struct PageFile {
    const char* path;
    const char* resource;
    const char* type;
};
constexpr PageFile kPageFiles[] = {
    {"/", ":/web/index.html", "text/html; charset=utf-8"},
    {"/panel.js", ":/web/panel.js", "text/javascript; charset=utf-8"},
    {"/panel.css", ":/web/panel.css", "text/css; charset=utf-8"},
    {"/js/chart.min.js", CORVANE_CHART_JS, "text/javascript; charset=utf-8"},
};

// How long a login waits for corvanectl to finish a change of the accounts.
constexpr int kAccountsLockWaitMs = 2000;

// The most crash reports listed, newest first.
constexpr int kListedCrashReports = 100;

// "start Map Server", "send Map Server: status", as the audit tells it.
QString ActionText(const ControlRequest& r) {
    QStringList names;
    for (const int server : r.servers)
        names << ServerTable::displayNames()[server];
    QString text = r.verb.left(40);
    if (!names.isEmpty())
        text += u' ' + names.join(QStringLiteral(", "));
    if (!r.text.isEmpty())
        text += QStringLiteral(": ") + r.text.left(200);
    if (!r.archive.isEmpty())
        text += QStringLiteral(": ") + r.archive.left(200);
    return text;
}

} // namespace

WebHttpServer::WebHttpServer(const WebConfig& config, Clock& clock, QString accountsFolder,
                             QString accountsFile, Launcher launcher, QObject* parent)
    : QAbstractHttpServer(parent), config_(config), ownOrigins_(OwnOrigins(config)), clock_(clock),
      accountsFolder_(std::move(accountsFolder)), accountsFile_(std::move(accountsFile)),
      launcher_(std::move(launcher)), sessions_(clock), limiter_(clock),
      hub_(new WebSocketHub(*this, clock, this)) {
    refreshAccounts();
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, [this] {
        while (hasPendingWebSocketConnections())
            hub_->adopt(nextPendingWebSocketConnection());
    });
}

int WebHttpServer::livePages() const {
    return hub_->size();
}

bool WebHttpServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    const QString client = ClientAddress(request.remoteAddress().toString(),
                                         request.value("X-Forwarded-For"), config_.trustedProxy);
    const QString path = request.url().path();
    // A WebSocket's upgrade is Qt's to make once taken here, with nothing answered; the live
    // pages' checks follow it (WebSocketHub::adopt).
    if (request.value("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0)
        return true;
    if (!HostAllowed(request.value("Host"), ownOrigins_)) {
        // Another name that resolves to this address: a page of that name may not talk to us.
        send(request, socket,
             {421, Error(QStringLiteral("this panel is not served by that name"))});
        return true;
    }
    if (path.startsWith(QLatin1String("/api/")))
        send(request, socket, api(request, path, client));
    else if (request.method() != QHttpServerRequest::Method::Get)
        send(request, socket, {405, Error(QStringLiteral("only GET is served here"))});
    else
        send(request, socket, page(path));
    return true;
}

void WebHttpServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    send(request, socket, {404, Error(QStringLiteral("not found"))});
}

WebHttpServer::Answer WebHttpServer::page(const QString& path) const {
    for (const PageFile& file : kPageFiles) {
        if (path != QLatin1String(file.path))
            continue;
        QFile resource(QString::fromLatin1(file.resource));
        if (!resource.open(QIODevice::ReadOnly))
            break;
        return {200, resource.readAll(), file.type, {}};
    }
    return {404, Error(QStringLiteral("not found"))};
}

WebHttpServer::Answer WebHttpServer::api(const QHttpServerRequest& request, const QString& path,
                                         const QString& client) {
    using Method = QHttpServerRequest::Method;
    const bool get = request.method() == Method::Get;
    if (!get && request.method() != Method::Post)
        return {405, Error(QStringLiteral("only GET and POST are served here"))};
    QJsonObject body;
    if (!get) {
        // A page of another site may send a form here with the browser's cookie: what does not
        // come from the panel's own pages is refused before anything else is looked at.
        if (!OriginAllowed(request.value("Origin"), ownOrigins_))
            return refuse(403, QStringLiteral("the request does not come from this panel"),
                          QString(), client, path);
        if (!request.value("Content-Type").startsWith("application/json"))
            return {415, Error(QStringLiteral("the request is sent as application/json"))};
        QJsonParseError parsed;
        body = QJsonDocument::fromJson(request.body(), &parsed).object();
        if (parsed.error != QJsonParseError::NoError)
            return {400, Error(QStringLiteral("the request is no JSON object"))};
    }
    if (path == QLatin1String("/api/login"))
        return get ? Answer{405, Error(QStringLiteral("log in with POST"))} : login(body, client);

    refreshAccounts();
    Asker asker{SessionCookie(request.value("Cookie")), nullptr, client};
    asker.session = asker.sessionId.isEmpty() ? nullptr : sessions_.touch(asker.sessionId);
    if (asker.session == nullptr)
        return {401, Error(QStringLiteral("not logged in"))};
    if (get)
        return read(asker, path, request);

    const QString& name = asker.session->account;
    if (!sessions_.csrfMatches(asker.sessionId, request.value("X-CSRF-Token")))
        return refuse(403, QStringLiteral("the request carries no valid CSRF token"), name, client,
                      path);
    if (path == QLatin1String("/api/logout")) {
        audit(name, client, QStringLiteral("logout"), QStringLiteral("done"));
        sessions_.close(asker.sessionId);
        return {200,
                Json({}),
                "application/json",
                {{"Set-Cookie", SetSessionCookie({}, config_.tls())}}};
    }
    if (path == QLatin1String("/api/logout-everywhere")) {
        audit(name, client, QStringLiteral("logout everywhere"), QStringLiteral("done"));
        sessions_.closeAll(QString(name));
        return {200,
                Json({}),
                "application/json",
                {{"Set-Cookie", SetSessionCookie({}, config_.tls())}}};
    }
    if (path == QLatin1String("/api/action"))
        return action(asker, request.body());
    return {404, Error(QStringLiteral("not found"))};
}

WebHttpServer::Answer WebHttpServer::login(const QJsonObject& body, const QString& client) {
    const QString name = body.value(QStringLiteral("name")).toString();
    const QByteArray password = body.value(QStringLiteral("password")).toString().toUtf8();
    // The name as asked, bounded: it goes into the audit before it is known to be an account's.
    const QString named = name.left(64);
    if (const std::int64_t wait = limiter_.waitMs(client, named); wait > 0) {
        audit(named, client, QStringLiteral("login"), QStringLiteral("refused: too many failures"));
        return {429,
                Error(QStringLiteral("too many failed logins: try again in %1 s")
                          .arg((wait + 999) / 1000)),
                "application/json",
                {{"Retry-After", QByteArray::number((wait + 999) / 1000)}}};
    }
    refreshAccounts();
    if (!accountsProblem_.isEmpty()) {
        audit(named, client, QStringLiteral("login"),
              QStringLiteral("failed: ") + accountsProblem_);
        return {503, Error(QStringLiteral("the panel's accounts cannot be read"))};
    }
    const std::optional<WebRole> role = accounts_.check(name, password);
    if (!role) {
        limiter_.failed(client, named);
        audit(named, client, QStringLiteral("login"),
              QStringLiteral("refused: wrong name or password"));
        // Never which of the two was wrong.
        return {401, Error(QStringLiteral("wrong name or password"))};
    }
    // The second factor is asked for only once the password was right, and says only whether
    // the code was.
    bool recoveryUsed = false;
    const QString code = body.value(QStringLiteral("code")).toString().left(64);
    const SecondFactor second = accounts_.checkSecondFactor(name, code, clock_.EpochMs() / 1000,
                                                            &lastTotpSteps_[name], &recoveryUsed);
    if (second == SecondFactor::Missing || second == SecondFactor::Wrong) {
        if (second == SecondFactor::Wrong)
            limiter_.failed(client, named);
        audit(name, client, QStringLiteral("login"),
              second == SecondFactor::Wrong ? QStringLiteral("refused: wrong code")
                                            : QStringLiteral("refused: the code is needed"));
        return {401, Json({{QStringLiteral("error"), second == SecondFactor::Wrong
                                                         ? QStringLiteral("wrong code")
                                                         : QStringLiteral("the code is needed")},
                           {QStringLiteral("code_needed"), true}})};
    }
    if (recoveryUsed) {
        QString why;
        if (!useRecoveryCode(name, code, &why)) {
            audit(name, client, QStringLiteral("login"), QStringLiteral("failed: ") + why);
            return {503, Error(QStringLiteral("the recovery code could not be used up"))};
        }
        audit(name, client, QStringLiteral("recovery code"), QStringLiteral("used up"));
    }
    limiter_.succeeded(client, named);
    const QByteArray id = sessions_.open(name, *role, client);
    if (id.isEmpty()) {
        audit(named, client, QStringLiteral("login"), QStringLiteral("failed: no random numbers"));
        return {503, Error(QStringLiteral("no session can be opened now"))};
    }
    audit(name, client, QStringLiteral("login"), QStringLiteral("done"));
    Answer answer = sessionAnswer(*sessions_.touch(id));
    answer.headers.append({"Set-Cookie", SetSessionCookie(id, config_.tls())});
    return answer;
}

WebHttpServer::Answer WebHttpServer::sessionAnswer(const WebSessions::Session& session) const {
    return {200, Json({{QStringLiteral("name"), session.account},
                       {QStringLiteral("role"), WebAccounts::RoleName(session.role)},
                       {QStringLiteral("csrf"), QString::fromLatin1(session.csrfToken)}})};
}

WebHttpServer::Answer WebHttpServer::read(const Asker& asker, const QString& path,
                                          const QHttpServerRequest& request) {
    if (path == QLatin1String("/api/session"))
        return sessionAnswer(*asker.session);
    const QUrlQuery query = request.query();
    const int lines = query.hasQueryItem(QStringLiteral("n"))
                          ? query.queryItemValue(QStringLiteral("n")).toInt()
                          : 200;
    if (path == QLatin1String("/api/audit")) {
        if (asker.session->role != WebRole::Admin)
            return refuse(403, QStringLiteral("the audit log is for admins"),
                          asker.session->account, asker.client, QStringLiteral("audit log"));
        return {200, QJsonDocument(launcher_.auditLog(qBound(1, lines, WebAudit::kKeptInMemory)))
                         .toJson(QJsonDocument::Compact)};
    }
    if (path == QLatin1String("/api/status") && launcher_.status)
        return {200, launcher_.status()};
    if (path == QLatin1String("/api/history") && launcher_.history)
        return {200, launcher_.history()};
    if (path == QLatin1String("/api/users")) {
        if (asker.session->role != WebRole::Admin)
            return refuse(403, QStringLiteral("the accounts are for admins"),
                          asker.session->account, asker.client, QStringLiteral("accounts"));
        QJsonArray users;
        for (const WebAccount& a : accounts_.accounts())
            users.append(QJsonObject{{QStringLiteral("name"), a.name},
                                     {QStringLiteral("role"), WebAccounts::RoleName(a.role)}});
        return {200, QJsonDocument(users).toJson(QJsonDocument::Compact)};
    }
    if (path == QLatin1String("/api/crashes")) {
        const QString name = query.queryItemValue(QStringLiteral("name"));
        if (name.isEmpty()) {
            QJsonArray reports;
            for (const CrashReportEntry& r :
                 ListCrashReports(launcher_.logsFolder, kListedCrashReports))
                reports.append(QJsonObject{{QStringLiteral("name"), r.name},
                                           {QStringLiteral("server"), r.server}});
            return {200, QJsonDocument(reports).toJson(QJsonDocument::Compact)};
        }
        QString text, why;
        if (!ReadCrashReport(launcher_.logsFolder, name, &text, &why))
            return {404, Error(why)};
        return {200, Json({{QStringLiteral("name"), name}, {QStringLiteral("text"), text}})};
    }
    static const QHash<QString, QString> kReads{
        {QStringLiteral("/api/log"), QStringLiteral("log")},
        {QStringLiteral("/api/console"), QStringLiteral("console")},
        {QStringLiteral("/api/backups"), QStringLiteral("backups")},
        {QStringLiteral("/api/schedule"), QStringLiteral("schedule")}};
    const QString verb = kReads.value(path);
    if (verb.isEmpty())
        return {404, Error(QStringLiteral("not found"))};
    QJsonObject asked{{QStringLiteral("verb"), verb},
                      {QStringLiteral("lines"), qBound(1, lines, ControlRequest::kMaxLines)}};
    if (const QString server = query.queryItemValue(QStringLiteral("server")); !server.isEmpty())
        asked.insert(QStringLiteral("servers"), QJsonArray{server});
    const ControlRequest r = ControlRequest::Parse(Json(asked));
    if (!r.refusal.isEmpty())
        return {400, Error(r.refusal)};
    return {200, launcher_.ask(r, asker.session->account)};
}

WebHttpServer::Answer WebHttpServer::action(const Asker& asker, const QByteArray& body) {
    const WebSessions::Session& session = *asker.session;
    ControlRequest r = ControlRequest::Parse(body);
    if (!r.refusal.isEmpty())
        return {400, Error(r.refusal)};
    r.follow = false; // a follow streams on the control socket only
    const QString what = ActionText(r);
    if (!RoleFor(r.verb))
        return {400, Error(QStringLiteral("no such verb"))};
    if (!MayAsk(session.role, r.verb))
        return refuse(403,
                      QStringLiteral("%1 needs the role %2")
                          .arg(r.verb, WebAccounts::RoleName(*RoleFor(r.verb))),
                      session.account, asker.client, what);
    if (!withinActionLimit(asker.sessionId))
        return refuse(429, QStringLiteral("too many actions at once: wait a few seconds"),
                      session.account, asker.client, what);
    const QString who = QStringLiteral("%1 (web from %2)").arg(session.account, asker.client);
    const QByteArray answer = launcher_.ask(r, who);
    const QJsonObject answered = QJsonDocument::fromJson(answer).object();
    const bool ok = answered.value(QStringLiteral("ok")).toBool();
    const QString message = answered.value(QStringLiteral("message")).toString();
    if (*RoleFor(r.verb) != WebRole::Viewer)
        audit(session.account, asker.client, ActionText(r),
              ok ? QStringLiteral("done") : QStringLiteral("refused: ") + message);
    return {ok ? 200 : 409, answer};
}

WebHttpServer::Answer WebHttpServer::refuse(int status, const QString& why, const QString& who,
                                            const QString& client, const QString& what) {
    audit(who.isEmpty() ? QStringLiteral("-") : who, client, what,
          QStringLiteral("refused: ") + why);
    return {status, Error(why)};
}

void WebHttpServer::audit(const QString& who, const QString& client, const QString& what,
                          const QString& outcome) {
    if (launcher_.audit)
        launcher_.audit({clock_.EpochMs(), QStringLiteral("web"), who, client, what, outcome});
}

void WebHttpServer::refreshAccounts() {
    const QFileInfo info(accountsFolder_ + u'/' + accountsFile_);
    if (info.exists() == (accountsSize_ >= 0) && info.lastModified() == accountsModified_ &&
        info.size() == accountsSize_)
        return;
    accountsModified_ = info.lastModified();
    accountsSize_ = info.exists() ? info.size() : -1;
    const QList<WebAccount> before = accounts_.accounts();
    WebAccounts fresh;
    QString why;
    const std::unique_ptr<CheckedFolder> folder = CheckedFolder::Open(accountsFolder_, false, &why);
    accountsProblem_.clear();
    if (!folder || !fresh.load(*folder, accountsFile_, &why)) {
        accountsProblem_ = why;
        fresh = WebAccounts();
    }
    accounts_ = std::move(fresh);
    if (std::exchange(accountsRead_, true))
        auditAccountChanges(before);
    // A password changed, a role changed, an account removed: its sessions end now.
    for (const WebAccount& old : before) {
        const WebAccount* now = accounts_.find(old.name);
        if (now == nullptr || now->hash != old.hash || now->role != old.role)
            sessions_.closeAll(old.name);
    }
}

// The accounts are changed with corvanectl, by the launcher's user, in their file: what changed
// is audited as the file is read again.
void WebHttpServer::auditAccountChanges(const QList<WebAccount>& before) {
    const QString user = qEnvironmentVariable("USER", QStringLiteral("-"));
    const auto tell = [&](const QString& what) {
        if (launcher_.audit)
            launcher_.audit({clock_.EpochMs(), QStringLiteral("corvanectl"), user,
                             QStringLiteral("the accounts' file"), what, QStringLiteral("done")});
    };
    for (const WebAccount& old : before) {
        const WebAccount* now = accounts_.find(old.name);
        if (now == nullptr) {
            tell(QStringLiteral("remove account ") + old.name);
            continue;
        }
        if (now->role != old.role)
            tell(QStringLiteral("make %1 %2").arg(old.name, WebAccounts::RoleName(now->role)));
        if (now->hash != old.hash)
            tell(QStringLiteral("change the password of ") + old.name);
        if (now->totpSecret != old.totpSecret)
            tell((now->totpSecret.isEmpty() ? QStringLiteral("take the second factor of ")
                                            : QStringLiteral("give a new second factor to ")) +
                 old.name);
    }
    for (const WebAccount& added : accounts_.accounts())
        if (std::none_of(before.begin(), before.end(),
                         [&](const WebAccount& a) { return a.name == added.name; }))
            tell(QStringLiteral("add account %1 (%2)")
                     .arg(added.name, WebAccounts::RoleName(added.role)));
}

// A recovery code is good once: it leaves the accounts' file before its session opens. Under the
// lock corvanectl takes, so that neither writes the file without the other's change.
bool WebHttpServer::useRecoveryCode(const QString& name, const QString& code, QString* why) {
    QLockFile lock(accountsFolder_ + u'/' + accountsFile_ + QStringLiteral(".lock"));
    if (!lock.tryLock(kAccountsLockWaitMs)) {
        *why = QStringLiteral("the accounts are being changed");
        return false;
    }
    const std::unique_ptr<CheckedFolder> folder = CheckedFolder::Open(accountsFolder_, false, why);
    WebAccounts fresh;
    if (!folder || !fresh.load(*folder, accountsFile_, why))
        return false;
    qint64 noCodeOfNow = std::numeric_limits<qint64>::max();
    bool used = false;
    if (fresh.checkSecondFactor(name, code, 0, &noCodeOfNow, &used) != SecondFactor::Passed ||
        !used) {
        *why = QStringLiteral("the code is no longer in the accounts' file");
        return false;
    }
    return fresh.save(*folder, accountsFile_, why);
}

bool WebHttpServer::withinActionLimit(const QByteArray& sessionId) {
    const qint64 now = clock_.NowMs();
    QList<qint64>& times = actionTimes_[sessionId];
    while (!times.isEmpty() && now - times.first() >= kActionWindowMs)
        times.removeFirst();
    if (times.size() >= kMostActions)
        return false;
    times.append(now);
    if (actionTimes_.size() > 1000)
        actionTimes_.erase(actionTimes_.begin());
    return true;
}

void WebHttpServer::send(const QHttpServerRequest& request, QTcpSocket* socket,
                         const Answer& answer) {
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(QHttpServerResponder::StatusCode(answer.status));
    responder.writeHeader("Content-Type", answer.type);
    responder.writeHeader("Content-Length", QByteArray::number(answer.body.size()));
    for (const auto& [name, value] : SecurityHeaders())
        responder.writeHeader(name, value);
    for (const auto& [name, value] : answer.headers)
        responder.writeHeader(name, value);
    responder.writeBody(answer.body);
}
