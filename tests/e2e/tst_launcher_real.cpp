#include "FaultLauncher.h"
#include "ProcInspect.h"
#include "TabStrip.h"
#include "TmuxSandbox.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"
#include "linux/Pidfd.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <unistd.h>

namespace {

const QStringList kTitles{"Login Server", "Char Server", "Map Server"};
const QStringList kPrograms{"login-server", "char-server", "map-server"};

} // namespace

class LauncherRealTest : public QObject {
    Q_OBJECT
private slots:
    void startsAndStopsTheThreeServers() {
        const QString standinLog = QDir::tempPath() + "/corvane-e2e-" +
                                   QString::number(QCoreApplication::applicationPid()) + ".log";
        QFile::remove(standinLog);
        ScopedEnv logTo("CORVANE_STANDIN_LOG", QFile::encodeName(standinLog));
        TmuxSandbox sandbox;
        FaultLauncher launcher(sandbox, QStringLiteral("game world's $HOME=x;y"));
        QVERIFY(launcher.isReady());
        frmMain& w = launcher.window();

        w.cmdServerStart_Click();
        launcher.trackServers();
        QCOMPARE(w.ServerState, 1);

        const QByteArray sessions =
            sandbox.tmux({"list-sessions", "-F", "#{session_name}"}).value_or("");
        std::vector<int> pidfds;
        for (int i = 0; i < 3; ++i) {
            const ServerProcess& record = w.ServerProc[i];
            QCOMPARE(record.sExePath, launcher.folder() + "/" + kPrograms[i]);
            QVERIFY(record.lPID > 0);
            QCOMPARE(proc::Exe(record.lPID), record.sExePath);
            QCOMPARE(proc::Cwd(record.lPID), launcher.folder());
            QVERIFY(
                !launcher
                     .lastLineWith("> " + kTitles[i] + " PID is " + QString::number(record.lPID))
                     .isEmpty());
            QVERIFY(sessions.split('\n').contains(kTitles[i].toUtf8()));
            pidfds.push_back(OpenPidfd(record.lPID));
            QVERIFY(pidfds.back() >= 0);
        }
        // The process list names each server in full.
        const QString list = sandbox.apis().GetProcessList();
        for (int i = 0; i < 3; ++i)
            QVERIFY(
                list.contains(QString::number(w.ServerProc[i].lPID) + ":" + kPrograms[i] + ","));

        // Each tab shows its own server's console.
        for (int tab = 1; tab <= 3; ++tab) {
            w.conTab->Select(tab);
            QTRY_VERIFY_WITH_TIMEOUT(
                [&] {
                    w.conTab_Click();
                    return w.txtOutput->toPlainText().contains("stand-in server: " +
                                                               kTitles[tab - 1]);
                }(),
                5000);
            QVERIFY(!w.txtOutput->toPlainText().contains(QChar(0x1b)));
        }

        w.cmdServerShutdown_Click();
        QCOMPARE(w.ServerState, 0);
        QVERIFY(!launcher.lastLineWith("> Login Server returnred code 1").isEmpty());
        QVERIFY(!launcher.lastLineWith("> Character Server returned code 1").isEmpty());
        QVERIFY(!launcher.lastLineWith("> Map Server returned code 1").isEmpty());
        // Each server ends by itself, after saying so.
        for (const int fd : pidfds) {
            QTRY_VERIFY_WITH_TIMEOUT(PidfdProcessEnded(fd), 5000);
            close(fd);
        }
        QFile log(standinLog);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString said = QString::fromUtf8(log.readAll());
        for (const QString& title : kTitles)
            QVERIFY2(said.contains(title + " stopped."), qPrintable(said));
        log.remove();
    }

    void aKilledServerIsStartedAgain() {
        TmuxSandbox sandbox;
        FaultLauncher launcher(sandbox, QStringLiteral("game world's $HOME=x;y"));
        QVERIFY(launcher.isReady());
        frmMain& w = launcher.window();
        QVERIFY(w.vsInterval->SetValue(-1));
        QVERIFY(w.vsKeepIconFor->SetValue(-5));
        w.conTab->Select(3);
        w.cmdServerStart_Click();
        launcher.trackServers();
        QVERIFY(w.tmrStatusUpdater->isActive());

        // The tick runs its waits inside the event loop, so watch from a timer of our own.
        const std::int32_t killed = w.ServerProc[2].lPID;
        qint64 crashSeenMs = -1, pidLineMs = -1, mirrorMs = -1;
        std::int16_t stateAtPidLine = -1;
        std::int32_t relaunched = 0;
        QElapsedTimer sinceKill;
        QTimer watch;
        watch.setInterval(5);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (crashSeenMs < 0 && !launcher.lastLineWith("> Map Server just crashed!").isEmpty())
                crashSeenMs = sinceKill.elapsed();
            const std::int32_t pid = w.ServerProc[2].lPID;
            if (pidLineMs < 0 && pid > 0 && pid != killed &&
                !launcher.lastLineWith("> Map Server PID is " + QString::number(pid)).isEmpty()) {
                pidLineMs = sinceKill.elapsed();
                stateAtPidLine = w.ServerState;
                relaunched = pid;
                launcher.trackServers();
            }
            if (relaunched && mirrorMs < 0 &&
                w.txtOutput->toPlainText().contains("pid " + QString::number(relaunched))) {
                mirrorMs = sinceKill.elapsed();
                // A stop during the crash notice ends the tick; nothing is started again.
                w.cmdServerShutdown_Click();
            }
        });
        watch.start();
        sinceKill.start();
        QCOMPARE(::kill(killed, SIGKILL), 0);
        QTRY_VERIFY_WITH_TIMEOUT(mirrorMs >= 0 && !w.tmrStatusUpdater->isActive(), 15000);
        watch.stop();
        qInfo("kill -9: crash line after %lld ms, relaunched server's PID line after %lld ms",
              crashSeenMs, pidLineMs);

        // Within one period (1 s) plus the settle time (0.5 s), with room for a slow machine.
        QVERIFY(crashSeenMs >= 0 && pidLineMs >= crashSeenMs);
        QCOMPARE(stateAtPidLine, 2);
        QCOMPARE(proc::Exe(relaunched), launcher.folder() + "/map-server");
        QVERIFY(w.tmrHelper->isActive());

        QTest::qWait(1500);
        QCOMPARE(w.ServerState, 0);
        QVERIFY(w.lblCrashNotice->isHidden());
        QCOMPARE(w.ServerProc[2].lPID, relaunched);
        QCOMPARE(launcher.log().filter("just crashed!").size(), 1);
        QCOMPARE(launcher.log().filter(" PID is ").size(), 4);
    }
};

QTEST_MAIN(LauncherRealTest)
#include "tst_launcher_real.moc"
