// The priority step's log line tells what happened to the map server's priority.
#include "LauncherHarness.h"

#include <QTest>
#include <QTimer>

class PriorityStepTest : public QObject {
    Q_OBJECT

private slots:
    void logSaysWhatHappened_data() {
        QTest::addColumn<QString>("refusal");    // the system's answer to the change, if refused
        QTest::addColumn<bool>("serverStopped"); // Shutdown ran before the step
        QTest::addColumn<QString>("line");
        const QString failed = "> Map Server Process could not be changed to high priority class: ";
        QTest::newRow("changed") << QString() << false
                                 << "> Map Server Process was changed to high priority class.";
        QTest::newRow("refused") << "refused by the system" << false
                                 << failed + "refused by the system";
        QTest::newRow("map server gone") << QString() << true << failed + "no process";
    }
    void logSaysWhatHappened() {
        QFETCH(QString, refusal);
        QFETCH(bool, serverStopped);
        QFETCH(QString, line);
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        h.startAll();
        h.apis.refusePriority(refusal);
        if (serverStopped) {
            w.cmdServerShutdown_Click();
            h.apis.ReleaseProcessHandle(w.ServerProc[2].hProcess); // its process is gone
        }
        const int mark = h.logCount();
        w.tmrHelper_Timer();
        QCOMPARE(h.logTextsSince(mark), QStringList{line});
    }

    // Coarse timers may fire up to 5 % early: the step ran at 14.45 s instead of 15 s.
    void timersWithAPeriodArePrecise() {
        LauncherHarness h;
        QCOMPARE(h.window().tmrHelper->timerType(), Qt::PreciseTimer);
        QCOMPARE(h.window().tmrStatusUpdater->timerType(), Qt::PreciseTimer);
    }
};

QTEST_MAIN(PriorityStepTest)
#include "tst_priority_step.moc"
