// The servers' state for monitoring systems: what the window reports over HTTP about the pretend
// servers, and how the endpoint treats requests it does not serve and clients that misbehave.
#include "LauncherHarness.h"
#include "RedNotice.h"
#include "ServerUsageTips.h"
#include "StatusEndpoint.h"
#include "StatusReporter.h"

#include <QFile>
#include <QRegularExpression>
#include <QTabBar>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

struct Reply {
    int status = 0; // 0: no whole answer before the connection closed or went quiet
    QByteArray head, body;
};

// Reads one whole answer from a connected socket.
Reply ReadReply(QTcpSocket& socket) {
    static const QRegularExpression length(QStringLiteral("Content-Length: (\\d+)"));
    QByteArray data;
    qsizetype end = -1; // of the head
    while ((end = data.indexOf("\r\n\r\n")) < 0 ||
           data.size() < end + 4 + length.match(data.left(end)).captured(1).toLongLong()) {
        if (!socket.waitForReadyRead(3000) && socket.bytesAvailable() == 0)
            return {};
        data += socket.readAll();
    }
    return {data.mid(9, 3).toInt(), data.left(end), data.mid(end + 4)};
}

// Sends a request in pieces, each in a TCP segment of its own that the endpoint reads before the
// next one comes; connects first unless connected.
bool SendInPieces(QTcpSocket& socket, quint16 port, const QList<QByteArray>& pieces) {
    if (socket.state() != QAbstractSocket::ConnectedState) {
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (!socket.waitForConnected(3000))
            return false;
    }
    for (const QByteArray& piece : pieces) {
        QThread::msleep(20);
        socket.write(piece);
        if (!socket.waitForBytesWritten(3000))
            return false;
    }
    return true;
}

// Asks "GET /metrics" or the like on a new connection, and reads the answer.
Reply Ask(quint16 port, const QByteArray& what, const QByteArray& headers = {}) {
    QTcpSocket socket;
    const QByteArray request = what + " HTTP/1.1\r\nHost: localhost\r\n" + headers + "\r\n";
    return SendInPieces(socket, port, {request}) ? ReadReply(socket) : Reply{};
}

bool Ended(QTcpSocket& socket, int ms) {
    return socket.state() == QAbstractSocket::UnconnectedState || socket.waitForDisconnected(ms);
}

// The log's lines about the status endpoint.
QStringList StatusLines(const CoreHarness& h) {
    return h.logSince(0).filter(QStringLiteral("server status"));
}

} // namespace

