// Priority changes and process handles of the Linux backend.

#include "ProcInspect.h"
#include "TmuxSandbox.h"
#include "linux/Pidfd.h"

#include <QDir>
#include <QTest>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

const QString kMap = QStringLiteral("Map Server");

int OpenDescriptorCount() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::System | QDir::NoDotAndDotDot)
                                .size());
}

// Every thread's nice value, or an empty list when the process has fewer than two threads (the
// stand-ins always have a worker thread besides the main one).
QList<int> NicesOfEveryThread(int pid) {
    QList<int> nices;
    const QList<int> threads = proc::Threads(pid);
    if (threads.size() < 2)
        return nices;
    for (const int tid : threads)
        nices << proc::NiceOfThread(pid, tid);
    return nices;
}

bool Ended(const ServerProcess& p) {
    return PidfdProcessEnded(static_cast<int>(p.hProcess.raw()));
}

} // namespace

class PriorityTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TmuxSandbox> sandbox;
    QString server;

    ServerProcess startMapServer() { return sandbox->launch(server, kMap); }

private slots:
    void init() {
        sandbox = std::make_unique<TmuxSandbox>();
        QVERIFY(sandbox->isValid());
        server = sandbox->path(QStringLiteral("map-server"));
        QVERIFY(sandbox->copyServer(QStringLiteral("map-server"), server));
    }
    void cleanup() { sandbox.reset(); }

    void everyThreadOfALiveProcessChanges() {
        const ServerProcess p = startMapServer();
        QVERIFY(p.lPID > 0);
        QTRY_VERIFY(proc::Threads(p.lPID).size() >= 2); // the worker thread is up
        modAPIs& apis = sandbox->apis();

        // Giving way needs no privilege.
        QVERIFY(apis.SetProcessPriority(p.hProcess, modAPIs::BELOW_NORMAL_PRIORITY_CLASS) != 0);
        QCOMPARE(NicesOfEveryThread(p.lPID), QList<int>(proc::Threads(p.lPID).size(), 5));
        QVERIFY(apis.SetProcessPriority(p.hProcess, modAPIs::IDLE_PRIORITY_CLASS) != 0);
        QCOMPARE(NicesOfEveryThread(p.lPID), QList<int>(proc::Threads(p.lPID).size(), 19));

        // Rising above others does; without it the change fails and nothing moves.
        const std::int32_t high = apis.SetProcessPriority(p.hProcess, modAPIs::HIGH_PRIORITY_CLASS);
        const int expected = proc::CanRaisePriority() ? -10 : 19;
        QCOMPARE(high != 0, expected == -10);
        QCOMPARE(NicesOfEveryThread(p.lPID), QList<int>(proc::Threads(p.lPID).size(), expected));
    }

    void unknownClassOrHandleFails() {
        const ServerProcess p = startMapServer();
        QVERIFY(p.lPID > 0);
        QTRY_VERIFY(proc::Threads(p.lPID).size() >= 2);
        const QList<int> before = NicesOfEveryThread(p.lPID);
        QCOMPARE(sandbox->apis().SetProcessPriority(p.hProcess, 0x1234), 0);
        QCOMPARE(NicesOfEveryThread(p.lPID), before);
        QCOMPARE(sandbox->apis().SetProcessPriority(ProcessHandle(), modAPIs::IDLE_PRIORITY_CLASS),
                 0);
        // A descriptor that is not a process handle.
        const int notAProcess = open("/dev/null", O_RDONLY | O_CLOEXEC);
        QCOMPARE(sandbox->apis().SetProcessPriority(ProcessHandle(notAProcess),
                                                    modAPIs::IDLE_PRIORITY_CLASS),
                 0);
        close(notAProcess);
    }

    void endedProcessCannotBeChanged() {
        const ServerProcess p = startMapServer();
        QVERIFY(p.lPID > 0);
        QVERIFY(sandbox->apis().CloseServerConsole(kMap) != 0);
        QTRY_VERIFY(Ended(p));
        QCOMPARE(sandbox->apis().SetProcessPriority(p.hProcess, modAPIs::IDLE_PRIORITY_CLASS), 0);
        QCOMPARE(sandbox->apis().SetProcessPriority(p.hProcess, modAPIs::HIGH_PRIORITY_CLASS), 0);
        sandbox->apis().ReleaseProcessHandle(p.hProcess);
    }

    void relaunchingOverAndOverLeaksNothing() {
        const int before = OpenDescriptorCount();
        for (int round = 0; round < 8; ++round) {
            const ServerProcess p = sandbox->apis().LaunchServer(server, kMap);
            QVERIFY(p.lPID > 0);
            QVERIFY(sandbox->apis().CloseServerConsole(kMap) != 0);
            QTRY_VERIFY(Ended(p));
            sandbox->apis().ReleaseProcessHandle(p.hProcess);
        }
        QCOMPARE(OpenDescriptorCount(), before);
        const QDir tmp(sandbox->path(QStringLiteral("tmp")));
        QTRY_COMPARE(tmp.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

    void releasingTwiceLeavesOtherDescriptorsAlone() {
        const ServerProcess p = startMapServer();
        QVERIFY(p.lPID > 0);
        const int number = static_cast<int>(p.hProcess.raw());
        sandbox->apis().ReleaseProcessHandle(p.hProcess);
        QVERIFY(fcntl(number, F_GETFD) < 0);
        // The number is free again; whatever takes it next must survive a stale release.
        const int opened = open("/dev/null", O_RDONLY | O_CLOEXEC);
        const int other = dup3(opened, number, O_CLOEXEC);
        close(opened);
        QCOMPARE(other, number);
        sandbox->apis().ReleaseProcessHandle(p.hProcess);
        QVERIFY(fcntl(other, F_GETFD) >= 0);
        close(other);
        sandbox->apis().ReleaseProcessHandle(ProcessHandle());
    }
};

QTEST_GUILESS_MAIN(PriorityTest)
#include "tst_priority.moc"
