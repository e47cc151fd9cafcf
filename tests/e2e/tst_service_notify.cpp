// corvane-launcherd under a service manager, as systemd runs a unit of Type=notify: told ready
// once up, the watchdog fed from its event loop, told stopping at SIGTERM, and its messages'
// address never handed to the servers. The unit file itself passes systemd-analyze verify.

#include "TestFiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString kPrograms = QStringLiteral(CORVANE_LAUNCHER_DIR);

// The messages that come within the time, one per datagram.
QStringList Receive(int fd, int withinMs, const QString& until) {
    QStringList messages;
    QDeadlineTimer deadline(withinMs);
    while (!deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(deadline.remainingTime())) <= 0)
            continue;
        char buffer[512];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0)
            messages << QString::fromLatin1(buffer, static_cast<int>(n));
        if (!messages.isEmpty() && messages.last() == until)
            break;
    }
    return messages;
}

} // namespace

class ServiceNotifyTest : public QObject {
    Q_OBJECT
private slots:
    void toldReadyFedAndStopping() {
        QTemporaryDir work;
        const QString servers = work.filePath("servers"), home = work.filePath("home");
        QVERIFY(QDir().mkpath(servers) && QDir().mkpath(home));
        for (const char* program : {"login-server", "char-server", "map-server"})
            QVERIFY(QFile::copy(kPrograms + "/" + program, servers + "/" + program));
        const QString socketPath = work.filePath("notify");
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const auto closeSocket = qScopeGuard([fd] { ::close(fd); });
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(socketPath);
        QVERIFY(fd >= 0 && path.size() < qsizetype(sizeof address.sun_path));
        std::memcpy(address.sun_path, path.constData(), path.size());
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);

        QProcess daemon;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"})
            env.remove(name);
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        env.insert("TMUX_TMPDIR", home);
        env.insert("TMPDIR", home);
        env.insert("CORVANE_STANDIN_PORT", "0");
        env.insert("NOTIFY_SOCKET", socketPath);
        env.insert("WATCHDOG_USEC", "200000");
        daemon.setProcessEnvironment(env);
        daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        daemon.start(kPrograms + "/corvane-launcherd", {"--server-dir", servers, "--start"});
        const auto endDaemon = qScopeGuard([&daemon] {
            daemon.kill();
            daemon.waitForFinished(5000);
            QProcess::execute("pkill", {"-KILL", "-f", "[-]server$"});
        });
        QVERIFY(daemon.waitForStarted(5000));

        const QStringList first = Receive(fd, 20000, QStringLiteral("WATCHDOG=1"));
        QCOMPARE(first.value(0), QStringLiteral("READY=1"));
        // Fed every 100 ms: a dozen in a second and a half, give or take a slow machine.
        QTest::qWait(1500);
        const QStringList fed = Receive(fd, 100, QString());
        QVERIFY2(fed.count("WATCHDOG=1") >= 3, qPrintable(fed.join(u',')));

        // The servers started do not get the manager's address.
        const auto mapPid = [&servers] {
            QProcess find;
            find.start("pgrep", {"-f", "-x", servers + "/map-server"});
            find.waitForFinished(5000);
            return QString::fromLatin1(find.readAllStandardOutput()).section(u'\n', 0, 0);
        };
        QString map;
        QTRY_VERIFY_WITH_TIMEOUT(!(map = mapPid()).isEmpty(), 20000);
        const QByteArray environ = ReadFile("/proc/" + map + "/environ");
        QVERIFY2(!environ.isEmpty() && !environ.contains("NOTIFY_SOCKET") &&
                     !environ.contains("WATCHDOG_USEC"),
                 qPrintable(map));

        ::kill(static_cast<pid_t>(daemon.processId()), SIGTERM);
        const QStringList last = Receive(fd, 20000, QStringLiteral("STOPPING=1"));
        QVERIFY2(last.contains("STOPPING=1"), qPrintable(last.join(u',')));
        QVERIFY(daemon.waitForFinished(60000));
        QCOMPARE(daemon.exitStatus(), QProcess::NormalExit);
        QCOMPARE(daemon.exitCode(), 0);
    }

    // The unit as installed, its program pointed at the one built here.
    void theUnitVerifies() {
        if (QStandardPaths::findExecutable("systemd-analyze").isEmpty())
            QSKIP("systemd-analyze is not installed");
        QTemporaryDir folder;
        QByteArray unit = ReadFile(CORVANE_SOURCE_DIR "/packaging/corvane-launcherd@.service");
        QVERIFY(unit.contains("ExecStart=/usr/bin/corvane-launcherd "));
        unit.replace("/usr/bin/corvane-launcherd",
                     QFile::encodeName(kPrograms) + "/corvane-launcherd");
        const QString file = folder.filePath("corvane-launcherd@srv-game.service");
        QVERIFY(WriteFile(file, unit));
        QProcess verify;
        verify.setProcessChannelMode(QProcess::MergedChannels);
        verify.start("systemd-analyze", {"verify", "--man=no", file});
        QVERIFY(verify.waitForFinished(30000));
        const QByteArray said = verify.readAll();
        QVERIFY2(verify.exitCode() == 0 && !said.contains("corvane-launcherd@"), said.constData());
    }
};

QTEST_GUILESS_MAIN(ServiceNotifyTest)
#include "tst_service_notify.moc"
