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

// A core online through the Start button's sequence, and its control server, asked by a tester.
struct Online {
    CoreHarness h;
    ServerFleet& fleet = h.startedCore();
    ControlServer control{h.core()};

    QJsonObject ask(const QByteArray& request) {
        return QJsonDocument::fromJson(control.handle(request, "tester (uid 7)").answer).object();
    }
    QJsonObject ask(const QJsonObject& request) {
        return ask(QJsonDocument(request).toJson(QJsonDocument::Compact));
    }
};

QJsonObject On(const char* verb, const QStringList& servers = {}) {
    QJsonObject request{{"verb", verb}};
    if (!servers.isEmpty())
        request["servers"] = QJsonArray::fromStringList(servers);
    return request;
}

} // namespace

class ControlServerTest : public QObject {
    Q_OBJECT

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
        // As the window's command line: no control character, raw or as its picture.
        for (const QString& text : {QStringLiteral("save\x03"), QStringLiteral("save\u2403"),
                                    QStringLiteral("say \x1b[2J")}) {
            QJsonObject send = On("send", {"map"});
            send["text"] = text;
            QTest::addRow("send %s", qPrintable(QString::number(text.back().unicode())))
                << QJsonDocument(send).toJson(QJsonDocument::Compact) << "control characters";
        }
        QTest::newRow("kill unconfirmed")
            << QByteArray(R"({"verb":"kill","servers":["login"]})") << "confirm with --yes";
        const QByteArray restore = R"({"verb":"restore","servers":["login"],"archive":)";
        QTest::newRow("restore unconfirmed")
            << restore + R"("login-server-20260101-000000.tar.zst"})"
            << "confirm with --yes";
        // Confirmed, a restore still takes only one of the server's own archives.
        QTest::newRow("restore of another file") << restore + R"("/etc/passwd","yes":true})"
                                                 << "no such backup";
    }
    void refusesWhatIsNoRequest() {
        QFETCH(QByteArray, request);
        QFETCH(QString, why);
        Online o;
        CoreHarness& h = o.h;
        const int mark = h.logCount();
        const QJsonObject answer = o.ask(request);
        QCOMPARE(answer["ok"].toBool(true), false);
        QVERIFY2(answer["message"].toString().contains(why),
                 qPrintable(answer["message"].toString()));
        QCoreApplication::processEvents();
        QCOMPARE(h.logSince(mark).filter("Control:"), QStringList());
        QCOMPARE(h.apis.count("SignalServer") + h.apis.count("CloseServerConsole") +
                     h.apis.count("KillServer") + h.apis.count("SendConsoleInput"),
                 0);
    }

    // A restart of all: the Shutdown button's stop, then, once every server has ended, the Start
    // button's sequence in its order. Then named servers, by short or display name in any case,
    // each acted on alone and the asker logged; the others keep running.
    void actsOnAllOrTheServersNamed() {
        Online o;
        auto& [h, fleet, control] = o;
        QVERIFY(o.ask(On("restart"))["ok"].toBool());
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

        QVERIFY(o.ask(On("stop", {"mAP sErVer", "char"}))["ok"].toBool());
        QTRY_VERIFY(!fleet.ServerRuns(ServerTable::kMap) && !fleet.ServerRuns(ServerTable::kChar));
        QVERIFY(fleet.ServerRuns(ServerTable::kLogin));
        QCOMPARE(h.linesWith("> Control: stop Char Server, Map Server asked by tester (uid 7)."),
                 1);
        QCOMPARE(o.ask(On("stop", {"map"}))["message"].toString(),
                 "Map Server cannot be stopped now");
        const int launches = h.apis.count("LaunchServer");
        QVERIFY(o.ask(On("start", {"map"}))["ok"].toBool());
        QTRY_COMPARE(h.apis.count("LaunchServer"), launches + 1);
        QCOMPARE(h.apis.argsOf("LaunchServer").last(), CoreHarness::programPath(ServerTable::kMap));
    }

    // The log's and a console's last lines; the console's escapes shown, never passed on.
    void readsTheirLastLines() {
        Online o;
        CoreHarness& h = o.h;
        h.apis.consoles["Char Server"] = "one\ntwo\n\x1b[31mthree\n\n";
        QJsonObject read = On("console", {"char"});
        read["lines"] = 2;
        QCOMPARE(o.ask(read)["lines"].toArray().toVariantList(),
                 QVariantList({"two", "\u241b[31mthree"}));
        read = On("log");
        read["lines"] = 3;
        const QStringList last = h.core().log().lines().mid(h.logCount() - 3);
        QCOMPARE(o.ask(read)["lines"].toArray().toVariantList(), QVariant(last).toList());
        // However many are asked for, an answer holds a bounded tail of them.
        h.apis.consoles["Map Server"] = (QString(4000, u'y') + u'\n').repeated(2000) + "end\n";
        read = On("console", {"map"});
        read["lines"] = ControlServer::kMaxLines;
        const QJsonArray lines = o.ask(read)["lines"].toArray();
        QCOMPARE(lines.last().toString(), "end");
        QCOMPARE(lines.size(), ControlServer::kMaxAnswerChars / 4001 + 1);

        // What a follower of a console is sent: the lines that came since the last look.
        const struct {
            QStringList before, now, fresh;
        } cases[] = {
            {{"a", "b"}, {"a", "b", "c"}, {"c"}},                // grown
            {{"a", "b", "c"}, {"b", "c", "d", "e"}, {"d", "e"}}, // scrolled
            {{"x", "x"}, {"x", "x", "x"}, {}},                   // repeats
            {{"a", "b"}, {"a", "b"}, {}},                        // unchanged
            {{"a", "b"}, {"new"}, {"new"}},                      // cleared
        };
        for (const auto& [before, now, fresh] : cases)
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

    // A server's start time is its process's: none while a start of it is under way, then when
    // it was seen running.
    void aServerBeingStartedHasNoStartTimeYet() {
        CoreHarness h;
        h.addServerFiles();
        h.loadCore();
        ControlServer control(h.core());
        const auto mapStart = [&] {
            const QByteArray status = control.handle(R"({"verb":"status"})", "t").answer;
            return QJsonDocument::fromJson(status)["servers"]["map"]["start_time"];
        };
        QJsonValue whileStarting = 0;
        QObject::connect(&h.fleet(), &ServerFleet::serverLaunched, [&](int server) {
            if (server == ServerTable::kMap)
                whileStarting = mapStart();
        });
        h.fleet().StartServersAndGoOnline();
        QVERIFY2(whileStarting.isNull(), qPrintable(QString::number(whileStarting.toDouble())));
        const double started = h.clock.EpochMs() / 1000.0;
        QCOMPARE(mapStart().toDouble(), started);
        // It stays what it was when the wall clock is set on (by a minute here; the two clocks'
        // own drift moved it by a millisecond every other look, and the panel's pages were sent
        // the state anew each time).
        h.clock.advance(5000);
        h.clock.epochOffset += 60'000;
        QCOMPARE(mapStart().toDouble(), started);
    }
};

QTEST_GUILESS_MAIN(ControlServerTest)
#include "tst_control_server.moc"
