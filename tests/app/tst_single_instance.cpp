// One launcher per server folder: a later start on the folder hands over to the first and asks
// for its window; another folder is another instance; a launcher killed outright blocks nothing.
#include "LauncherHarness.h"
#include "SingleInstance.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

class SingleInstanceTest : public QObject {
    Q_OBJECT
private slots:
    void aSecondStartOnTheFolderHandsOver() {
        QTemporaryDir runtime, servers, other;
        SingleInstance first(servers.path(), runtime.path());
        QSignalSpy raised(&first, &SingleInstance::raiseRequested);
        QCOMPARE(first.claim(), SingleInstance::Role::First);
        QVERIFY(first.listenError().isEmpty());

        // The same folder spelled otherwise is the same instance.
        SingleInstance second(servers.path() + "/./", runtime.path());
        QCOMPARE(second.claim(), SingleInstance::Role::HandedOver);
        QCOMPARE(raised.count(), 1);

        SingleInstance elsewhere(other.path(), runtime.path());
        QCOMPARE(elsewhere.claim(), SingleInstance::Role::First);
        QCOMPARE(raised.count(), 1);
    }

    void aKilledLauncherLeavesNothingThatBlocks() {
        QTemporaryDir runtime, servers;
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // A launcher that takes the folder and is killed before it can clean up.
            SingleInstance killed(servers.path(), runtime.path());
            if (killed.claim() == SingleInstance::Role::First)
                raise(SIGKILL);
            _exit(3);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        // Its lock file and socket are still there.
        QCOMPARE(QDir(runtime.path()).entryList(QDir::System | QDir::Files).size(), 2);

        SingleInstance next(servers.path(), runtime.path());
        QCOMPARE(next.claim(), SingleInstance::Role::First);
        QVERIFY(next.listenError().isEmpty());
        SingleInstance after(servers.path(), runtime.path());
        QCOMPARE(after.claim(), SingleInstance::Role::HandedOver);
    }

    void aHandOverBringsTheWindowBackFromTheTray() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(w.isHidden());
        w.BringWindowBack();
        QVERIFY(w.isVisible());
        QVERIFY(!(w.windowState() & Qt::WindowMinimized));
        // The window came back the way the tray brings it: the caption lost its suspension note.
        QVERIFY(!w.windowTitle().contains(QStringLiteral("Suspended")));

        // Shown already: it stays as it is, in front.
        const QString title = w.windowTitle();
        w.BringWindowBack();
        QVERIFY(w.isVisible());
        QCOMPARE(w.windowTitle(), title);
    }
};

QTEST_MAIN(SingleInstanceTest)
#include "tst_single_instance.moc"
