// The servers' state for monitoring systems: what the window reports over HTTP about the pretend
// servers, and how the endpoint treats requests it does not serve and clients that misbehave.
#include "LauncherHarness.h"
#include "RedNotice.h"
#include "StatusEndpoint.h"
#include "StatusReporter.h"
#include "VbCheckBox.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

struct Reply {
    int status = 0; // 0: no answer before the connection closed or went quiet
    QByteArray head, body;
};

// Reads one answer from a connected socket.
Reply ReadReply(QTcpSocket& socket) {
    QByteArray data;
    qsizetype headEnd = -1;
    qsizetype length = -1;
    while (headEnd < 0 || data.size() < headEnd + 4 + length) {
        if (!socket.waitForReadyRead(3000) && socket.bytesAvailable() == 0)
            break;
        data += socket.readAll();
        headEnd = data.indexOf("\r\n\r\n");
        static const QRegularExpression contentLength(QStringLiteral("Content-Length: (\\d+)"));
        const auto match = contentLength.match(QString::fromLatin1(data.left(headEnd)));
        length = match.hasMatch() ? match.captured(1).toLongLong() : 0;
    }
    if (headEnd < 0)
        return {};
    return {data.mid(9, 3).toInt(), data.left(headEnd), data.mid(headEnd + 4)};
}

// Connects and sends a request in pieces, each in a TCP segment of its own that the endpoint reads
// before the next one comes.
bool SendInPieces(QTcpSocket& socket, quint16 port, const QList<QByteArray>& pieces) {
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return false;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    for (const QByteArray& piece : pieces) {
        if (&piece != &pieces.first())
            QThread::msleep(20);
        socket.write(piece);
        if (!socket.waitForBytesWritten(3000))
            return false;
    }
    return true;
}

// Sends a raw request on a new connection and reads one answer.
Reply Exchange(quint16 port, const QByteArray& request) {
    QTcpSocket socket;
    return SendInPieces(socket, port, {request}) ? ReadReply(socket) : Reply{};
}

Reply Get(quint16 port, const char* path, const QByteArray& headers = {}) {
    return Exchange(port, QByteArray("GET ") + path + " HTTP/1.1\r\nHost: localhost\r\n" + headers +
                              "\r\n");
}

// The log's lines about the status endpoint.
QStringList StatusLines(const CoreHarness& h) {
    return h.logSince(0).filter(QStringLiteral("server status"));
}

// The value of one sample in an exposition, or NaN when it is not there.
double Sample(const QByteArray& exposition, const QString& series) {
    for (const QByteArray& line : exposition.split('\n'))
        if (line.startsWith(series.toUtf8() + ' '))
            return line.mid(series.size() + 1).toDouble();
    return qQNaN();
}

} // namespace

