// The web panel over HTTP, on a launcher core with a pretend operating system: what every answer
// carries, the login and its limits, the roles checked by the launcher for each request, and the
// requests of other sites refused, each refusal audited.
#include "CheckedFolder.h"
#include "ControlVerbs.h"
#include "CoreHarness.h"
#include "GuardedTcpServer.h"
#include "LoginLimiter.h"
#include "TestFiles.h"
#include "TotpCode.h"
#include "WebAccounts.h"
#include "WebConfig.h"
#include "WebFeed.h"
#include "WebHttpServer.h"
#include "WebPanel.h"
#include "WebSocketHub.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebSocket>
#include <sodium.h>

namespace {

struct Answer {
    int status = 0;
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

constexpr char kOrigin[] = "http://panel.test";
constexpr char kHost[] = "panel.test";
// How long a connection of the live tests may be quiet.
constexpr int kIdleMs = 300;

// A browser that asks the panel on the port by hand, with one session's cookie and token.
struct Browser {
    quint16 port = 0;
    QByteArray cookie, csrf;

    Answer http(const QByteArray& method, const QByteArray& path, const QByteArray& body = {},
                QList<QPair<QByteArray, QByteArray>> headers = {}) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(5000))
            return {};
        QByteArray request = method + ' ' + path + " HTTP/1.0\r\n";
        if (std::none_of(headers.begin(), headers.end(),
                         [](const auto& h) { return h.first == "Host"; }))
            headers.prepend({"Host", kHost});
        for (const auto& [name, value] : headers)
            request += name + ": " + value + "\r\n";
        request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        socket.write(request);
        QByteArray raw;
        // The panel may answer on this thread, and the verbs it asks are taken on this one.
        for (int i = 0; i < 500 && socket.state() == QAbstractSocket::ConnectedState; ++i) {
            socket.waitForReadyRead(10);
            QCoreApplication::processEvents();
            raw += socket.readAll();
        }
        raw += socket.readAll();
        Answer answer;
        const qsizetype end = raw.indexOf("\r\n\r\n");
        const QList<QByteArray> head = raw.left(end).split('\n');
        answer.status = head.value(0).split(' ').value(1).toInt();
        for (const QByteArray& line : head.mid(1))
            if (const qsizetype colon = line.indexOf(':'); colon > 0)
                answer.headers.insert(line.left(colon).toLower(), line.mid(colon + 1).trimmed());
        answer.body = raw.mid(end + 4);
        return answer;
    }
    // A request of the panel's page: its origin, the session's cookie and CSRF token.
    Answer post(const QByteArray& path, const QJsonObject& body, const QByteArray& origin = kOrigin,
                bool withToken = true) {
        QList<QPair<QByteArray, QByteArray>> headers{{"Content-Type", "application/json"},
                                                     {"Origin", origin}};
        if (!cookie.isEmpty())
            headers.append({"Cookie", "theme=dark; corvane_session=" + cookie});
        if (withToken)
            headers.append({"X-CSRF-Token", csrf});
        return http("POST", path, QJsonDocument(body).toJson(QJsonDocument::Compact), headers);
    }
    Answer get(const QByteArray& path) {
        return http("GET", path, {}, {{"Cookie", "corvane_session=" + cookie}});
    }
    Answer login(const QString& name, const QString& password, const QString& code = {}) {
        cookie.clear();
        const Answer a =
            post("/api/login", {{"name", name}, {"password", password}, {"code", code}});
        if (a.status == 200) {
            const QByteArray set = a.headers.value("set-cookie");
            cookie = set.mid(set.indexOf('=') + 1, 64);
            csrf = a.json().value("csrf").toString().toLatin1();
        }
        return a;
    }
};

// Three accounts in a private folder of the test's.
void AddAccounts(const QString& folder) {
    WebAccounts accounts;
    accounts.setHashCost(crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN);
    QString why;
    for (const auto& [name, role] :
         {std::pair("ada", WebRole::Admin), std::pair("ola", WebRole::Operator),
          std::pair("vic", WebRole::Viewer)})
        QVERIFY2(accounts.add(name, role, QByteArray(name) + "-password", &why), qPrintable(why));
    QVERIFY(accounts.save(*CheckedFolder::Open(folder, false, &why), "users", &why));
}

WebConfig TestConfig() {
    WebConfig config;
    config.on = true;
    config.port = 0; // any free one
    config.origin = kOrigin;
    return config;
}

