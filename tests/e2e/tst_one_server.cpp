// The real launcher on the stand-in servers, driven through its server tabs' menu: restarting the
// map server alone leaves the login and char server processes as they were and logs no crash; a
// server stopped alone stays stopped across status ticks.
#include "RealLauncher.h"
#include "TabMenuDriver.h"

class OneServerTest : public QObject {
    Q_OBJECT
private slots:
    void restartOneStopAnother() {
        TmuxSandbox sandbox;
        RealLauncher l(sandbox);
        QVERIFY(l.ready);
        frmMain& w = l.window();
        l.startWithQuickTicks();
        QList<int> pids[3];
        for (int i = 0; i < 3; ++i)
            QCOMPARE((pids[i] = l.runningFrom(l.programPath(i))).size(), 1);
        w.tmrHelper->stop();
        QVERIFY(!ClickServerTabMenu(w, 2, "Start")); // it runs already
        QVERIFY(ClickServerTabMenu(w, 2, "Restart"));
        QVERIFY2(WhenSeen([&] { return l.linesWith("> Map Server PID is ") == 2; }, 15000),
                 qPrintable(l.logSince(0).join('\n')));
        const QList<int> map = l.runningFrom(l.programPath(2));
        QVERIFY(map.size() == 1 && map != pids[2] &&
                l.linesWith("> Map Server PID is " + QString::number(map[0])) == 1);
        QCOMPARE(l.runningFrom(l.programPath(0)), pids[0]);
        QCOMPARE(l.runningFrom(l.programPath(1)), pids[1]);
        QVERIFY(w.tmrHelper->isActive()); // the new map server is raised as after a start

        QVERIFY(ClickServerTabMenu(w, 1, "Stop"));
        int ticksStopped = 0; // status ticks since the char server ended
        QObject::connect(w.tmrStatusUpdater, &QTimer::timeout,
                         [&] { ticksStopped += l.runningFrom(l.programPath(1)).isEmpty(); });
        QVERIFY(WhenSeen([&] { return ticksStopped >= 3; }, 15000));
        QVERIFY(l.runningFrom(l.programPath(1)).isEmpty());
        QCOMPARE(w.ServerState, 1);
        QCOMPARE(l.linesWith("just crashed!") + l.linesWith("Error Starting"), 0);
        QVERIFY(l.longestStallMs < 1000);
        w.cmdServerShutdown_Click();
        QTRY_VERIFY_WITH_TIMEOUT(l.runningFrom(QString(), true).isEmpty(), 10000);
    }
};

QTEST_MAIN(OneServerTest)
#include "tst_one_server.moc"
