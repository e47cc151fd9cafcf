// The real corvane-launcher program, started while servers of its folder run: it watches them,
// and a termination signal ends it as closing its window does: servers stopped, settings saved,
// exit status 0.

#include "ProcInspect.h"
#include "TmuxSandbox.h"
#include "linux/Pidfd.h"
#include "linux/TmuxClient.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

const QStringList kTitles{"Login Server", "Char Server", "Map Server"};
const QStringList kPrograms{"login-server", "char-server", "map-server"};

// The launcher's backend settings, as the installed program sets them up for its own folder.
LinuxBackendConfig InstalledConfig() {
    LinuxBackendConfig config;
    const QString folder = QFileInfo(TmuxSandbox::builtProgram("")).canonicalFilePath();
    config.serverFolder = folder;
    config.tmuxSocketName = LinuxBackendConfig::SocketNameForFolder(folder);
    config.trampolinePath = folder + "/corvane-exec";
    config.execVerdictWaitMs = 2000;
    return config;
}

// Ends, when the test ends however it ends, the tmux server of that socket and the processes.
class LeaveNothingRunning {
public:
    explicit LeaveNothingRunning(const LinuxBackendConfig& config) : config_(config) {}
    ~LeaveNothingRunning() {
        TmuxClient(config_).Run({{"kill-server"}});
        for (const int fd : pidfds_) {
            if (!PidfdProcessEnded(fd))
                syscall(SYS_pidfd_send_signal, fd, SIGKILL, nullptr, 0);
            close(fd);
        }
    }
    void track(ProcessHandle handle) {
        pidfds_.push_back(fcntl(static_cast<int>(handle.raw()), F_DUPFD_CLOEXEC, 3));
    }

private:
    LinuxBackendConfig config_;
    std::vector<int> pidfds_;
};

int PidfdsHeldBy(qint64 pid) {
    const QList<QString> targets = proc::OpenFileTargets(static_cast<int>(pid));
    return static_cast<int>(std::count_if(targets.begin(), targets.end(), [](const QString& t) {
        return t.endsWith("anon_inode:[pidfd]");
    }));
}

} // namespace

class LauncherSignalsTest : public QObject {
    Q_OBJECT
private slots:
    void aSignalEndsItLikeClosingTheWindow_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void aSignalEndsItLikeClosingTheWindow() {
        QFETCH(int, signal);
        TmuxSandbox sandbox; // its own TMUX_TMPDIR: the launcher's socket lives there
        QVERIFY(sandbox.isValid());
        LinuxApis apis(InstalledConfig());
        LeaveNothingRunning guard(InstalledConfig());
        std::vector<ServerProcess> servers;
        for (int i = 0; i < 3; ++i) {
            servers.push_back(
                apis.LaunchServer(TmuxSandbox::builtProgram(kPrograms[i]), kTitles[i]));
            QVERIFY2(servers.back().lPID > 0, qPrintable(apis.LastLaunchError()));
            guard.track(servers.back().hProcess);
        }

        const QString home = sandbox.path("home");
        QVERIFY(QDir().mkpath(home));
        QProcess launcher;
        const auto killLauncher = qScopeGuard([&] {
            launcher.kill();
            launcher.waitForFinished();
        });
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        launcher.setProcessEnvironment(env);
        launcher.start(TmuxSandbox::builtProgram("corvane-launcher"), {});
        QVERIFY(launcher.waitForStarted(5000));
        // It holds a handle on each server it found.
        QTRY_COMPARE_WITH_TIMEOUT(PidfdsHeldBy(launcher.processId()), 3, 15000);

        ::kill(static_cast<pid_t>(launcher.processId()), signal);
        QVERIFY(launcher.waitForFinished(10000));
        QCOMPARE(launcher.exitStatus(), QProcess::NormalExit);
        QCOMPARE(launcher.exitCode(), 0);
        for (const ServerProcess& server : servers) {
            QTRY_VERIFY_WITH_TIMEOUT(PidfdProcessEnded(static_cast<int>(server.hProcess.raw())),
                                     5000);
            apis.ReleaseProcessHandle(server.hProcess);
        }
        QFile settings(home + "/.config/CorvaneLauncher/CorvaneLauncher.ini");
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QVERIFY(settings.readAll().contains("AutoRestart=1"));
    }
};

QTEST_GUILESS_MAIN(LauncherSignalsTest)
#include "tst_launcher_signals.moc"
