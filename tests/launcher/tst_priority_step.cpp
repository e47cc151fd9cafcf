// The priority step's log line tells what happened to the map server's priority.
#include "LauncherHarness.h"

#include <QTest>
#include <QTimer>

class PriorityStepTest : public QObject {
    Q_OBJECT

private slots:
    void logSaysWhatHappened_data() {
        QTest::addColumn<QString>("refusal");    // what the system answers the change, if refused
        QTest::addColumn<bool>("serverStopped"); // Shutdown ran before the step
        QTest::addColumn<QString>("line");
        QTest::newRow("changed") << QString() << false
                                 << "> Map Server Process was changed to high priority class.";
        QTest::newRow("refused") << "refused by the system: no permission" << false
                                 << "> Map Server Process could not be changed to high priority "
                                    "class: refused by the system: no permission";
        QTest::newRow("map server gone") << QString() << true
                                         << "> Map Server Process could not be changed to high "
                                            "priority class: no process";
    }
    void logSaysWhatHappened() {
        QFETCH(QString, refusal);
        QFETCH(bool, serverStopped);
        QFETCH(QString, line);
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        h.startAll();
        QVERIFY(w.tmrHelper->isActive());
        h.apis.refusePriority(refusal);
        if (serverStopped) {
            w.cmdServerShutdown_Click();
            // The handle of a server that has gone names no process any more.
            h.apis.ReleaseProcessHandle(w.ServerProc[2].hProcess);
        }
        const int mark = h.logCount();
        w.tmrHelper_Timer();
        QCOMPARE(h.logTextsSince(mark), QStringList{line});
        QVERIFY(!w.tmrHelper->isActive());
    }

    // Coarse timers may fire up to 5 % early: the step ran at 14.45 s instead of 15 s.
    void timersWithAPeriodArePrecise() {
        LauncherHarness h;
        frmMain& w = h.load();
        QCOMPARE(w.tmrHelper->timerType(), Qt::PreciseTimer);
        QCOMPARE(w.tmrStatusUpdater->timerType(), Qt::PreciseTimer);
    }
};

QTEST_MAIN(PriorityStepTest)
#include "tst_priority_step.moc"
