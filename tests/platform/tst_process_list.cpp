// The running-process list of the Linux backend.

#include "TmuxSandbox.h"
#include "linux/Pidfd.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <csignal>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString Entry(qint64 pid, const QString& name) {
    return QStringLiteral("%1:%2,").arg(pid).arg(name);
}

// True when the list holds the entry as a whole entry, not as the tail of another.
bool Holds(const QString& list, const QString& entry) {
    return list.startsWith(entry) || list.contains(u',' + entry);
}

bool HoldsPid(const QString& list, qint64 pid) {
    return list.startsWith(QStringLiteral("%1:").arg(pid)) ||
           list.contains(QStringLiteral(",%1:").arg(pid));
}

char StateOf(pid_t pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return '?';
    const QByteArray stat = f.readAll();
    const int close = stat.lastIndexOf(')');
    return close >= 0 && close + 2 < stat.size() ? stat[close + 2] : '?';
}

} // namespace

class ProcessListTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TmuxSandbox> sandbox;

private slots:
    void init() {
        sandbox = std::make_unique<TmuxSandbox>();
        QVERIFY(sandbox->isValid());
    }
    void cleanup() { sandbox.reset(); }

    void everyEntryIsPidColonNameComma() {
        const QString list = sandbox->apis().GetProcessList();
        QVERIFY(!list.isEmpty());
        QVERIFY(list.endsWith(u','));
        // Ids in decimal without leading zeros, no spaces around the separators.
        static const QRegularExpression entry(QStringLiteral("^([1-9][0-9]*):([^,]*),"));
        qsizetype at = 0;
        int entries = 0;
        while (at < list.size()) {
            const QRegularExpressionMatch m = entry.match(list.mid(at));
            QVERIFY2(m.hasMatch(), qPrintable(list.mid(at, 80)));
            QVERIFY(!m.captured(2).startsWith(u' ') && !m.captured(2).endsWith(u' '));
            at += m.capturedLength();
            ++entries;
        }
        QVERIFY(entries > 1);
        QVERIFY(Holds(
            list, Entry(QCoreApplication::applicationPid(), QStringLiteral("tst_process_list"))));
    }

    void launchedServerIsListedByItsWholeFileName() {
        const QString name = QStringLiteral("login-server-with-a-much-longer-name");
        const QString exe = sandbox->path(QStringLiteral("long names/") + name);
        QVERIFY(sandbox->copyServer(QStringLiteral("login-server"), exe));
        const ServerProcess p = sandbox->launch(exe, QStringLiteral("Login Server"));
        QVERIFY(p.lPID > 0);
        QTRY_VERIFY(Holds(sandbox->apis().GetProcessList(), Entry(p.lPID, name)));
    }

    void deletedProgramKeepsItsName() {
        const QString exe = sandbox->path(QStringLiteral("map-server"));
        QVERIFY(sandbox->copyServer(QStringLiteral("map-server"), exe));
        const ServerProcess p = sandbox->launch(exe, QStringLiteral("Map Server"));
        QVERIFY(p.lPID > 0);
        QTRY_VERIFY(Holds(sandbox->apis().GetProcessList(), Entry(p.lPID, "map-server")));
        QVERIFY(QFile::remove(exe));
        QVERIFY(Holds(sandbox->apis().GetProcessList(), Entry(p.lPID, "map-server")));
    }

    void crashedServerLeavesTheList() {
        ScopedEnv crash("CORVANE_STANDIN_CRASH_AFTER", "0.3");
        const QString exe = sandbox->path(QStringLiteral("char-server"));
        QVERIFY(sandbox->copyServer(QStringLiteral("char-server"), exe));
        const ServerProcess p = sandbox->launch(exe, QStringLiteral("Char Server"));
        QVERIFY(p.lPID > 0);
        QTRY_VERIFY(PidfdProcessEnded(static_cast<int>(p.hProcess.raw())));
        QVERIFY(!HoldsPid(sandbox->apis().GetProcessList(), p.lPID));
    }

    void endedButUnreapedProcessIsLeftOut() {
        int go[2];
        QVERIFY(pipe(go) == 0);
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            close(go[1]);
            char byte;
            (void)!read(go[0], &byte, 1);
            _exit(0);
        }
        close(go[0]);
        QVERIFY(HoldsPid(sandbox->apis().GetProcessList(), child));
        close(go[1]); // the child reads end-of-file and ends; nobody reaps it yet
        QTRY_COMPARE(StateOf(child), 'Z');
        const bool listed = HoldsPid(sandbox->apis().GetProcessList(), child);
        waitpid(child, nullptr, 0);
        QVERIFY(!listed);
    }
};

QTEST_GUILESS_MAIN(ProcessListTest)
#include "tst_process_list.moc"