// A launcher online with its panel on the panel's own thread.
struct Panel : Browser {
    CoreHarness h;
    QTemporaryDir state, logs;
    WebPanel panel{h.core(), h.clock};

    Panel() {
        h.startedCore();
        h.core().UseLogFolder(logs.path(), QString());
        AddAccounts(state.path());
        QString why;
        QVERIFY2(panel.open(TestConfig(), state.path(), "users", &why), qPrintable(why));
        port = panel.port();
    }
    QStringList audit() {
        QCoreApplication::processEvents(); // the entries are recorded on this thread
        QFile file(logs.path() + "/audit.log");
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n')
                                              : QStringList();
    }
};

// The panel's server on this thread, over a launcher online, so that the test's clock drives
// its ticks; what it audits is kept here.
struct Live : Browser {
    CoreHarness h;
    QTemporaryDir state;
    ControlVerbs verbs{h.core()};
    WebFeed::ConsoleVersions versions;
    QStringList audited;
    std::unique_ptr<WebHttpServer> server;

    Live() {
        h.startedCore();
        AddAccounts(state.path());
        WebHttpServer::Launcher launcher;
        launcher.ask = [this](const ControlRequest& r, const QString& who) {
            return verbs.handle(r, who).answer;
        };
        launcher.audit = [this](const AuditEntry& e) { audited << e.line(); };
        launcher.feed = [this](const QHash<int, quint64>& consoles, quint64 from, bool full) {
            return WebFeed::Take(h.core(), consoles, from, full, versions);
        };
        launcher.status = [this] { return QJsonDocument(WebFeed::Status(h.core())).toJson(); };
        server =
            std::make_unique<WebHttpServer>(TestConfig(), h.clock, state.path(), "users", launcher);
        GuardedTcpServer::Limits limits;
        limits.idleMs = kIdleMs;
        auto* tcp = new GuardedTcpServer(limits, server.get());
        QVERIFY(tcp->listen(QHostAddress::LocalHost, 0));
        server->bind(tcp);
        port = tcp->serverPort();
    }
    // A live page of the origin, with the cookie; its messages are collected.
    std::unique_ptr<QWebSocket> open(const QString& origin, const QByteArray& withCookie,
                                     QList<QJsonObject>* messages) {
        auto socket = std::make_unique<QWebSocket>(origin);
        QObject::connect(socket.get(), &QWebSocket::textMessageReceived,
                         [messages](const QString& m) {
                             messages->append(QJsonDocument::fromJson(m.toUtf8()).object());
                         });
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(port)));
        request.setRawHeader("Host", kHost);
        if (!withCookie.isEmpty())
            request.setRawHeader("Cookie", "corvane_session=" + withCookie);
        socket->open(request);
        return socket;
    }
    // Moves the clock on by a tick of the live pages, and lets the messages come.
    void tick() {
        h.clock.advance(WebSocketHub::kTickMs);
        QTest::qWait(100);
    }
};

} // namespace

class WebPanelTest : public QObject {
    Q_OBJECT
private slots:
    void everyAnswerForbidsFramingScriptsOfOthersAndCaching() {
        Panel p;
        const Answer page = p.http("GET", "/");
        QCOMPARE(page.status, 200);
        QVERIFY(page.body.contains("<script src=\"/panel.js\""));
        QVERIFY(!page.body.contains("<script>"));
        for (const Answer& a : {page, p.http("GET", "/api/status"), p.http("GET", "/nothing")}) {
            QVERIFY(a.headers.value("content-security-policy").contains("script-src 'self'"));
            QCOMPARE(a.headers.value("x-frame-options"), "DENY");
            QCOMPARE(a.headers.value("cache-control"), "no-store");
        }
        // Another name that resolves here: a page of that name cannot read the panel.
        QCOMPARE(p.http("GET", "/", {}, {{"Host", "evil.test"}}).status, 421);
    }