class StatusReportTest : public QObject {
    Q_OBJECT
private slots:
    // Players show only for a server whose section says how its console tells them: in its tab's
    // tip, the tray's, the status and the metrics; the others have no count, not even 0.
    void reportsTheServersAsTheyAre() {
        QTemporaryDir folder;
        QVERIFY(WriteFile(folder.filePath(InstallationConfig::kFileName),
                          "[Map Server]\nplayers = (\\d+) players connected\n"));
        LauncherHarness h(nullptr, nullptr, nullptr, folder.path());
        h.settings.values["Status Port"] = "0"; // any free port
        frmMain& w = h.online();
        w.chkSendStatus->SetValue(1);
        const quint16 port = w.StatusPort();
        QCOMPARE(StatusLines(h), QStringList{QStringLiteral("> Serving the server status at "
                                                            "http://127.0.0.1:%1/metrics and "
                                                            "http://127.0.0.1:%1/status.")
                                                 .arg(port)});

        h.apis.crashAndWake("map-server"); // found, relaunched at once
        h.apis.consoles["Map Server"] = "online, uptime 3 s, 7 players connected\n";
        h.apis.consoles["Login Server"] = "online, uptime 3 s, 2 players connected\n";
        // What the map and login servers use, sampled: in the tips and the metrics.
        h.apis.usage[h.server(2).process.lPID] = {true, 2500, 212 << 20, 9, 14, 2, 10'000};
        h.apis.usage[h.server(0).process.lPID] = {true, 0, 100 << 20, 3, 5, 1, 1000};
        h.core().resources().Sample();
        const QString tip = TrayTipDetails(h.core());
        QVERIFY2(tip.contains("\nServers use CPU 25 %, 312 MB, 7 players\nLogin Server: "),
                 qPrintable(tip));
        QVERIFY2(w.conTab->tabBar()->tabToolTip(2).endsWith(
                     "\nCPU 25.0 %, 212 MB, 9 threads, 14 files \u00b7 7 players"),
                 qPrintable(w.conTab->tabBar()->tabToolTip(2)));
        QVERIFY(w.conTab->tabBar()->tabToolTip(0).endsWith("5 files"));
        const Reply metrics = Ask(port, "GET /metrics");
        QVERIFY(metrics.head.contains("Content-Type: text/plain; version=0.0.4"));
        // Families, each its help, its type and its samples; a counter's name ends in _total.
        static const QRegularExpression families(QStringLiteral(
            "^(# HELP (corvane_[a-z_]+) .+\n# TYPE \\2 ((?<=_total )counter|(?<!_total )gauge)\n"
            "(\\2(\\{[a-z]+=\"[^\"]+\"\\})? [0-9.]+\n)+)+$"));
        const QString exposition = QString::fromUtf8(metrics.body);
        QVERIFY(families.match(exposition).hasMatch());
        for (const QByteArray& sample :
             {QByteArray("corvane_server_relaunches_total{server=\"map\"} 1"),
              QByteArray("corvane_server_cpu_seconds_total{server=\"map\"} 2.500"),
              QByteArray("corvane_server_resident_memory_bytes{server=\"map\"} 222298112"),
              QByteArray("corvane_server_threads{server=\"map\"} 9"),
              QByteArray("corvane_server_open_fds{server=\"map\"} 14"),
              QByteArray("corvane_server_open_fds{server=\"char\"} 0"),
              QByteArray("corvane_server_players{server=\"map\"} 7"),
              QByteArray("corvane_launcher_state 2"), // the notice shows
              QByteArray("corvane_build_info{version=\"" CORVANE_VERSION "\"} 1")})
            QVERIFY2(metrics.body.contains('\n' + sample + '\n'), sample);
        QVERIFY(exposition.contains(QRegularExpression(
            "\ncorvane_server_last_crash_time_seconds\\{server=\"map\"\\} 1[7-9]\\d{8}[.\n]")));
        QCOMPARE(metrics.body.count("corvane_server_players{"), 1);
        const QByteArray body = Ask(port, "GET /status").body;
        QVERIFY2(body.startsWith("{\"healthy\":true,\"launcher\":{\"pid\":" +
                                 QByteArray::number(QCoreApplication::applicationPid()) +
                                 ",\"server_folder_id\":\"corvane-fa4e0f01d0\","),
                 body);
        QVERIFY2(body.contains("\"pid\":" + QByteArray::number(h.server(2).process.lPID) +
                               ",\"players\":7,\"probe_failures\""),
                 body);
        QCOMPARE(body.count("\"players\""), 1);
        // A server meant to run that is down makes the status unhealthy.
        h.apis.crash("login-server");
        Reply status;
        QTRY_COMPARE_WITH_TIMEOUT((status = Ask(port, "GET /status")).status, 503, 3000);
        QVERIFY2(status.body.contains("\"login\":{\"crashes\":0,\"last_crash_time\":null,"
                                      "\"meant_to_run\":true,\"pid\":0,"),
                 status.body);

        w.chkSendStatus->SetValue(0);
        QCOMPARE(StatusLines(h).last(), QStringLiteral("> No longer serving the server status."));
        QCOMPARE(Ask(port, "GET /metrics").status, 0);
    }

    // A port another program holds: the box shows that nothing is served and the red notice says
    // so, for as long as a crash's would, but never over a crash's. The launcher tries again, less
    // and less often, without a line for each try, and serves as soon as the port is free. The
    // box's menu is where the tries end.
    void aTakenPortIsShownAndTriedAgainUntilItIsFree() {
        StatusEndpoint other;
        QVERIFY(other.open(QHostAddress::LocalHost, 0, nullptr));
        const quint16 port = other.port();
        LauncherHarness h;
        h.settings.values["Status Port"] = QString::number(port);
        h.settings.values["Status Address"] = "localhost"; // a name, not an address
        h.settings.values["Report Server Status"] = "1";   // as the last run left it
        frmMain& w = h.online();
        StatusReporter& status = w.Status();
        const auto notice = [&] {
            return w.lblCrashNotice->isHidden() ? "" : w.lblCrashNotice->text();
        };
        QVERIFY(h.logSince(0).contains("> Setting \"Status Address\" holds \"localhost\", which "
                                       "cannot be used; keeping 127.0.0.1."));
        const QString told =
            QStringLiteral("> Cannot serve the server status on 127.0.0.1:%1: The bound address is "
                           "already in use; carrying on without it, and trying again in 5 s, then "
                           "less and less often (every 120 s at most).")
                .arg(port);
        QCOMPARE(StatusLines(h), QStringList{told});
        QCOMPARE(w.chkSendStatus->Value(), 0);
        QVERIFY(w.chkSendStatus->actions().contains(w.actStopTryingStatus)); // its menu
        QVERIFY(notice().startsWith("Status Not Served! "));
        w.SaveSettings(); // the wish stands
        QCOMPARE(h.settings.values.value("Report Server Status"), QStringLiteral("1"));

        // A crash's notice replaces it; the operator's tick tries at once and does not cover it.
        h.apis.crashAndWake("map-server");
        const QString crashed = h.fleet().monitor().NoticeCaption();
        QCOMPARE(notice(), crashed);
        w.chkSendStatus->SetValue(1);
        QCOMPARE(StatusLines(h), QStringList({told, told}));
        QCOMPARE(w.chkSendStatus->Value(), 0);
        QCOMPARE(notice(), crashed);
        // When the crash's ends, the status's does not come back; a new one stands as long as a
        // crash's would.
        const std::int64_t noticeMs = 1000 * h.core().options().keepIconForSeconds;
        h.clock.now += noticeMs;
        h.fleet().monitor().tmrCrashNotice_Timer();
        QCOMPARE(notice(), "");
        w.chkSendStatus->SetValue(1);
        h.clock.now += noticeMs - 1;
        w.findChild<RedNotice*>()->tmrStatusNotice_Timer();
        QVERIFY(notice().startsWith("Status Not Served! "));
        h.clock.now += 1;
        w.findChild<RedNotice*>()->tmrStatusNotice_Timer();
        QCOMPARE(notice(), "");

        // A firing of the retry timer before the launcher's clock says so is no try.
        status.tmrRetry_Timer(); // overdue
        QList<std::int64_t> delays{status.nextTryInMs()};
        for (int i = 0; i < 5; ++i) {
            h.clock.now += delays.last() - 1;
            status.tmrRetry_Timer();
            h.clock.now += 1;
            status.tmrRetry_Timer();
            delays << status.nextTryInMs();
        }
        QCOMPARE(delays, (QList<std::int64_t>{10000, 20000, 40000, 80000, 120000, 120000}));
        QCOMPARE(StatusLines(h).size(), 3);
        other.close();
        h.clock.now += status.nextTryInMs();
        status.tmrRetry_Timer();
        QCOMPARE(Ask(port, "GET /metrics").status, 200);
        QCOMPARE(StatusLines(h).size(), 4); // the serving told
        QCOMPARE(w.chkSendStatus->Value(), 1);

        // The menu ends the tries and withdraws the wish: a port freed later is not taken.
        w.chkSendStatus->SetValue(0);
        QVERIFY(other.open(QHostAddress::LocalHost, port, nullptr));
        w.chkSendStatus->SetValue(1);
        w.actStopTryingStatus->trigger();
        QCOMPARE(StatusLines(h).last(),
                 QStringLiteral("> No longer trying to serve the server status."));
        QVERIFY(!w.actStopTryingStatus->isEnabled());
        w.SaveSettings();
        QCOMPARE(h.settings.values.value("Report Server Status"), QStringLiteral("0"));
        other.close();
        h.clock.now += StatusReporter::kFirstRetryMs;
        status.tmrRetry_Timer();
        QCOMPARE(status.port(), quint16(0));
    }

    // A token in the installation's file is asked of every request for the status, and never
    // shown; a file others can read is named in the log.
    void aTokenFromTheInstallationGuardsTheStatus() {
        const QByteArray token = "Xq7-s3cret_token";
        QTemporaryDir folder;
        const QString ini = folder.filePath(InstallationConfig::kFileName);
        QVERIFY(WriteFile(ini, "[Launcher]\nstatus port = 0\nstatus token = " + token + "\n"));
        const auto warnings = [&](QFileDevice::Permissions permissions) {
            QFile::setPermissions(ini,
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | permissions);
            LauncherHarness h(nullptr, nullptr, nullptr, folder.path());
            h.load();
            return h.logSince(0).filter(QStringLiteral("status token"));
        };
        QCOMPARE(warnings({}), QStringList());
        QCOMPARE(warnings(QFileDevice::ReadGroup),
                 QStringList{"> Warning: " + ini +
                             " holds the status token and can be read by its group; let only "
                             "its owner read it (chmod 600)."});
        QVERIFY(warnings(QFileDevice::ReadOther).value(0).contains(" can be read by every user;"));

        LauncherHarness h(nullptr, nullptr, nullptr, folder.path());
        h.load().chkSendStatus->SetValue(1);
        const quint16 port = h.window().StatusPort();
        QVERIFY(StatusLines(h).last().endsWith("/status, to requests with the bearer token."));
        const QByteArray bearer = "Authorization: Bearer ";
        for (const QByteArray& wrong :
             {QByteArray(), bearer + token.chopped(1) + "\r\n", bearer + token + "x\r\n",
              "Authorization: Basic " + token + "\r\n"}) {
            for (const char* what : {"GET /metrics", "POST /status"}) { // before the method
                const Reply reply = Ask(port, what, wrong);
                QVERIFY2(reply.status == 401 && reply.head.contains("\r\nWWW-Authenticate: Bearer"),
                         what + wrong);
            }
        }
        QCOMPARE(Ask(port, "GET /status", "authorization: bearer  " + token + "\r\n").status, 200);
        QVERIFY(!h.logSince(0).join(u'\n').contains(QString::fromUtf8(token)));

        // A token it cannot take leaves the status unserved rather than open to anyone.
        QVERIFY(
            WriteFile(ini, "[Launcher]\nstatus port = 0\nstatus  token = " + token.left(8) + "\n"));
        LauncherHarness refused(nullptr, nullptr, nullptr, folder.path());
        refused.load().chkSendStatus->SetValue(1);
        QCOMPARE(refused.window().StatusPort(), 0);
        QVERIFY2(StatusLines(refused).value(0).startsWith(
                     "> Cannot serve the server status on 127.0.0.1:0: corvane-launcher.ini line "
                     "3: \"status token\" is 16 to 256 visible characters"),
                 qPrintable(StatusLines(refused).join('\n')));
    }

    // Every request is answered, however it is cut into pieces, and the endpoint serves on. The
    // connection ends right after the answer when the client asks for that or the request is
    // refused unread; otherwise the next request on it, cut elsewhere, is judged afresh.
    void answersEveryRequest_data() {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("closed");
        const QByteArray get("GET /metrics HTTP/1.1\r\nHost: localhost\r\n\r\n");
        QList<QByteArray> bytes;
        for (char c : get)
            bytes << QByteArray(1, c);
        const auto row = [](const char* name, const QList<QByteArray>& pieces, int status,
                            bool closed) { QTest::newRow(name) << pieces << status << closed; };
        row("a byte at a time", bytes, 200, false);
        row("other path", {"GET /api/start HTTP/1.1\r\n\r\n"}, 404, false);
        row("other method", {"POST /status HTTP/1.1\r\n\r\n"}, 405, false);
        row("HTTP/1.0, keep-alive", {"GET /status HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n"}, 200,
            false);
        row("HTTP/1.0", {"GET /metrics HTTP/1.0\r\n\r\n"}, 200, true);
        row("close among options", {"GET /x HTTP/1.1\r\nconnection: TE, Close\r\n\r\n"}, 404, true);
        row("not HTTP", {QByteArrayLiteral("\x16\x03\x01\x02\x00 a TLS hello")}, 400, true);
        row("a line too long", {"GET /" + QByteArray(9000, 'a')}, 400, true);
        row("not HTTP, in two", {"GE", "T /metrics FTP/1\r\n"}, 400, true);
        row("a megabyte of headers", {"GET / HTTP/1.1\r\nX: " + QByteArray(1 << 20, 'a')}, 413,
            true);
    }
    void answersEveryRequest() {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(int, status);
        QFETCH(bool, closed);
        StatusEndpoint endpoint;
        QVERIFY(endpoint.open(QHostAddress::LocalHost, 0, nullptr));
        QTcpSocket socket;
        QVERIFY(SendInPieces(socket, endpoint.port(), pieces));
        QCOMPARE(ReadReply(socket).status, status);
        if (!closed)
            QVERIFY(SendInPieces(socket, 0, {"GET /status HTTP/1.1\r\n", "Host: a\r\n\r\n"}));
        // Ended at once: long before the 10 s of an idle connection.
        QVERIFY(closed ? Ended(socket, 2000) : ReadReply(socket).status == 200);
        QCOMPARE(Ask(endpoint.port(), "GET /metrics").status, 200);
    }

    // At the limit of connections, the one quiet for longest makes room; one quiet too long is let
    // go, with a 408 while a request is due.
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
        QVERIFY(Ended(idle[0], 1000)); // long before any is quiet too long
        QVERIFY(idle[0].readAll().startsWith("HTTP/1.1 408 "));
        QVERIFY(idle[2].state() == QAbstractSocket::ConnectedState);
        for (QTcpSocket& socket : idle)
            QVERIFY(Ended(socket, 3000));
        QVERIFY(idle[1].readAll().startsWith("HTTP/1.1 408 "));
        QCOMPARE(Ask(endpoint.port(), "GET /metrics").status, 200);
    }
};

QTEST_MAIN(StatusReportTest)
#include "tst_status_report.moc"