class StatusReportTest : public QObject {
    Q_OBJECT
private slots:
    void reportsTheServersAsTheyAre() {
        LauncherHarness h;
        h.settings.values["Status Port"] = "0"; // any free port
        frmMain& w = h.online();
        const int mark = h.logCount();
        w.chkSendStatus->SetValue(1);
        const quint16 port = w.StatusPort();
        QVERIFY(port != 0);
        QCOMPARE(h.logSince(mark),
                 QStringList{QStringLiteral("> Serving the server status at http://127.0.0.1:%1/"
                                            "metrics and http://127.0.0.1:%1/status.")
                                 .arg(port)});

        h.apis.crashAndWake("map-server"); // found, relaunched at once
        Reply metrics = Get(port, "/metrics");
        QCOMPARE(metrics.status, 200);
        QVERIFY(metrics.head.contains("Content-Type: text/plain; version=0.0.4"));
        // Every family is introduced by its help and type; every sample is a name and a number.
        static const QRegularExpression sample(
            QStringLiteral("^(corvane_[a-z_]+)(\\{[a-z]+=\"[a-z0-9.]+\"\\})? -?[0-9.]+$"));
        QString family;
        for (const QByteArray& line : metrics.body.trimmed().split('\n')) {
            if (line.startsWith("# HELP "))
                family = QString::fromUtf8(line.split(' ')[2]);
            else if (line.startsWith("# TYPE "))
                QVERIFY(line.endsWith("counter") == family.endsWith("_total"));
            else
                QVERIFY2(sample.match(QString::fromUtf8(line)).captured(1) == family, line);
        }
        QCOMPARE(Sample(metrics.body, "corvane_server_crashes_total{server=\"map\"}"), 1.0);
        QCOMPARE(Sample(metrics.body, "corvane_server_relaunches_total{server=\"map\"}"), 1.0);
        QCOMPARE(Sample(metrics.body, "corvane_server_crashes_total{server=\"login\"}"), 0.0);
        QCOMPARE(Sample(metrics.body, "corvane_server_up{server=\"map\"}"), 1.0);
        QCOMPARE(Sample(metrics.body, "corvane_server_pid{server=\"map\"}"),
                 double(h.fleet().ServerProc(2).lPID));
        QVERIFY(Sample(metrics.body, "corvane_server_last_crash_time_seconds{server=\"map\"}") >
                1.7e9);
        QCOMPARE(Sample(metrics.body, "corvane_launcher_state"), 2.0); // the notice still shows
        QCOMPARE(Sample(metrics.body, "corvane_build_info{version=\"" CORVANE_VERSION "\"}"), 1.0);
        const QByteArray body = Get(port, "/status").body;
        QVERIFY(body.startsWith("{\"healthy\":true,"));
        const QJsonObject launcher = QJsonDocument::fromJson(body)["launcher"].toObject();
        QCOMPARE(launcher["pid"].toInteger(), QCoreApplication::applicationPid());
        QCOMPARE(launcher["server_folder_id"].toString(), "corvane-fa4e0f01d0");

        // A server meant to run that is down makes the status unhealthy.
        h.apis.crash("login-server");
        Reply status;
        QTRY_COMPARE_WITH_TIMEOUT((status = Get(port, "/status")).status, 503, 3000);
        QVERIFY2(status.body.contains("\"login\":{\"crashes\":0,\"last_crash_time\":null,"
                                      "\"meant_to_run\":true,\"pid\":0,"),
                 status.body);

        // The box is kept; clearing it ends the serving.
        w.SaveSettings();
        QCOMPARE(h.settings.values.value("Report Server Status"), QStringLiteral("1"));
        w.chkSendStatus->SetValue(0);
        QCOMPARE(h.logSince(h.logCount() - 1).last(),
                 QStringLiteral("> No longer serving the server status."));
        QCOMPARE(Get(port, "/metrics").status, 0);
    }