    void aLoginSaysNothingOfWhichPartWasWrongAndIsLimited() {
        Panel p;
        const Answer wrong = p.login("ada", "not-the-password");
        const Answer unknown = p.login("nobody", "ada-password");
        QCOMPARE(wrong.status, 401);
        QCOMPARE(unknown.status, 401);
        QCOMPARE(wrong.body, unknown.body);
        QCOMPARE(p.get("/api/status").status, 401);

        const Answer ok = p.login("ada", "ada-password");
        QCOMPARE(ok.status, 200);
        const QByteArray cookie = ok.headers.value("set-cookie");
        QVERIFY2(cookie.contains("; HttpOnly") && cookie.contains("; SameSite=Strict") &&
                     !cookie.contains("Secure"),
                 cookie.constData());
        QCOMPARE(ok.json().value("role").toString(), "admin");
        const QJsonObject status = QJsonDocument::fromJson(p.get("/api/status").body).object();
        QVERIFY(
            status.value("servers").toObject().value("map").toObject().value("running").toBool());

        // Past the free failures, a login waits, even with the right password.
        for (int i = 0; i < LoginLimiter::kFreeFailures; ++i)
            QCOMPARE(p.login("ola", "wrong").status, 401);
        const Answer limited = p.login("ola", "ola-password");
        QCOMPARE(limited.status, 429);
        const int wait = limited.headers.value("retry-after").toInt();
        QVERIFY(wait >= 1 && wait <= 60);
        p.h.clock.advance(wait * 1000);
        QCOMPARE(p.login("ola", "ola-password").status, 200);
        const QStringList audit = p.audit();
        QVERIFY(!audit.filter("web nobody from 127.0.0.1: login -> refused: wrong name").isEmpty());
        QVERIFY(
            !audit.filter("web ola from 127.0.0.1: login -> refused: too many failures").isEmpty());
        QVERIFY(!audit.filter("web ola from 127.0.0.1: login -> done").isEmpty());

        // Logged out, the cookie is worth nothing; with every session of the account too.
        QCOMPARE(p.post("/api/logout", {}).status, 200);
        QCOMPARE(p.get("/api/status").status, 401);
        p.login("ada", "ada-password");
        const QByteArray first = p.cookie;
        p.login("ada", "ada-password");
        QCOMPARE(p.post("/api/logout-everywhere", {}).status, 200);
        p.cookie = first;
        QCOMPARE(p.get("/api/status").status, 401);
    }

    void aSecondFactorIsAskedForOnlyAfterTheRightPasswordAndEachCodeIsGoodOnce() {
        Panel p;
        QString why;
        const auto folder = CheckedFolder::Open(p.state.path(), false, &why);
        WebAccounts accounts;
        QByteArray secret;
        QStringList recovery;
        QVERIFY(accounts.load(*folder, "users", &why) &&
                accounts.setSecondFactor("ada", &secret, &recovery, &why) &&
                accounts.save(*folder, "users", &why));

        // A wrong password is told as for an account without a code: the code is never asked
        // for before the password is known to be right.
        QCOMPARE(p.login("ada", "not-the-password").body, p.login("nobody", "x").body);
        const Answer asked = p.login("ada", "ada-password");
        QCOMPARE(asked.status, 401);
        QVERIFY(asked.json().value("code_needed").toBool());
        const QString code = TotpCode::CodeAt(secret, p.h.clock.EpochMs() / 1000);
        QVERIFY(!p.login("ada", "not-the-password", code).json().contains("code_needed"));
        QCOMPARE(p.login("ada", "ada-password", code).status, 200);
        QCOMPARE(p.login("ada", "ada-password", code).json().value("error").toString(),
                 "wrong code");

        // A recovery code opens a session once, and leaves the file with it.
        QCOMPARE(p.login("ada", "ada-password", recovery[3].toUpper()).status, 200);
        QCOMPARE(p.login("ada", "ada-password", recovery[3]).status, 401);
        WebAccounts after;
        QVERIFY(after.load(*folder, "users", &why));
        QCOMPARE(after.find("ada")->recoveryHashes.size(), WebAccounts::kRecoveryCodes - 1);
        QCOMPARE(after.find("ola")->totpSecret, QByteArray());
        const QStringList audit = p.audit();
        QVERIFY(!audit.filter("web ada from 127.0.0.1: login -> refused: the code is needed")
                     .isEmpty());
        QVERIFY(!audit.filter("web ada from 127.0.0.1: recovery code -> used up").isEmpty());
    }

