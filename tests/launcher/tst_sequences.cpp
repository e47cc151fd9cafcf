// Start and stop sequences and the exit, against the pretend operating system.
#include "LauncherHarness.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

const QStringList kCompleteStart{"> Starting Login Server ...", "> Login Server PID is 1000",
                                 "> Starting Char Server ...",  "> Char Server PID is 1001",
                                 "> Starting Map Server ...",   "> Map Server PID is 1002"};

} // namespace

class SequencesTest : public QObject {
    Q_OBJECT
private slots:
    void completeStartThenStop() {
        LauncherHarness h;
        frmMain& w = h.online();
        QCOMPARE(h.logSince(0).mid(h.logCount() - 6), kCompleteStart);
        QCOMPARE(h.apis.argsOf("LaunchServer"),
                 QStringList({h.programPath(0), h.programPath(1), h.programPath(2)}));
        QCOMPARE(w.ServerState, 1);
        QVERIFY(w.tmrHelper->isActive() && w.tmrStatusUpdater->isActive());
        // Half a second of settle time per server, never more than 50 ms without events.
        QCOMPARE(h.clock.now, 1'001'500);
        QVERIFY(h.clock.longestSleep <= 50);

        h.apis.closeResult = 0;
        const int mark = h.logCount();
        w.cmdServerShutdown_Click();
        QCOMPARE(
            h.logSince(mark),
            QStringList({"> Terminating Servers by Sending Terminate Signal...",
                         "> Login Server returnred code 0", "> Character Server returned code 0",
                         "> Map Server returned code 0"}));
        QCOMPARE(h.apis.argsOf("CloseServerConsole"),
                 QStringList({"Login Server", "Char Server", "Map Server"}));
        QCOMPARE(w.ServerState, 0);
        QVERIFY(!w.tmrStatusUpdater->isActive() && w.cmdServerStart->isEnabled());
        QCOMPARE(w.txtOutput->toPlainText(), QStringLiteral("Servers are Offline."));
    }

    void startsThatEndEarly_data() {
        QTest::addColumn<bool>("fromButton");
        QTest::addColumn<QString>("failure"); // empty: the char server's file is missing
        QTest::addColumn<QStringList>("tail");
        const QString missing = "Cannot find " + LauncherHarness::programPath(1);
        QTest::newRow("missing, button") << true << QString() << QStringList{missing};
        QTest::newRow("missing, tray") << false << QString() << QStringList{missing};
        QTest::newRow("launch fails")
            << false << "no tmux"
            << QStringList{"Error Starting Char Server, please see output in Server status",
                           "> Char Server could not be started: no tmux"};
    }
    void startsThatEndEarly() {
        QFETCH(bool, fromButton);
        QFETCH(QString, failure);
        QFETCH(QStringList, tail);
        LauncherHarness h;
        h.addServerFiles();
        if (failure.isEmpty())
            h.apis.files.remove(h.programPath(1));
        else
            h.apis.failingLaunches[h.programPath(1)] = failure;
        frmMain& w = h.load();
        const int mark = h.logCount();
        fromButton ? w.cmdServerStart_Click() : w.mnuTrayStartServers_Click();
        QCOMPARE(h.logSince(mark), kCompleteStart.mid(0, 3) + tail);
        QCOMPARE(h.apis.count("LaunchServer"), failure.isEmpty() ? 1 : 2);
        QVERIFY(!w.tmrHelper->isActive());
        // The button shows the launcher online all the same; the tray item leaves it offline.
        QCOMPARE(w.ServerState, fromButton ? 1 : 0);
    }

    void requestsDuringASettleTime() {
        for (const bool stop : {false, true}) {
            LauncherHarness h;
            h.addServerFiles();
            frmMain& w = h.load();
            h.clock.onSleep = [&] {
                if (h.apis.count("LaunchServer") != 2 || h.apis.count("CloseServerConsole"))
                    return;
                if (stop)
                    return w.mnuTrayStopServers_Click();
                w.cmdServerStart_Click();
                w.mnuTrayStartServers_Click();
            };
            w.cmdServerStart_Click();
            QCOMPARE(h.apis.count("LaunchServer"), stop ? 2 : 3);
            QCOMPARE(w.ServerState, stop ? 0 : 1);
            QCOMPARE(w.tmrHelper->isActive(), !stop);
        }
    }

    void priorityStepRunsOncePerArming() {
        LauncherHarness h;
        frmMain& w = h.online();
        w.cmdServerShutdown_Click(); // a stop within the interval still lets the step run
        w.tmrHelper->setInterval(10);
        w.tmrHelper->start();
        QTest::qWait(150);
        QCOMPARE(h.apis.argsOf("SetProcessPriority"),
                 QStringList{QString::number(w.ServerProc[2].hProcess.raw())});
        QCOMPARE(h.apis.calls.back().value, 128);
        QCOMPARE(h.logSince(h.logCount() - 1),
                 QStringList({"> Map Server Process was changed to high priority class."}));
    }

    void exitStopsRunningServersBeforeSaving() {
        for (const std::int16_t state : {0, 1, 2}) {
            LauncherHarness h;
            frmMain& w = h.online();
            if (state == 0)
                w.cmdServerShutdown_Click();
            w.ServerState = state;
            int closes = 0;
            h.apis.onCall = [&](const QString& op) {
                closes += op == "CloseServerConsole" && h.settings.writes == 0;
            };
            w.mnuTrayExit->trigger();
            QCOMPARE(closes, state ? 3 : 0);
            QCOMPARE(h.settings.writes, 4);
            QCOMPARE(h.endProgramCalls, 1);
            QVERIFY(!w.tmrStatusUpdater->isActive());
        }
    }
};

QTEST_MAIN(SequencesTest)
#include "tst_sequences.moc"