    // A port another program holds: the box shows that nothing is served and the red notice says
    // so for as long as a crash's would; the launcher tries again, less and less often, without a
    // line for each try, and serves as soon as the port is free. The operator's wish is kept.
    void aTakenPortIsShownAndTriedAgainUntilItIsFree() {
        auto other = std::make_unique<StatusEndpoint>();
        QVERIFY(other->open(QHostAddress::LocalHost, 0, nullptr));
        const quint16 port = other->port();
        LauncherHarness h;
        h.settings.values["Status Port"] = QString::number(port);
        h.settings.values["Status Address"] = "localhost"; // a name, not an address
        h.settings.values["Report Server Status"] = "1";   // as the last run left it
        h.addServerFiles();
        frmMain& w = h.load();
        StatusReporter& status = w.Status();
        const std::int64_t failedAt = h.clock.now;
        QCOMPARE(status.nextTryInMs(), StatusReporter::kFirstRetryMs);
        w.cmdServerStart_Click();
        QVERIFY(h.logSince(0).contains("> Setting \"Status Address\" holds \"localhost\", which "
                                       "cannot be used; keeping 127.0.0.1."));
        const QStringList told{
            QStringLiteral("> Cannot serve the server status on 127.0.0.1:%1: The bound address is "
                           "already in use; carrying on without it, and trying again in 5 s, then "
                           "less and less often (every 120 s at most).")
                .arg(port)};
        QCOMPARE(StatusLines(h), told);
        QCOMPARE(h.fleet().ServerState(), 1);
        QCOMPARE(w.StatusPort(), quint16(0));
        QCOMPARE(w.chkSendStatus->Value(), 0);
        QVERIFY(!w.lblCrashNotice->isHidden());
        QVERIFY(w.lblCrashNotice->text().startsWith("Status Not Served! "));
        // The wish stands: kept in the settings, and the launcher keeps trying.
        w.SaveSettings();
        QCOMPARE(h.settings.values.value("Report Server Status"), QStringLiteral("1"));

        // The notice stands as long as a crash's.
        auto* notice = w.findChild<RedNotice*>();
        QVERIFY(notice);
        const std::int64_t noticeMs = 1000 * h.core().options().keepIconForSeconds;
        h.clock.now = failedAt + noticeMs - 1;
        notice->tmrStatusNotice_Timer();
        QVERIFY(!w.lblCrashNotice->isHidden());
        h.clock.now += 1;
        notice->tmrStatusNotice_Timer();
        QVERIFY(w.lblCrashNotice->isHidden());

        QCOMPARE(status.nextTryInMs(), 0); // overdue
        status.tmrRetry_Timer();
        for (const std::int64_t delay : {10000, 20000, 40000, 80000, 120000, 120000}) {
            QCOMPARE(status.nextTryInMs(), delay);
            h.clock.now += delay - 1;
            status.tmrRetry_Timer(); // too early: no try
            QCOMPARE(status.nextTryInMs(), 1);
            h.clock.now += 1;
            status.tmrRetry_Timer();
        }
        QCOMPARE(StatusLines(h), told);
        QCOMPARE(w.chkSendStatus->Value(), 0);
        QCOMPARE(h.core().options().sendStatus, 1);

        other.reset();
        h.clock.now += status.nextTryInMs();
        status.tmrRetry_Timer();
        QCOMPARE(w.StatusPort(), port);
        QCOMPARE(StatusLines(h).last(),
                 QStringLiteral("> Serving the server status at http://127.0.0.1:%1/metrics and "
                                "http://127.0.0.1:%1/status.")
                     .arg(port));
        QCOMPARE(Get(port, "/metrics").status, 200);
        QCOMPARE(w.chkSendStatus->Value(), 1);
        QCOMPARE(status.nextTryInMs(), -1);
        w.chkSendStatus->SetValue(0);
        QCOMPARE(StatusLines(h).last(), QStringLiteral("> No longer serving the server status."));
        QCOMPARE(h.core().options().sendStatus, 0);
    }

    // The operator's tick tries at once; a crash's notice is never covered by the status's, and
    // replaces it.
    void aCrashNoticeWinsOverTheStatusNotice() {
        StatusEndpoint other;
        QVERIFY(other.open(QHostAddress::LocalHost, 0, nullptr));
        LauncherHarness h;
        h.settings.values["Status Port"] = QString::number(other.port());
        frmMain& w = h.online();
        w.chkSendStatus->SetValue(1);
        QCOMPARE(w.chkSendStatus->Value(), 0);
        QVERIFY(w.lblCrashNotice->text().startsWith("Status Not Served! "));
        QVERIFY(!w.lblCrashNotice->isHidden());

        h.apis.crashAndWake("map-server");
        QCOMPARE(w.lblCrashNotice->text(), h.fleet().monitor().NoticeCaption());
        QVERIFY(w.lblCrashNotice->text().startsWith("Server Crashed! "));
        w.chkSendStatus->SetValue(1); // tried at once, and failed again
        QCOMPARE(StatusLines(h).size(), 2);
        QCOMPARE(w.chkSendStatus->Value(), 0);
        QCOMPARE(w.lblCrashNotice->text(), h.fleet().monitor().NoticeCaption());
        QVERIFY(!w.lblCrashNotice->isHidden());

        // The crash's notice ends in its time, and the status's does not come back.
        h.clock.now += 1000 * h.core().options().keepIconForSeconds;
        h.fleet().monitor().tmrCrashNotice_Timer();
        QVERIFY(w.lblCrashNotice->isHidden());
        w.findChild<RedNotice*>()->tmrStatusNotice_Timer();
        QVERIFY(w.lblCrashNotice->isHidden());
    }