    void crashReportsAndAccountsAreShownAsTheLauncherKeepsThem() {
        Panel p;
        const QDir logs(p.logs.path());
        QVERIFY(WriteFile(logs.filePath("crash-map-server-20261210-120000.txt"),
                          "Crash report of Map Server\n<b>not markup</b>\n"));
        QVERIFY(WriteFile(logs.filePath("crash-login-server-20261210-130000.txt"),
                          "Crash report of Login Server\n"));
        QVERIFY(QFile::link("/etc/passwd", logs.filePath("crash-char-server-20261210-140000.txt")));
        p.login("vic", "vic-password");
        const QJsonArray listed = QJsonDocument::fromJson(p.get("/api/crashes").body).array();
        QCOMPARE(listed.size(), 3); // newest first; the link is named, never read
        QCOMPARE(listed[0].toObject().value("server").toString(), QString());
        QCOMPARE(listed[1].toObject().value("server").toString(), "Login Server");
        QCOMPARE(listed[2].toObject().value("name").toString(),
                 "crash-map-server-20261210-120000.txt");
        QCOMPARE(p.get("/api/crashes?name=crash-map-server-20261210-120000.txt")
                     .json()
                     .value("text")
                     .toString(),
                 "Crash report of Map Server\n<b>not markup</b>\n");
        // Only a report's own name is read: not through a link, not the audit log beside it (for
        // admins only), not a file of another folder.
        const QByteArray accounts =
            "..%2F" + QFileInfo(p.state.path()).fileName().toUtf8() + "%2Fusers";
        QVERIFY(QFileInfo::exists(logs.filePath("audit.log")));
        for (const QByteArray& name : {QByteArray("crash-char-server-20261210-140000.txt"),
                                       QByteArray("audit.log"), accounts})
            QCOMPARE(p.get("/api/crashes?name=" + name).status, 404);
        // The overview's own figures come with the state.
        const QJsonObject map =
            p.get("/api/status").json().value("servers").toObject().value("map").toObject();
        QVERIFY(map.contains("cpu_percent") && map.contains("resident_bytes") &&
                map.contains("next_event"));

        QCOMPARE(p.get("/api/users").status, 403);
        p.login("ada", "ada-password");
        QCOMPARE(QJsonDocument::fromJson(p.get("/api/users").body).toJson(QJsonDocument::Compact),
                 R"([{"name":"ada","role":"admin"},{"name":"ola","role":"operator"},)"
                 R"({"name":"vic","role":"viewer"}])");
    }

    void theLauncherChecksTheRoleOfEveryAction() {
        Panel p;
        const int mark = int(p.h.core().log().lines().size());
        p.login("vic", "vic-password");
        QCOMPARE(p.get("/api/console?server=map").status, 200);
        for (const char* verb : {"stop", "restart", "send"}) {
            QJsonObject request{{"verb", verb}, {"servers", QJsonArray{"map"}}};
            if (verb == QLatin1String("send"))
                request["text"] = "status";
            const Answer a = p.post("/api/action", request);
            QCOMPARE(a.status, 403);
            QVERIFY(a.json().value("error").toString().contains("needs the role operator"));
        }
        p.login("ola", "ola-password");
        QCOMPARE(
            p.post("/api/action", {{"verb", "kill"}, {"servers", QJsonArray{"map"}}, {"yes", true}})
                .status,
            403);
        QTRY_VERIFY(p.h.fleet().ServerRuns(2));
        QVERIFY(p.h.logSince(mark).filter("Control:").isEmpty());

        const Answer stop =
            p.post("/api/action", {{"verb", "stop"}, {"servers", QJsonArray{"map"}}});
        QCOMPARE(stop.status, 200);
        QTRY_VERIFY(!p.h.fleet().ServerRuns(2));
        QVERIFY(!p.h.logSince(mark)
                     .filter("Control: stop Map Server asked by ola (web from 127.0.0.1).")
                     .isEmpty());
        // A refusal of the launcher's own is told as one.
        QCOMPARE(
            p.post("/api/action", {{"verb", "start"}, {"servers", QJsonArray{"nothing"}}}).status,
            400);
        const QStringList audit = p.audit();
        QVERIFY(!audit
                     .filter("web vic from 127.0.0.1: stop Map Server -> refused: stop needs the "
                             "role operator")
                     .isEmpty());
        QVERIFY(!audit.filter("web ola from 127.0.0.1: kill Map Server -> refused").isEmpty());
        QVERIFY(!audit.filter("web ola from 127.0.0.1: stop Map Server -> done").isEmpty());
    }

