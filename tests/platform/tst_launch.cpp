// Launching servers through the Linux backend, with real tmux and the stand-in servers.

#include "ProcInspect.h"
#include "TmuxSandbox.h"
#include "linux/Pidfd.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTest>
#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kTitle = QStringLiteral("Login Server");

bool SessionExists(TmuxSandbox& sandbox, const QString& title) {
    return sandbox.tmux({"has-session", "-t", "=" + title.toStdString()}).has_value();
}

int SessionCount(TmuxSandbox& sandbox) {
    const std::optional<QByteArray> list = sandbox.tmux({"list-sessions", "-F", "x"});
    return list ? static_cast<int>(list->count('\n')) : 0;
}

bool AnyFileNamed(const QString& folder, const QString& name) {
    QDirIterator it(folder, {name}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    return it.hasNext();
}

} // namespace

class LaunchTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TmuxSandbox> sandbox;

    // Launches a copy of the login stand-in at the relative path and checks that the very
    // program runs, by itself, in its own folder, without arguments.
    void expectServerRunsFrom(const QString& relative) {
        const QString exe = sandbox->path(relative);
        QVERIFY(sandbox->copyServer(QStringLiteral("login-server"), exe));
        const ServerProcess p = sandbox->launch(exe, kTitle);
        QVERIFY2(p.lPID > 0, qPrintable(exe));
        QVERIFY(!p.hProcess.isNull());
        QCOMPARE(p.sExePath, exe);
        QTRY_COMPARE(proc::Exe(p.lPID), exe);
        QCOMPARE(proc::Cwd(p.lPID) + u'/', exe.left(exe.lastIndexOf(u'/') + 1));
        QCOMPARE(proc::Cmdline(p.lPID), QList<QByteArray>{QFile::encodeName(exe)});
        QCOMPARE(PidOfPidfd(static_cast<int>(p.hProcess.raw())), p.lPID);
    }

