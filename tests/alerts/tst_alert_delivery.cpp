// Alerts from the crash check to a receiver on loopback: one alert per crash episode and one when
// it ends, a queue that waits for a receiver that is down (also across a restart of the launcher)
// and delivers in order and once, and TLS with a certificate of the test's own.
#include "AlertDelivery.h"
#include "AlertFormats.h"
#include "AlertQueue.h"
#include "AlertSender.h"
#include "CheckedFolder.h"
#include "CoreHarness.h"
#include "LoopbackReceiver.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSslKey>
#include <QTemporaryDir>
#include <sys/stat.h>

namespace {

QJsonObject Json(const QByteArray& body) {
    return QJsonDocument::fromJson(body).object();
}

// That field of each request's body, in the order they came.
QStringList Field(const LoopbackReceiver& receiver, const QString& key) {
    QStringList values;
    for (const auto& request : receiver.requests)
        values << Json(request.body).value(key).toString();
    return values;
}

Alert Numbered(int n) {
    Alert alert;
    alert.kind = Alert::Kind::CrashBegan;
    alert.id = QStringLiteral("a%1").arg(n);
    alert.title = QStringLiteral("alert %1").arg(n);
    return alert;
}

} // namespace

class AlertDeliveryTest : public QObject {
    Q_OBJECT
private slots:
    // Five crashes in a row are one episode: one alert when it begins, with the console's last
    // lines, and one once the server has stayed up; a shorter summary interval adds a summary.
    // The lines are the server's own: not the unused rest of the console's screen, nor the line
    // the console writes at the end of its process.
    void aCrashEpisodeIsToldOnceAndWhenItEnds_data() {
        QTest::addColumn<QByteArray>("timing");
        QTest::addColumn<QString>("console");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("lines");
        QStringList thirty;
        for (int n = 1; n <= 30; ++n)
            thirty << QStringLiteral("line %1").arg(n);
        const QString dead = QStringLiteral("Pane is dead (status 3, Wed Dec  9 01:44:53 2026)");
        const QString screen = QString(45, u'\n') + dead;
        QTest::newRow("defaults") << QByteArray() << thirty.join('\n') + '\n' + screen
                                  << QStringList{"crash", "back_up"} << thirty.mid(10);
        QTest::newRow("summary every 30 s")
            << QByteArray("[Alerts]\nsummary every = 30\n") << thirty.join('\n')
            << QStringList{"crash", "still_crashing", "back_up"} << thirty.mid(10);
        QTest::newRow("less than a screenful")
            << QByteArray() << "first\n\nlast words\n" + screen << QStringList{"crash", "back_up"}
            << QStringList{"first", "", "last words"};
        QTest::newRow("the console's words printed by the server")
            << QByteArray() << "x\n" + dead + "\n" + dead << QStringList{"crash", "back_up"}
            << QStringList{"x", dead};
    }
    void aCrashEpisodeIsToldOnceAndWhenItEnds() {
        QFETCH(QByteArray, timing);
        QFETCH(QString, console);
        QFETCH(QStringList, events);
        QFETCH(QStringList, lines);
        LoopbackReceiver receiver;
        QVERIFY(receiver.listen());
        QTemporaryDir folder;
        QVERIFY(WriteFile(folder.filePath(InstallationConfig::kFileName),
                          timing + "[Alert desk]\nurl = " + receiver.url().toUtf8() + "\n"));
        CoreHarness h(nullptr, nullptr, nullptr, folder.path());
        AlertDelivery delivery(h.core(), QString());
        h.apis.endings["Map Server"] =
            ConsoleEnding{ConsoleEnding::State::Ended, "exit status 3", console, 3};
        h.addServerFiles();
        h.loadCore().StartServersAndGoOnline();
        // Each delivery under way has its answer before the launcher's clock moves on (a delivery
        // has 30 s on that clock).
        const auto delivered = [&] { QTRY_VERIFY(delivery.queueEmpty()); };
        for (int crash = 0; crash < 5; ++crash) {
            h.apis.crashAndWake("map-server");
            delivered();
            h.clock.now += 11000; // the crash notice ends; the relaunched server runs on
            h.fleet().monitor().tmrCrashNotice_Timer();
            h.core().alerts().check();
        }
        QVERIFY(h.core().alerts().episodeOpen(2));
        delivered();
        h.clock.now += 60000;
        h.core().alerts().check();
        QVERIFY(!h.core().alerts().episodeOpen(2));
        QTRY_COMPARE(receiver.requests.size(), events.size());
        QTest::qWait(100); // and nothing more comes
        QCOMPARE(Field(receiver, "event"), events);
        const QJsonObject crash = Json(receiver.requests.first().body);
        QCOMPARE(crash.value("server").toString(), "Map Server");
        QCOMPARE(crash.value("message").toString(),
                 "Map Server crashed (exit status 3); the launcher relaunches it.");
        QCOMPARE(crash.value("lines").toVariant().toStringList(), lines);
        QCOMPARE(Json(receiver.requests.last().body).value("message").toString(),
                 "Map Server back up after 5 relaunches in 47 s");
    }

