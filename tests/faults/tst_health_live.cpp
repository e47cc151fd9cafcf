// The real launcher with the stand-ins and an installation's file of probes, expected exits and
// environment lines: a hung map server is found by its port, reported, stopped and started again,
// and a map server that ends on purpose stays stopped. (Readiness and player counts: tst_health,
// tst_players_memory.)
#include "RealLauncher.h"

namespace {

// The launcher over a folder whose installation's file is ini, with the servers' own ports.
struct Live {
    explicit Live(const QString& ini) {
        QString text = ini;
        for (int i = 0; i < 3; ++i) {
            port[i] = FreePort(SOCK_STREAM);
            text.replace(QStringLiteral("$PORT%1").arg(i), QString::number(port[i]));
            text += QStringLiteral("\n[%1]\nenvironment = CORVANE_STANDIN_PORT=%2\n")
                        .arg(ServerTable::displayNames()[i])
                        .arg(port[i]);
        }
        ready = WriteFile(l.folder + "/corvane-launcher.ini", text.toUtf8()) &&
                QDir().mkpath(l.folder + "/logs");
        l.core().UseLogFolder(l.folder + "/logs", QString());
    }
    int reports() const { return int(QDir(l.folder + "/logs").entryList({"crash-*"}).size()); }
    RealLauncher l;
    int port[3];
    bool ready = false;
};

} // namespace

class HealthLiveTest : public QObject {
    Q_OBJECT
private slots:
    void aHungMapServerIsReportedAndRelaunched() {
        QTemporaryDir flag;
        const QString hang = flag.filePath("hang");
        QVERIFY(QFile(hang).open(QIODevice::WriteOnly));
        Live live("[Map Server]\nprobe = port $PORT2 every 1 misses 2\nenvironment = "
                  "CORVANE_STANDIN_HANG_AFTER=1\nenvironment = CORVANE_STANDIN_HANG_WHILE=" +
                  hang + "\n");
        RealLauncher& l = live.l;
        QVERIFY(live.ready && l.startWithQuickTicks());
        QTRY_VERIFY_WITH_TIMEOUT(l.linesWith("> Map Server PID is ") == 1, 15000);
        const std::int32_t hungPid = l.fleet().ServerProc(2).lPID;
        const QString hung =
            QStringLiteral("> Map Server: hung (no answer on port %1 for 2 s); crash report: ")
                .arg(live.port[2]);
        QTRY_VERIFY_WITH_TIMEOUT(l.linesWith(hung) == 1, 15000);
        QFile::remove(hang); // the relaunched server runs as it should
        const QStringList log = l.logSince(0);
        const qsizetype at = RowWith(log, hung);
        QVERIFY2(at > 0 && log[at - 1].endsWith("> Map Server just crashed!"),
                 qPrintable(log.join('\n')));
        QVERIFY(ReadFile(log[at].mid(log[at].indexOf(hung) + hung.size()))
                    .contains("Listening on port"));
        QTRY_VERIFY_WITH_TIMEOUT(l.linesWith("> Map Server PID is ") == 2, 15000);
        QVERIFY(l.fleet().ServerProc(2).lPID != hungPid);
        QTRY_COMPARE_WITH_TIMEOUT(l.runningFrom(l.programPath(2)),
                                  QList<int>{l.fleet().ServerProc(2).lPID}, 5000);
        QCOMPARE(l.core().CurrentStatus().servers[2].probeFailures, 1u);
        QCOMPARE(live.reports(), 1);
        QVERIFY(l.longestStallMs < 1000);
    }

    void anExpectedExitIsNotRelaunched() {
        Live live("[Map Server]\nexpected exit = 0\nenvironment = CORVANE_STANDIN_CRASH_AFTER=1\n"
                  "environment = CORVANE_STANDIN_EXIT_STATUS=0\n");
        RealLauncher& l = live.l;
        QVERIFY(live.ready && l.startWithQuickTicks());
        QTRY_VERIFY_WITH_TIMEOUT(
            l.linesWith("> Map Server ended by itself (exit status 0); not started again") == 1,
            15000);
        QTest::qWait(2000); // two status ticks: nothing starts it again
        QCOMPARE(l.linesWith("> Starting Map Server"), 1);
        QCOMPARE(l.linesWith("just crashed"), 0);
        QCOMPARE(live.reports(), 0);
        QCOMPARE(l.fleet().supervisor(2).state(), ServerSupervisor::State::Stopped);
        QVERIFY(l.runningFrom(l.programPath(2)).isEmpty());
    }
};

QTEST_MAIN(HealthLiveTest)
#include "tst_health_live.moc"