private slots:
    void init() {
        sandbox = std::make_unique<TmuxSandbox>();
        QVERIFY(sandbox->isValid());
    }
    void cleanup() { sandbox.reset(); }

    void awkwardPathsLaunchThatFileAndNothingElse_data() {
        QTest::addColumn<QString>("relative");
        QTest::newRow("spaces") << QStringLiteral("my servers/login server/login-server");
        QTest::newRow("quotes") << QStringLiteral("it's \"here\"/login-server");
        QTest::newRow("dollar") << QStringLiteral("$HOME $(touch canary)/login-server");
        QTest::newRow("backticks") << QStringLiteral("`touch canary`/login-server");
        QTest::newRow("equals and semicolon") << QStringLiteral("a=b;touch canary;/x=y");
        QTest::newRow("ends in semicolon") << QStringLiteral("bin/login-server;");
        QTest::newRow("format hash") << QStringLiteral("#{pane_pid} ##/login-server");
    }
    void awkwardPathsLaunchThatFileAndNothingElse() {
        QFETCH(QString, relative);
        expectServerRunsFrom(relative);
        QVERIFY(!AnyFileNamed(sandbox->path(QString()), QStringLiteral("canary")));
    }

    void programGetsTheLaunchersEnvironment() {
        // Far more than fits on one tmux command line.
        const QByteArray big(40000, 'x');
        ScopedEnv marker("CORVANE_TEST_MARKER", "spaces and ; # $HOME `x` \\ end;");
        ScopedEnv large("CORVANE_TEST_LARGE", big);
        ScopedEnv term("TERM", "launcher-term");
        // An enclosing tmux of the operator's must not capture the launch.
        ScopedEnv outer("TMUX", "/nonexistent/operator-socket,1,0");
        const QString exe = sandbox->path(QStringLiteral("env/login-server"));
        QVERIFY(sandbox->copyServer(QStringLiteral("login-server"), exe));
        const ServerProcess p = sandbox->launch(exe, kTitle);
        QVERIFY(p.lPID > 0);
        QTRY_COMPARE(proc::Exe(p.lPID), exe);
        const QList<QByteArray> env = proc::Environment(p.lPID);
        QVERIFY(env.contains("CORVANE_TEST_MARKER=spaces and ; # $HOME `x` \\ end;"));
        QVERIFY(env.contains("CORVANE_TEST_LARGE=" + big));
        QVERIFY(env.contains("TMUX_TMPDIR=" + qgetenv("TMUX_TMPDIR")));
        // The console, not the launcher, says what terminal the server writes to.
        QVERIFY(!env.contains("TERM=launcher-term"));
        QVERIFY(!env.contains("TMUX=/nonexistent/operator-socket,1,0"));
        const auto terms = std::count_if(env.begin(), env.end(),
                                         [](const QByteArray& e) { return e.startsWith("TERM="); });
        QCOMPARE(terms, 1);
    }

    void programStartsWithNoSignalIgnoredOrBlocked() {
        const QString script = sandbox->path(QStringLiteral("sleeper"));
        QFile f(script);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\nexec sleep 30\n");
        f.close();
        QVERIFY(chmod(QFile::encodeName(script).constData(), 0755) == 0);
        const ServerProcess p = sandbox->launch(script, kTitle);
        QVERIFY(p.lPID > 0);
        QTRY_VERIFY(proc::Exe(p.lPID).endsWith(QStringLiteral("/sleep")));
        // Signals 32 and 33 belong to the C library, which sets them up itself when it needs
        // them; every signal a program can use must be as a fresh terminal gives it.
        constexpr quint64 kLibcSignals = (1ULL << 31) | (1ULL << 32);
        QCOMPARE(proc::SignalMask(p.lPID, "SigIgn") & ~kLibcSignals, 0ULL);
        QCOMPARE(proc::SignalMask(p.lPID, "SigBlk") & ~kLibcSignals, 0ULL);
    }

    void bareProgramNameRunsInTheCurrentFolder() {
        const QString folder = sandbox->path(QStringLiteral("current dir"));
        QVERIFY(sandbox->copyServer(QStringLiteral("login-server"), folder + "/login-server"));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(folder));
        const ServerProcess p = sandbox->launch(QStringLiteral("login-server"), kTitle);
        QDir::setCurrent(before);
        QVERIFY(p.lPID > 0);
        QCOMPARE(p.sExePath, QStringLiteral("login-server"));
        QTRY_COMPARE(proc::Exe(p.lPID), folder + "/login-server");
        QCOMPARE(proc::Cwd(p.lPID), folder);
    }

    void unlaunchableProgramsGiveTheFailedRecord_data() {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("mode");
        QTest::newRow("missing") << QStringLiteral("nothing-here") << QByteArray() << 0;
        QTest::newRow("not executable") << QStringLiteral("plain") << QByteArray("x") << 0644;
        QTest::newRow("folder") << QStringLiteral("folder") << QByteArray() << 0755;
        // Executable by its mode but not by the kernel: only the exec itself can tell.
        QTest::newRow("no format")
            << QStringLiteral("garbage") << QByteArray("not a program\n") << 0755;
        QTest::newRow("missing interpreter")
            << QStringLiteral("script") << QByteArray("#!/nonexistent/interpreter\n") << 0755;
    }
    void unlaunchableProgramsGiveTheFailedRecord() {
        QFETCH(QString, relative);
        QFETCH(QByteArray, content);
        QFETCH(int, mode);
        const QString path = sandbox->path(relative);
        if (relative == QStringLiteral("folder")) {
            QVERIFY(QDir().mkpath(path));
        } else if (!content.isEmpty()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
            f.close();
            QVERIFY(chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode)) == 0);
        }
        QCOMPARE(sandbox->launch(path, kTitle), ServerProcess::failed());
        QVERIFY(!SessionExists(*sandbox, kTitle));
    }

    void takenTitleIsRefusedAndTheFirstServerLivesOn() {
        const QString exe = sandbox->path(QStringLiteral("login-server"));
        QVERIFY(sandbox->copyServer(QStringLiteral("login-server"), exe));
        const ServerProcess first = sandbox->launch(exe, kTitle);
        QVERIFY(first.lPID > 0);
        QCOMPARE(sandbox->launch(exe, kTitle), ServerProcess::failed());
        QVERIFY(!PidfdProcessEnded(static_cast<int>(first.hProcess.raw())));
        QCOMPARE(SessionCount(*sandbox), 1);
        // A longer title that merely begins with the same words is another console.
        QVERIFY(sandbox->launch(exe, kTitle + QStringLiteral(" 2")).lPID > 0);
        QCOMPARE(SessionCount(*sandbox), 2);
    }

    void titlesTmuxWouldAlterAreRefused() {
        const QString exe = sandbox->path(QStringLiteral("login-server"));
        QVERIFY(sandbox->copyServer(QStringLiteral("login-server"), exe));
        for (const QString& title :
             {QString(), QStringLiteral("Login.Server"), QStringLiteral("a:b"),
              QStringLiteral("$1"), QStringLiteral("back\\slash"), QStringLiteral("tab\there")})
            QCOMPARE(sandbox->launch(exe, title), ServerProcess::failed());
        QCOMPARE(SessionCount(*sandbox), 0);
        // Characters tmux would expand in a format are kept as they are.
        const ServerProcess p = sandbox->launch(exe, QStringLiteral("#{pane_pid} #S ;"));
        QVERIFY(p.lPID > 0);
        QVERIFY(SessionExists(*sandbox, QStringLiteral("#{pane_pid} #S ;")));
    }

    void missingTmuxOrTrampolineFails() {
        const QString exe = sandbox->path(QStringLiteral("login-server"));
        QVERIFY(sandbox->copyServer(QStringLiteral("login-server"), exe));
        LinuxBackendConfig noTmux = sandbox->config();
        noTmux.tmuxProgram = sandbox->path(QStringLiteral("no-such-tmux"));
        QCOMPARE(LinuxApis(noTmux).LaunchServer(exe, kTitle), ServerProcess::failed());
        LinuxBackendConfig noTrampoline = sandbox->config();
        noTrampoline.trampolinePath = sandbox->path(QStringLiteral("no-such-trampoline"));
        QCOMPARE(LinuxApis(noTrampoline).LaunchServer(exe, kTitle), ServerProcess::failed());
        QCOMPARE(SessionCount(*sandbox), 0);
    }

    void launcherFilesStayWithTheLauncher() {
        // A descriptor the launcher leaves inheritable must reach neither tmux nor the server.
        const QString marker = sandbox->path(QStringLiteral("launcher-private-file"));
        const int fd = open(QFile::encodeName(marker).constData(), O_CREAT | O_RDWR, 0600);
        QVERIFY(fd >= 0);
        const QString exe = sandbox->path(QStringLiteral("login-server"));
        QVERIFY(sandbox->copyServer(QStringLiteral("login-server"), exe));
        const ServerProcess p = sandbox->launch(exe, kTitle);
        close(fd);
        QVERIFY(p.lPID > 0);
        const std::optional<QByteArray> serverPid =
            sandbox->tmux({"display-message", "-p", "#{pid}"});
        QVERIFY(serverPid.has_value());
        const int tmuxPid = serverPid->trimmed().toInt();
        QVERIFY(tmuxPid > 0);
        QVERIFY(!proc::OpenFileTargets(tmuxPid).isEmpty());
        QVERIFY(!proc::OpenFileTargets(tmuxPid).contains(marker));
        QTRY_COMPARE(proc::Exe(p.lPID), exe);
        QVERIFY(!proc::OpenFileTargets(p.lPID).contains(marker));
    }

    void launchThatHearsNothingInTimeStillStarts() {
        // With no time to hear from the trampoline the launch is accepted; the trampoline then
        // runs the program and clears its hand-over folder by itself.
        LinuxBackendConfig impatient = sandbox->config();
        impatient.execVerdictWaitMs = 0;
        LinuxApis apis(impatient);
        const QString exe = sandbox->path(QStringLiteral("login-server"));
        QVERIFY(sandbox->copyServer(QStringLiteral("login-server"), exe));
        const ServerProcess p = apis.LaunchServer(exe, kTitle);
        QVERIFY(p.lPID > 0);
        QTRY_COMPARE(proc::Exe(p.lPID), exe);
        const QDir tmp(sandbox->path(QStringLiteral("tmp")));
        QTRY_COMPARE(tmp.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        QVERIFY(apis.CloseServerConsole(kTitle) != 0);
        QTRY_VERIFY(PidfdProcessEnded(static_cast<int>(p.hProcess.raw())));
        apis.ReleaseProcessHandle(p.hProcess);
    }

    void launchLeavesNoTemporaryFiles() {
        const QString exe = sandbox->path(QStringLiteral("login-server"));
        QVERIFY(sandbox->copyServer(QStringLiteral("login-server"), exe));
        QVERIFY(sandbox->launch(exe, kTitle).lPID > 0);
        QCOMPARE(sandbox->launch(sandbox->path(QStringLiteral("missing")), QStringLiteral("X")),
                 ServerProcess::failed());
        const QDir tmp(sandbox->path(QStringLiteral("tmp")));
        QTRY_COMPARE(tmp.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }
};

QTEST_GUILESS_MAIN(LaunchTest)
#include "tst_launch.moc"