    // While the receiver is down its alerts wait: it is named once in the log, however many tries
    // fail. The launcher restarts meanwhile; once the receiver is back, the queue arrives in
    // order and none twice. An alert the receiver refuses does not hold back the ones behind it.
    void aReceiverThatIsDownGetsTheQueueOnceBack() {
        QTemporaryDir state;
        FakeClock clock;
        LoopbackReceiver receiver;
        QVERIFY(receiver.listen());
        const quint16 port = receiver.port();
        AlertEndpointConfig endpoint;
        endpoint.name = "desk";
        endpoint.url = receiver.url();
        receiver.close();
        const auto openQueue = [&] {
            QString why;
            auto queue = std::make_unique<AlertQueue>(
                CheckedFolder::Open(state.path(), false, &why), "alerts.json", 100);
            return queue->load().isEmpty() ? std::move(queue) : nullptr;
        };
        {
            auto queue = openQueue();
            QVERIFY(queue);
            AlertSender sender(*queue, clock);
            QSignalSpy notes(&sender, &AlertSender::note);
            sender.setEndpoints({endpoint});
            for (int n = 1; n <= 3; ++n) {
                queue->add(Numbered(n), {"desk"});
                sender.deliverDue();
            }
            for (int s = 0; s < 30; s += 2) { // 30 s of tries, on the launcher's clock
                QTRY_VERIFY(sender.idle());
                clock.now += 2000;
                sender.deliverDue();
            }
            QTRY_VERIFY(sender.idle());
            QCOMPARE(notes.size(), 1);
            QVERIFY2(notes.first().first().toString().startsWith(
                         "Alerts to desk cannot be delivered: Connection refused; 3 waiting"),
                     qPrintable(notes.first().first().toString()));
        }
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(state.filePath("alerts.json")).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, 0600u);