    // Withdrawing the wish ends the tries: a port freed later is not taken.
    void noTriesOnceTheStatusIsNoLongerWanted() {
        auto other = std::make_unique<StatusEndpoint>();
        QVERIFY(other->open(QHostAddress::LocalHost, 0, nullptr));
        CoreHarness h;
        h.settings.values["Status Port"] = QString::number(other->port());
        h.loadCore();
        StatusReporter status(h.core());
        status.loadSettings();
        status.serve(true);
        QCOMPARE(status.nextTryInMs(), StatusReporter::kFirstRetryMs);
        status.serve(false);
        QCOMPARE(StatusLines(h).last(),
                 QStringLiteral("> No longer trying to serve the server status."));
        QCOMPARE(status.nextTryInMs(), -1);
        other.reset();
        h.clock.now += StatusReporter::kFirstRetryMs;
        status.tmrRetry_Timer();
        QCOMPARE(status.port(), quint16(0));
        QCOMPARE(StatusLines(h).size(), 2);
    }

    // The box is unticked while the port is tried again, so its menu is where the tries end.
    void theBoxMenuEndsTheTries() {
        StatusEndpoint other;
        QVERIFY(other.open(QHostAddress::LocalHost, 0, nullptr));
        LauncherHarness h;
        h.settings.values["Status Port"] = QString::number(other.port());
        h.settings.values["Report Server Status"] = "1";
        frmMain& w = h.load();
        QVERIFY(w.chkSendStatus->actions().contains(w.actStopTryingStatus));
        QVERIFY(w.actStopTryingStatus->isEnabled());
        w.actStopTryingStatus->trigger();
        QCOMPARE(w.Status().nextTryInMs(), -1);
        QCOMPARE(StatusLines(h).last(),
                 QStringLiteral("> No longer trying to serve the server status."));
        QVERIFY(!w.actStopTryingStatus->isEnabled());
        w.SaveSettings();
        QCOMPARE(h.settings.values.value("Report Server Status"), QStringLiteral("0"));
    }

