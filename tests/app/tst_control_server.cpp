// The control socket's verbs on a launcher core with a pretend operating system: what a request
// may hold, the servers it names, the confirmations that kill and restore need, the command line's
// rules for send, the reads and their following, and a follower that stops reading let go.
#include "ControlServer.h"
#include "CoreHarness.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QTemporaryDir>

namespace {

const QString kWho = QStringLiteral("tester (uid 7)");

} // namespace

class ControlServerTest : public QObject {
    Q_OBJECT

    QJsonObject ask(ControlServer& control, const QJsonObject& request) {
        return QJsonDocument::fromJson(
                   control.handle(QJsonDocument(request).toJson(QJsonDocument::Compact), kWho)
                       .answer)
            .object();
    }
    static QJsonObject on(const char* verb, const QStringList& servers = {}) {
        QJsonObject request{{"verb", verb}};
        if (!servers.isEmpty())
            request["servers"] = QJsonArray::fromStringList(servers);
        return request;
    }

private slots:
    void refusesWhatIsNoRequest_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("why");
        QTest::newRow("not JSON") << QByteArray("stop") << "not a JSON object";
        QTest::newRow("unknown verb") << QByteArray(R"({"verb":"format"})") << "unknown verb";
        QTest::newRow("no verb") << QByteArray(R"({"servers":["map"]})") << "no verb";
        QTest::newRow("unknown field")
            << QByteArray(R"({"verb":"stop","force":true})") << "unknown or mistyped field: force";
        QTest::newRow("mistyped field")
            << QByteArray(R"({"verb":"kill","yes":"yes"})") << "mistyped field: yes";
        QTest::newRow("unknown server")
            << QByteArray(R"({"verb":"stop","servers":["web"]})") << "no such server: web";
        QTest::newRow("too many lines")
            << QByteArray(R"({"verb":"log","lines":100000})") << "number of lines";
        QTest::newRow("send to all")
            << QByteArray(R"({"verb":"send","text":"save"})") << "send needs one server";
    }
    void refusesWhatIsNoRequest() {
        QFETCH(QByteArray, request);
        QFETCH(QString, why);
        CoreHarness h;
        h.startedCore();
        ControlServer control(h.core());
        const int mark = h.logCount();
        const QJsonObject answer =
            QJsonDocument::fromJson(control.handle(request, kWho).answer).object();
        QCOMPARE(answer["ok"].toBool(true), false);
        QVERIFY2(answer["message"].toString().contains(why),
                 qPrintable(answer["message"].toString()));
        QCoreApplication::processEvents();
        QCOMPARE(h.logSince(mark).filter("Control:"), QStringList());
        QCOMPARE(h.apis.count("SignalServer") + h.apis.count("CloseServerConsole") +
                     h.apis.count("KillServer"),
                 0);
    }

    // Named servers, by short or display name in any case, each acted on alone and the asker
    // logged; the others keep running.
    void actsOnTheServersNamed() {
        CoreHarness h;
        ServerFleet& fleet = h.startedCore();
        ControlServer control(h.core());
        QCOMPARE(ask(control, on("start"))["message"].toString(), "the servers are online already");
        QVERIFY(ask(control, on("stop", {"mAP sErVer", "char"}))["ok"].toBool());
        QTRY_VERIFY(!fleet.ServerRuns(ServerTable::kMap) && !fleet.ServerRuns(ServerTable::kChar));
        QVERIFY(fleet.ServerRuns(ServerTable::kLogin));
        QCOMPARE(h.linesWith("> Control: stop Char Server, Map Server asked by tester (uid 7)."),
                 1);
        QCOMPARE(ask(control, on("stop", {"map"}))["message"].toString(),
                 "Map Server cannot be stopped now");
        const int launches = h.apis.count("LaunchServer");
        QVERIFY(ask(control, on("start", {"map"}))["ok"].toBool());
        QTRY_COMPARE(h.apis.count("LaunchServer"), launches + 1);
        QCOMPARE(h.apis.argsOf("LaunchServer").last(), CoreHarness::programPath(ServerTable::kMap));
    }

    // A restart of all: the Shutdown button's stop, then, once every server has ended, the Start
    // button's sequence in its order.
    void restartsAllOnceTheyHaveEnded() {
        CoreHarness h;
        ServerFleet& fleet = h.startedCore();
        ControlServer control(h.core());
        QVERIFY(ask(control, on("restart"))["ok"].toBool());
        QCoreApplication::processEvents();
        QCOMPARE(h.apis.count("LaunchServer"), 3);
        for (int i = 0; i < 20 && h.apis.count("LaunchServer") < 6; ++i) {
            h.clock.advance(1000);
            QCoreApplication::processEvents();
        }
        QStringList programs;
        for (int i = 0; i < ServerTable::kCount; ++i)
            programs << CoreHarness::programPath(i);
        QCOMPARE(h.apis.argsOf("LaunchServer").mid(3), programs);
        QCOMPARE(fleet.ServerState(), 1);
        QCOMPARE(h.linesWith("Control: restart asked by tester (uid 7)."), 1);
    }

    void killAndRestoreNeedConfirmation() {
        CoreHarness h;
        ServerFleet& fleet = h.startedCore();
        ControlServer control(h.core());
        QJsonObject kill = on("kill", {"login"});
        QVERIFY(ask(control, kill)["message"].toString().contains("confirm with --yes"));
        QJsonObject restore = on("restore", {"login"});
        restore["archive"] = "login-server-20260101-000000.tar.zst";
        QVERIFY(ask(control, restore)["message"].toString().contains("confirm with --yes"));
        QCoreApplication::processEvents();
        QCOMPARE(h.apis.count("KillServer"), 0);
        QVERIFY(fleet.ServerRuns(ServerTable::kLogin));

        kill["yes"] = true;
        QVERIFY(ask(control, kill)["ok"].toBool());
        QTRY_VERIFY(!fleet.ServerRuns(ServerTable::kLogin));
        QCOMPARE(h.apis.count("KillServer"), 1);
        QCOMPARE(h.linesWith("Control: kill Login Server asked by tester (uid 7)."), 1);
        // Confirmed, a restore still takes only one of the server's own archives.
        restore["yes"] = true;
        restore["archive"] = "/etc/passwd";
        QVERIFY(ask(control, restore)["message"].toString().contains("no such backup"));
    }

    // As the window's command line: no control character, raw or as its picture, reaches a
    // console, and a line goes to the server named whichever the pane shows.
    void sendTypesAsTheCommandLine() {
        CoreHarness h;
        h.startedCore();
        h.apis.consoles["Map Server"] = "ready\n";
        ControlServer control(h.core());
        QJsonObject send = on("send", {"map"});
        for (const QString& text : {QStringLiteral("save\x03"), QStringLiteral("save\u2403"),
                                    QStringLiteral("say \x1b[2J")}) {
            send["text"] = text;
            QVERIFY(ask(control, send)["message"].toString().contains("control characters"));
        }
        QCOMPARE(h.apis.count("SendConsoleInput"), 0);
        send["text"] = "say hello";
        QVERIFY(ask(control, send)["ok"].toBool());
        QCOMPARE(h.apis.argsOf("SendConsoleInput"), QStringList{"Map Server\nsay hello"});
        QCOMPARE(h.linesWith("Control: send to Map Server asked by tester (uid 7)."), 1);
    }

    // The log's and a console's last lines; the console's escapes shown, never passed on.
    void readsTheirLastLines() {
        CoreHarness h;
        h.startedCore();
        h.apis.consoles["Char Server"] = "one\ntwo\n\x1b[31mthree\n\n";
        ControlServer control(h.core());
        QJsonObject read = on("console", {"char"});
        read["lines"] = 2;
        QCOMPARE(ask(control, read)["lines"].toArray().toVariantList(),
                 QVariantList({"two", "\u241b[31mthree"}));
        read = on("log");
        read["lines"] = 3;
        const QStringList last = h.core().log().lines().mid(h.logCount() - 3);
        QCOMPARE(ask(control, read)["lines"].toArray().toVariantList(), QVariant(last).toList());
        // However many are asked for, an answer holds a bounded tail of them.
        h.apis.consoles["Map Server"] = (QString(4000, u'y') + u'\n').repeated(2000) + "end\n";
        read = on("console", {"map"});
        read["lines"] = ControlServer::kMaxLines;
        const QJsonArray lines = ask(control, read)["lines"].toArray();
        QCOMPARE(lines.last().toString(), "end");
        QCOMPARE(lines.size(), ControlServer::kMaxAnswerChars / 4001 + 1);
    }

    void newConsoleLines_data() {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("now");
        QTest::addColumn<QStringList>("fresh");
        QTest::newRow("grown") << QStringList{"a", "b"} << QStringList{"a", "b", "c"}
                               << QStringList{"c"};
        QTest::newRow("scrolled") << QStringList{"a", "b", "c"} << QStringList{"b", "c", "d", "e"}
                                  << QStringList{"d", "e"};
        QTest::newRow("repeats") << QStringList{"x", "x"} << QStringList{"x", "x", "x"}
                                 << QStringList{};
        QTest::newRow("unchanged")
            << QStringList{"a", "b"} << QStringList{"a", "b"} << QStringList{};
        QTest::newRow("cleared") << QStringList{"a", "b"} << QStringList{"new"}
                                 << QStringList{"new"};
    }
    void newConsoleLines() {
        QFETCH(QStringList, before);
        QFETCH(QStringList, now);
        QFETCH(QStringList, fresh);
        QCOMPARE(ControlServer::NewConsoleLines(before, now), fresh);
    }

    // Through the socket: a follower gets every new log line; one that stops reading is let go
    // before its lines pile up without end, and the launcher goes on.
    void followsAndLetsASlowFollowerGo() {
        CoreHarness h;
        h.loadCore();
        QTemporaryDir dir;
        ControlServer control(h.core());
        QVERIFY2(control.listen(dir.filePath("ctl")), qPrintable(control.error()));
        QLocalSocket reader, sleeper;
        for (QLocalSocket* client : {&reader, &sleeper}) {
            client->connectToServer(dir.filePath("ctl"));
            QVERIFY(client->waitForConnected(1000));
            client->write(R"({"verb":"log","lines":1,"follow":true})"
                          "\n");
        }
        QTRY_VERIFY(reader.canReadLine() && sleeper.canReadLine());
        QVERIFY(QJsonDocument::fromJson(reader.readLine()).object()["ok"].toBool());
        QCOMPARE(control.followers(), 2);
        sleeper.setReadBufferSize(1); // reads no more
        h.core().log().note("first news");
        QTRY_VERIFY(reader.canReadLine());
        QVERIFY(reader.readLine().contains("first news"));
        const QString filler(1000, u'x');
        for (int i = 0; i < 2000 && control.followers() == 2; ++i) {
            h.core().log().note(filler);
            QCoreApplication::processEvents();
            reader.readAll();
        }
        QTRY_COMPARE(control.followers(), 1);
        h.core().log().note("last news");
        QByteArray got;
        QTRY_VERIFY((got += reader.readAll()).contains("last news"));
    }
};

QTEST_GUILESS_MAIN(ControlServerTest)
#include "tst_control_server.moc"