    void aRequestOfAnotherSiteChangesNothing() {
        Panel p;
        p.login("ada", "ada-password");
        const QJsonObject stop{{"verb", "stop"}};
        QCOMPARE(p.post("/api/action", stop, "http://evil.test").status, 403);
        QCOMPARE(p.post("/api/action", stop, "null").status, 403);
        QCOMPARE(p.post("/api/action", stop, kOrigin, false).status, 403);
        QCOMPARE(p.http("POST", "/api/action", "{\"verb\":\"stop\"}",
                        {{"Content-Type", "text/plain"},
                         {"Origin", kOrigin},
                         {"Cookie", "corvane_session=" + p.cookie},
                         {"X-CSRF-Token", p.csrf}})
                     .status,
                 415);
        for (int i = 0; i < 3; ++i)
            QVERIFY(p.h.fleet().ServerRuns(i));
        QVERIFY(!p.audit().filter("no valid CSRF token").isEmpty());
        QVERIFY(!p.audit().filter("does not come from this panel").isEmpty());

        // A removed account's sessions end at once.
        QString why;
        WebAccounts accounts;
        const auto folder = CheckedFolder::Open(p.state.path(), false, &why);
        QVERIFY(accounts.load(*folder, "users", &why));
        QVERIFY(accounts.add("zed", WebRole::Admin, "zed-password", &why) &&
                accounts.remove("ada", &why) && accounts.save(*folder, "users", &why));
        QCOMPARE(p.get("/api/status").status, 401);
        // The change of the file is audited as it is read.
        const QStringList changes = p.audit().filter("from the accounts' file: ");
        QCOMPARE(changes.size(), 2);
        QVERIFY(changes[0].endsWith(": remove account ada -> done"));
        QVERIFY(changes[1].endsWith(": add account zed (admin) -> done"));
    }

    // Over TLS with the operator's certificate, and its session cookie only for TLS.
    void servesTlsWithTheCertificateOfTheSection() {
        CoreHarness h;
        QTemporaryDir state, tls;
        AddAccounts(state.path());
        QProcess openssl;
        openssl.start("openssl",
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-days", "1", "-subj", "/CN=panel.test", "-keyout",
                       tls.filePath("key.pem"), "-out", tls.filePath("cert.pem")});
        QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
        WebConfig config = TestConfig();
        config.origin = "https://panel.test";
        config.certificateFile = tls.filePath("cert.pem");
        config.keyFile = tls.filePath("key.pem");
        WebPanel panel(h.core(), h.clock);
        QString why;
        QVERIFY2(panel.open(config, state.path(), "users", &why), qPrintable(why));

        QSslSocket socket;
        socket.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket.connectToHostEncrypted("127.0.0.1", panel.port());
        QByteArray raw;
        const QByteArray body = R"({"name":"ada","password":"ada-password"})";
        QTRY_VERIFY(socket.isEncrypted());
        socket.write(
            "POST /api/login HTTP/1.0\r\nHost: panel.test\r\nOrigin: https://panel.test\r\n"
            "Content-Type: application/json\r\nContent-Length: " +
            QByteArray::number(body.size()) + "\r\n\r\n" + body);
        QTRY_VERIFY((raw += socket.readAll()).contains("\r\n\r\n{"));
        QVERIFY2(raw.startsWith("HTTP/1.1 200"), raw.constData());
        QVERIFY(raw.contains("; SameSite=Strict; Path=/; Secure"));