        auto queue = openQueue(); // the launcher started again
        QVERIFY(queue && queue->waiting("desk") == 3);
        queue->add(Numbered(4), {"desk"});
        QVERIFY(receiver.listen(port));
        receiver.answers = {LoopbackReceiver::Status(200), LoopbackReceiver::Status(400)};
        AlertSender sender(*queue, clock);
        QSignalSpy notes(&sender, &AlertSender::note);
        sender.setEndpoints({endpoint});
        QTRY_COMPARE(receiver.requests.size(), 4);
        QTest::qWait(100);
        QCOMPARE(Field(receiver, "id"), (QStringList{"a1", "a2", "a3", "a4"})); // a2 refused
        QTRY_VERIFY(queue->empty());
        QVERIFY(notes.size() == 1 && notes.first().first().toString().startsWith(
                                         "Alerts to desk: an alert was refused (HTTP 400"));
        QVERIFY(openQueue()->empty()); // the file says so too
    }

    // What a receiver answers is not trusted: past its first 64 KB an answer is not read on
    // (its status counts), a delivery without its whole answer within its time fails, and a
    // redirect is followed only to the same address and only when it keeps the POST. A busy
    // receiver is tried again after the pause it asks for (its Retry-After header or, as Discord
    // does, its answer's "retry_after"), never sooner and never after more than five minutes. A
    // failed delivery is logged, and the queue goes on once the receiver answers again.
    void whatAReceiverAnswers_data() {
        QTest::addColumn<QByteArray>("answer"); // "PORT" stands for the other receiver's port
        QTest::addColumn<bool>("trickles");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<int>("pauseMs"); // before the next try
        const QByteArray big =
            "HTTP/1.1 200 OK\r\nContent-Length: 8000000000\r\n\r\n" + QByteArray(256 * 1024, 'x');
        const auto redirect = [](int status, const QByteArray& to) {
            return "HTTP/1.1 " + QByteArray::number(status) + " X\r\nLocation: " + to +
                   "\r\nContent-Length: 0\r\n\r\n";
        };
        const QStringList again{"POST /hook a1", "POST /hook a1", "POST /hook a2"};
        const int first = int(AlertSender::kFirstRetryMs);
        QTest::newRow("an answer larger than 64 KB")
            << big << false << QString() << QStringList{"POST /hook a1", "POST /hook a2"} << first;
        QTest::newRow("an answer that never ends")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nx") << true
            << "no whole answer within 30 s" << again << first;
        QTest::newRow("a redirect to another port")
            << redirect(307, "http://127.0.0.1:PORT/hook") << false
            << "it answered HTTP 307, a redirect to http://127.0.0.1:PORT; not followed" << again
            << first;
        QTest::newRow("a redirect that makes it a GET")
            << redirect(302, "/moved") << false
            << "it answered HTTP 302, a redirect that would not send the alert again; not "
               "followed"
            << again << first;
        QTest::newRow("a redirect on the same address")
            << redirect(307, "/moved") << false << QString()
            << QStringList{"POST /hook a1", "POST /moved a1", "POST /hook a2"} << first;
        const auto busy =
            [&](const char* name, const QByteArray& headers, const QByteArray& body, int pauseMs) {
                QTest::newRow(name)
                    << "HTTP/1.1 429 Too Many Requests\r\n" + headers +
                           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body
                    << false << QString("HTTP 429 Too Many Requests") << again << pauseMs;
            };
        const QByteArray discord = "Content-Type: application/json\r\n";
        busy("Retry-After", "Retry-After: 7\r\n", {}, 7000);
        busy("retry_after", discord, R"({"message": "You are being rate limited.",
                                         "retry_after": 12.5, "global": false})",
             12500);
        busy("both: the longer", discord + "Retry-After: 3\r\n", R"({"retry_after": 4.2})", 4200);
        busy("a date", "Retry-After: Thu, 28 May 2026 20:27:00 GMT\r\n", {}, 20000);
        busy("a day", "Retry-After: 86400\r\n", {}, int(AlertSender::kLongestRetryMs));
        QTest::newRow("a service down for a while")
            << QByteArray("HTTP/1.1 503 X\r\nRetry-After: 9\r\nContent-Length: 0\r\n\r\n") << false
            << "HTTP 503 X" << again << 9000;
    }
    void whatAReceiverAnswers() {
        QFETCH(QByteArray, answer);
        QFETCH(bool, trickles);
        QFETCH(QString, failure);
        QFETCH(QStringList, requests);
        QFETCH(int, pauseMs);
        LoopbackReceiver receiver, elsewhere;
        QVERIFY(receiver.listen() && elsewhere.listen());
        const QByteArray port = QByteArray::number(elsewhere.port());
        receiver.answers = {answer.replace("PORT", port)};
        FakeClock clock; // at 20:26:40 UTC
        AlertQueue queue(nullptr, QString(), 10);
        AlertSender sender(queue, clock);
        QSignalSpy notes(&sender, &AlertSender::note);
        sender.setEndpoints({{"desk", receiver.url(), {}, "json", {}, {}}});
        queue.add(Numbered(1), {"desk"});
        queue.add(Numbered(2), {"desk"});
        sender.deliverDue();
        if (trickles) {
            QTRY_COMPARE(receiver.requests.size(), 1);
            clock.now += AlertSender::kDeliveryMs;
            sender.deliverDue();
        }
        QTRY_VERIFY(sender.idle());
        QCOMPARE(queue.waiting("desk"), failure.isEmpty() ? 0 : 2);
        const qsizetype tried = receiver.requests.size();
        clock.now += pauseMs - 1;
        sender.deliverDue();
        QVERIFY(sender.idle()); // not sooner
        QCOMPARE(receiver.requests.size(), tried);
        clock.now += 1;
        sender.deliverDue();
        QTRY_VERIFY(queue.empty());
        QStringList told, expected;
        for (const auto& n : notes)
            told << n.first().toString();
        if (!failure.isEmpty())
            expected << "Alerts to desk cannot be delivered: " + failure.replace("PORT", port) +
                            "; 2 waiting, tried again with growing pauses."
                     << "Alerts to desk are delivered again.";
        QCOMPARE(told, expected);
        QStringList seen;
        for (const auto& request : receiver.requests)
            seen << QString::fromLatin1(request.head).section(' ', 0, 1) + ' ' +
                        Json(request.body).value("id").toString();
        QCOMPARE(seen, requests);
        QVERIFY(elsewhere.requests.isEmpty());
    }

    // A receiver with a certificate the test made is reached through the endpoint's "ca file",
    // and not without it; the alert arrives in the endpoint's shape.
    void tlsWithTheEndpointsOwnAuthority() {
        QTemporaryDir dir;
        const QString key = dir.filePath("key.pem"), cert = dir.filePath("cert.pem");
        QProcess openssl;
        openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                                  "-subj", "/CN=127.0.0.1", "-addext",
                                  "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert});
        QVERIFY2(openssl.waitForFinished(30000) && openssl.exitCode() == 0,
                 openssl.readAllStandardError().constData());
        QFile keyFile(key);
        QVERIFY(keyFile.open(QIODevice::ReadOnly));
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setPrivateKey(QSslKey(&keyFile, QSsl::Rsa));
        tls.setLocalCertificate(QSslCertificate::fromPath(cert).value(0));
        LoopbackReceiver receiver(&tls);
        QVERIFY(receiver.listen());

        FakeClock clock;
        AlertQueue queue(nullptr, QString(), 10);
        AlertSender sender(queue, clock);
        QSignalSpy notes(&sender, &AlertSender::note);
        AlertEndpointConfig endpoint{"chat", receiver.url(), {}, "discord", {}, {}};
        const AlertEndpointConfig plain{"plain", receiver.url(), {}, "json", {}, {}};
        sender.setEndpoints({endpoint, plain}); // not trusted yet
        Alert alert = Numbered(1);
        alert.lines = {"@everyone **free gold** ``` <@123> \x1b[31mred"};
        queue.add(alert, {"chat"});
        sender.deliverDue();
        QTRY_COMPARE(notes.size(), 1);
        QVERIFY(receiver.requests.isEmpty());

        endpoint.caFile = cert;
        sender.setEndpoints({endpoint, plain}); // as every Start applies the settings again
        clock.now += AlertSender::kFirstRetryMs;
        sender.deliverDue();
        QTRY_COMPARE(receiver.requests.size(), 1);
        QTRY_COMPARE(notes.size(), 2); // "... are delivered again."
        // In the endpoint's shape, cleaned as its formats test tells.
        QCOMPARE(Json(receiver.requests.first().body),
                 QJsonDocument::fromJson(FormatAlert(alert, AlertFormat::Discord).body).object());

        // The other endpoint on that host and port trusts no certificate of the test's: it gets
        // no connection the first one made.
        queue.add(Numbered(2), {"plain"});
        sender.deliverDue();
        QTRY_COMPARE(notes.size(), 3);
        QVERIFY2(notes.last().first().toString().startsWith("Alerts to plain cannot be delivered"),
                 qPrintable(notes.last().first().toString()));
        QCOMPARE(receiver.requests.size(), 1);
    }
};

QTEST_GUILESS_MAIN(AlertDeliveryTest)
#include "tst_alert_delivery.moc"
