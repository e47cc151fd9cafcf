// Debian's minetest-server as the map server, run as operators run it: through a two-line script
// in the server folder, with exec and without (and Debian's own /usr/games/minetestserver is a
// script that execs the real program). The launcher reports no crash while it runs, sees
// a kill -9 of the real server and starts it again, gives the real server the high priority, and
// at Shutdown runs the stop sequence of the installation's file: the world is written and the log
// says so. The installation's file is left exactly as the operator wrote it.
#include "RealLauncher.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace {

const QString kMinetest = QStringLiteral("/usr/games/minetestserver");

// A UDP port nothing listens on at the moment.
int FreeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t length = sizeof address;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

// Whether a socket of this machine is bound to that UDP port (the server listens).
bool UdpPortBound(int port) {
    const QByteArray local =
        ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0') + ' ';
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"})
        for (const QByteArray& line : ReadFile(table).split('\n'))
            if (line.simplified().split(' ').value(1).endsWith(local.trimmed()))
                return true;
    return false;
}

const QByteArray kInstallation =
    "# minetest is the map server here; the others are the usual ones.\n"
    "[Map Server]\n"
    ";   it prints this line once its world is written\n"
    "save confirmation = Saved map to\n"
    "stop = close request\n"
    "stop   =   await save 30\n"
    "stop = await end 30\n";

} // namespace

class RealServerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!QFileInfo(kMinetest).isExecutable())
            QSKIP("SKIPPED: Debian's minetest-server is not installed (no "
                  "/usr/games/minetestserver); scripts/setup.sh installs it");
    }

    void minetestRunThroughAScript_data() {
        QTest::addColumn<bool>("withExec");
        QTest::newRow("script that execs it") << true;
        QTest::newRow("script that does not exec") << false;
    }
    void minetestRunThroughAScript() {
        QFETCH(bool, withExec);
        RealLauncher l;
        const QString world = l.folder + "/world";
        // Whatever happens to the test, no minetest of its folder outlives it.
        const auto ours = [&] {
            QList<int> pids;
            for (const QString& entry : QDir("/proc").entryList(QDir::Dirs))
                if (const int pid = entry.toInt(); pid > 0 &&
                                                   proc::Exe(pid).endsWith("/minetestserver") &&
                                                   proc::Cwd(pid) == l.folder)
                    pids << pid;
            return pids;
        };
        const auto endMinetest = qScopeGuard([&] {
            for (const int pid : ours())
                ::kill(pid, SIGKILL);
        });
        const int port = FreeUdpPort();
        QVERIFY(port > 0 && WriteProgram(l.folder + "/minetest.conf",
                                         "name = admin\nserver_map_save_interval = 3600\n", 0600));
        const QByteArray script =
            QByteArray("#!/bin/sh\n") + (withExec ? "exec " : "") + QFile::encodeName(kMinetest) +
            " --config \"$PWD/minetest.conf\" --world \"$PWD/world\" --gameid minetest_game "
            "--port " +
            QByteArray::number(port) + " --info\n";
        const QString installation = l.folder + "/corvane-launcher.ini";
        QVERIFY(QFile::remove(l.programPath(2)) && WriteProgram(l.programPath(2), script, 0700) &&
                WriteProgram(installation, kInstallation, 0600));

        const auto listening = [&] { return UdpPortBound(port) && ours().size() == 1; };
        frmMain& w = l.window();
        QVERIFY(l.startWithQuickTicks());
        QVERIFY2(WhenSeen(listening, 60000), qPrintable(l.logSince(0).join('\n')));
        const int first = ours().value(0);

        // Running: three status ticks and no crash.
        int ticks = 0;
        QObject::connect(l.fleet().tmrStatusUpdater, &ClockTimer::timeout, [&] { ++ticks; });
        QVERIFY(WhenSeen([&] { return ticks >= 3; }, 15000));
        QVERIFY(l.linesWith("just crashed!") == 0 && ours() == QList<int>{first});

        // The priority step reaches the real server, every thread of it.
        l.fleet().tmrHelper_Timer();
        QVERIFY(l.linesWith("> Map Server Process was changed to high priority class.") >= 1);
        QCOMPARE(proc::Nices(first), QList<int>(proc::Nices(first).size(), -10));

        // kill -9 of the real server is a crash, and it is started again.
        ::kill(first, SIGKILL);
        QVERIFY(WhenSeen(
            [&] {
                return l.linesWith("> Map Server just crashed!") == 1 && listening() &&
                       ours().value(0) != first;
            },
            60000));

        // Shutdown: the stop sequence lets it write its world, and the log confirms the save.
        QFile::remove(world + "/env_meta.txt"); // only a save writes it (none so far, as set)
        w.cmdServerShutdown_Click();
        QVERIFY2(WhenSeen([&] { return l.fleet().ServerState() == 0 && ours().isEmpty(); }, 40000),
                 qPrintable(l.logSince(0).join('\n')));
        QVERIFY(l.linesWith("> Map Server saved its world.") == 1 &&
                l.linesWith("without confirming a save") == 0 && l.linesWith("just crashed!") == 1);
        QVERIFY(QFile::exists(world + "/env_meta.txt"));
        QCOMPARE(ReadFile(installation), kInstallation);
    }
};

QTEST_MAIN(RealServerTest)
#include "tst_real_server.moc"