        config.keyFile = tls.filePath("missing.pem");
        QVERIFY(!panel.open(config, state.path(), "users", &why) && why.contains("missing.pem"));
        QVERIFY(!panel.isOpen());
    }

    void aLivePageIsTakenFromThePanelsOwnOriginWithASessionOnly() {
        Live l;
        QVERIFY(l.login("vic", "vic-password").status == 200);
        QList<QJsonObject> messages;
        const auto refused = [&](const QString& origin, const QByteArray& cookie) {
            std::unique_ptr<QWebSocket> socket = l.open(origin, cookie, &messages);
            QSignalSpy closed(socket.get(), &QWebSocket::disconnected);
            return closed.wait(5000) &&
                   socket->closeCode() == QWebSocketProtocol::CloseCodePolicyViolated;
        };
        QVERIFY(refused("http://evil.test", l.cookie));
        QVERIFY(refused(kOrigin, QByteArray()));
        QVERIFY(refused(kOrigin, QByteArray(64, 'a')));
        // Taken, but its first message must carry the session's token.
        std::unique_ptr<QWebSocket> noToken = l.open(kOrigin, l.cookie, &messages);
        QSignalSpy noTokenClosed(noToken.get(), &QWebSocket::disconnected);
        QTRY_VERIFY(noToken->state() == QAbstractSocket::ConnectedState);
        noToken->sendTextMessage(R"({"csrf":"0000"})");
        QVERIFY(noTokenClosed.wait(5000));
        QVERIFY(messages.isEmpty());
        QCOMPARE(l.audited.filter("live page -> refused: a live page of another origin").size(), 1);
        QCOMPARE(l.audited.filter("live page -> refused: a live page without a session").size(), 2);
        QCOMPARE(
            l.audited.filter("web vic from 127.0.0.1: live page -> refused: no valid CSRF").size(),
            1);

        // A viewer's page sees, and may not act: each message is checked as a request is.
        l.h.apis.consoles["Map Server"] =
            "ready\n<img src=x onerror=alert(1)>\n\x1b[1;31mred\x1b[0m plain\n";
        std::unique_ptr<QWebSocket> page = l.open(kOrigin, l.cookie, &messages);
        QTRY_VERIFY(page->state() == QAbstractSocket::ConnectedState);
        page->sendTextMessage(QJsonDocument(QJsonObject{{"csrf", QString(l.csrf)}}).toJson());
        QTRY_VERIFY(!messages.isEmpty());
        QCOMPARE(messages.first().value("role").toString(), "viewer");
        // Quiet for longer than an HTTP connection may be, a live page stays.
        QTest::qWait(2 * kIdleMs);
        QCOMPARE(page->state(), QAbstractSocket::ConnectedState);
        page->sendTextMessage(R"({"type":"watch","server":"map"})");
        page->sendTextMessage(R"({"type":"action","id":7,"verb":"stop","servers":["map"]})");
        QTRY_VERIFY(messages.size() >= 2);
        QCOMPARE(messages[1].value("id").toInt(), 7);
        QCOMPARE(messages[1].value("status").toInt(), 403);
        QVERIFY(l.h.fleet().ServerRuns(2));
        QCOMPARE(l.audited.filter("web vic from 127.0.0.1: stop Map Server -> refused: stop needs")
                     .size(),
                 1);

        messages.clear();
        l.tick();
        QJsonObject status, console;
        for (const QJsonObject& m : messages) {
            if (m.value("type") == "status")
                status = m;
            if (m.value("type") == "console")
                console = m;
        }
        QVERIFY(status.value("status")
                    .toObject()
                    .value("servers")
                    .toObject()
                    .value("map")
                    .toObject()
                    .value("running")
                    .toBool());
        QCOMPARE(console.value("server").toString(), "map");
        QVERIFY(console.value("reset").toBool());
        const QJsonArray lines = console.value("lines").toArray();
        QCOMPARE(lines.size(), 3);
        // What a server prints is its text, never markup; its colours come apart from it.
        QCOMPARE(lines[1].toArray()[0].toString(), "<img src=x onerror=alert(1)>");
        QCOMPARE(lines[2].toArray()[0].toString(), "red plain");
        QCOMPARE(lines[2].toArray()[1].toArray()[0].toArray(),
                 (QJsonArray{0, 3, 1, QJsonValue(), 1}));

        // Only what changed comes next; nothing when nothing did.
        messages.clear();
        l.h.apis.consoles["Map Server"] += "next\n";
        l.tick();
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0].value("type").toString(), "console");
        QCOMPARE(messages[0].value("reset").toBool(), false);
        QCOMPARE(messages[0].value("lines").toArray().size(), 1);
        messages.clear();
        l.tick();
        QVERIFY(messages.isEmpty());

        // Logged out, the page is let go at the next tick.
        QSignalSpy pageClosed(page.get(), &QWebSocket::disconnected);
        QCOMPARE(l.post("/api/logout", {}).status, 200);
        l.tick();
        QVERIFY(pageClosed.count() == 1 || pageClosed.wait(5000));
        QCOMPARE(page->closeCode(), QWebSocketProtocol::CloseCodeGoingAway);
        QCOMPARE(page->closeReason(), "the session has ended");
    }
};

QTEST_GUILESS_MAIN(WebPanelTest)
#include "tst_web_panel.moc"