    // A token in the installation's file is asked of every request for the status, and never
    // shown; a file others can read is named in the log.
    void aTokenFromTheInstallationGuardsTheStatus() {
        const QByteArray token = "Xq7-s3cret_token";
        QTemporaryDir folder;
        QFile ini(folder.filePath(InstallationConfig::kFileName));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Launcher]\nstatus port = 0\nstatus token = " + token + "\n");
        ini.close();
        const auto warnings = [&](QFileDevice::Permissions permissions) {
            ini.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | permissions);
            LauncherHarness h(nullptr, nullptr, nullptr, folder.path());
            h.load();
            return h.logSince(0).filter(QStringLiteral("status token"));
        };
        QCOMPARE(warnings({}), QStringList());
        QCOMPARE(warnings(QFileDevice::ReadGroup),
                 QStringList{"> Warning: " + ini.fileName() +
                             " holds the status token and can be read by its group; let only "
                             "its owner read it (chmod 600)."});
        QCOMPARE(warnings(QFileDevice::ReadGroup | QFileDevice::ReadOther),
                 QStringList{"> Warning: " + ini.fileName() +
                             " holds the status token and can be read by every user; let only "
                             "its owner read it (chmod 600)."});

        LauncherHarness h(nullptr, nullptr, nullptr, folder.path());
        frmMain& w = h.load();
        w.chkSendStatus->SetValue(1);
        const quint16 port = w.StatusPort();
        QVERIFY(port != 0);
        QVERIFY(StatusLines(h).last().endsWith("/status, to requests with the bearer token."));
        for (const QByteArray& wrong :
             {QByteArray(), "Authorization: Bearer " + token.chopped(1) + "\r\n",
              "Authorization: Bearer " + token + "x\r\n", "Authorization: Basic " + token + "\r\n",
              "Authorization: Beaver " + token + "\r\n",
              QByteArray("Authorization: Bearer \r\n")}) {
            for (const char* path : {"/metrics", "/status"}) {
                const Reply reply = Get(port, path, wrong);
                QCOMPARE(reply.status, 401);
                QVERIFY2(reply.head.contains("\r\nWWW-Authenticate: Bearer"), reply.head);
                QVERIFY(!reply.body.contains("corvane_") && !reply.body.contains("healthy"));
            }
        }
        QCOMPARE(Exchange(port, "POST /status HTTP/1.1\r\n\r\n").status, 401);
        const Reply metrics = Get(port, "/metrics", "Authorization: Bearer " + token + "\r\n");
        QCOMPARE(metrics.status, 200);
        QVERIFY(metrics.body.contains("corvane_launcher_state 0"));
        const Reply status = Get(port, "/status", "authorization: bearer  " + token + "\r\n");
        QVERIFY(status.body.startsWith("{\"healthy\":"));
        QVERIFY(!h.logSince(0).join(u'\n').contains(QString::fromUtf8(token)));
    }

    void answersWhatItDoesNotServe_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::newRow("other path") << QByteArray("GET /api/start HTTP/1.1\r\n\r\n") << 404;
        QTest::newRow("other method") << QByteArray("POST /status HTTP/1.1\r\n\r\n") << 405;
        QTest::newRow("not HTTP") << QByteArrayLiteral("\x16\x03\x01\x02\x00 a TLS hello") << 400;
        QTest::newRow("no request line") << QByteArray(9000, 'A') << 400;
        QTest::newRow("a megabyte of headers")
            << "GET /metrics HTTP/1.1\r\nX: " + QByteArray(1 << 20, 'a') + "\r\n\r\n"
            << 413;
        QTest::newRow("a megabyte of body")
            << "PUT /status HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n" + QByteArray(1 << 20, 'a')
            << 413;
    }
    void answersWhatItDoesNotServe() {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        StatusEndpoint endpoint;
        QVERIFY(endpoint.open(QHostAddress::LocalHost, 0, nullptr));
        QCOMPARE(Exchange(endpoint.port(), request).status, status);
        QCOMPARE(Get(endpoint.port(), "/metrics").status, 200); // and still serves
    }

    // A request is judged on all of it that has come since the last answer, however it is cut.
    void judgesARequestThatComesInPieces_data() {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<int>("status");
        const QByteArray request("GET /metrics HTTP/1.1\r\nHost: localhost\r\n\r\n");
        QTest::newRow("line cut in two") << QList<QByteArray>{"GET /metr", request.mid(9)} << 200;
        QTest::newRow("cut after the method") << QList<QByteArray>{"GET", request.mid(3)} << 200;
        QTest::newRow("cut in the line's end")
            << QList<QByteArray>{request.left(22), request.mid(22)} << 200;
        QList<QByteArray> bytes;
        for (char c : request)
            bytes << QByteArray(1, c);
        QTest::newRow("a byte at a time") << bytes << 200;
        QTest::newRow("not HTTP, in two") << QList<QByteArray>{"GE", "T /metrics FTP/1\r\n"} << 400;
        QTest::newRow("lower case, in two")
            << QList<QByteArray>{"GET", "get /x HTTP/1.1\r\n"} << 400;
    }
    void judgesARequestThatComesInPieces() {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(int, status);
        StatusEndpoint endpoint;
        QVERIFY(endpoint.open(QHostAddress::LocalHost, 0, nullptr));
        QTcpSocket socket;
        QVERIFY(SendInPieces(socket, endpoint.port(), pieces));
        QCOMPARE(ReadReply(socket).status, status);
        if (status != 200)
            return;
        // And the next request on the connection, cut elsewhere, is judged afresh.
        socket.write("GET /status HTTP/1.1\r\n");
        QVERIFY(socket.waitForBytesWritten(3000));
        QThread::msleep(20);
        socket.write("Host: localhost\r\n\r\n");
        QCOMPARE(ReadReply(socket).status, 200);
    }

    // A client that asks for the connection to end with the answer gets the whole answer and then
    // the end, at once; others keep the connection for their next request.
    void endsTheConnectionAfterTheAnswerWhenAsked_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("closed");
        QTest::newRow("HTTP/1.0") << QByteArray("GET /metrics HTTP/1.0\r\n\r\n") << 200 << true;
        QTest::newRow("Connection: close")
            << QByteArray("GET /status HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n") << 200
            << true;
        QTest::newRow("close among options, a path not served")
            << QByteArray("GET /x HTTP/1.1\r\nconnection: TE, Close\r\n\r\n") << 404 << true;
        QTest::newRow("HTTP/1.0 with keep-alive")
            << QByteArray("GET /metrics HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n") << 200
            << false;
        QTest::newRow("HTTP/1.1") << QByteArray("GET /metrics HTTP/1.1\r\nHost: a\r\n\r\n") << 200
                                  << false;
    }
    void endsTheConnectionAfterTheAnswerWhenAsked() {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        QFETCH(bool, closed);
        StatusEndpoint endpoint;
        QVERIFY(endpoint.open(QHostAddress::LocalHost, 0, nullptr));
        QTcpSocket socket;
        QVERIFY(SendInPieces(socket, endpoint.port(), {request}));
        if (closed) {
            // Read to the end, as such a client does: long before the 10 s of an idle connection.
            QVERIFY(socket.state() == QAbstractSocket::UnconnectedState ||
                    socket.waitForDisconnected(2000));
            const QByteArray data = socket.readAll();
            QCOMPARE(data.mid(9, 3).toInt(), status);
            const qsizetype headEnd = data.indexOf("\r\n\r\n");
            static const QRegularExpression length(QStringLiteral("Content-Length: (\\d+)"));
            const auto match = length.match(QString::fromLatin1(data.left(headEnd)));
            QVERIFY(match.hasMatch());
            QCOMPARE(data.size() - headEnd - 4, match.captured(1).toLongLong());
            return;
        }
        QCOMPARE(ReadReply(socket).status, status);
        QVERIFY(!socket.waitForDisconnected(300));
        socket.write(request);
        QCOMPARE(ReadReply(socket).status, status);
    }

    void quietAndExcessClientsAreLetGo() {
        StatusEndpoint endpoint;
        QVERIFY(endpoint.open(QHostAddress::LocalHost, 0, nullptr, {1500, 1024, 2}));
        std::array<QTcpSocket, 3> idle;
        for (QTcpSocket& socket : idle) {
            socket.connectToHost(QHostAddress::LocalHost, endpoint.port());
            QVERIFY(socket.waitForConnected(3000));
            if (&socket == &idle[1])
                socket.write("GET /metr"); // and never the rest
            QTest::qWait(50);
        }
        // One too many: the one quiet for longest makes room, long before any is quiet too long.
        QVERIFY(idle[0].state() == QAbstractSocket::UnconnectedState ||
                idle[0].waitForDisconnected(1000));
        QVERIFY(idle[0].readAll().startsWith("HTTP/1.1 408 "));
        QVERIFY(idle[2].state() == QAbstractSocket::ConnectedState);
        for (QTcpSocket& socket : idle)
            QVERIFY(socket.state() == QAbstractSocket::UnconnectedState ||
                    socket.waitForDisconnected(3000));
        QVERIFY(idle[1].readAll().startsWith("HTTP/1.1 408 "));
        QCOMPARE(Get(endpoint.port(), "/metrics").status, 200);
    }
};

QTEST_MAIN(StatusReportTest)
#include "tst_status_report.moc"
