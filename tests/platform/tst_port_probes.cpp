// Port probes on the loopback: a listener that takes connections, a port that refuses them, and a
// listener without room, which keeps a probe waiting; whose a port is, and a stopped server. (The
// stand-ins' port and hang are seen through the launcher in tst_health_live.)
#include "TmuxSandbox.h"
#include "linux/PortProbes.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

using Answer = modAPIs::PortAnswer;

// A socket bound to a free port of 127.0.0.1, listening with that backlog unless it is < 0.
struct LoopbackSocket {
    explicit LoopbackSocket(int backlog, int type = SOCK_STREAM)
        : fd(socket(AF_INET, type | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (bind(fd.get(), reinterpret_cast<sockaddr*>(&a), size) == 0 &&
            (backlog < 0 || listen(fd.get(), backlog) == 0) &&
            getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &size) == 0)
            port = ntohs(a.sin_port);
    }
    UniqueFd fd;
    std::uint16_t port = 0;
};

// The answer once there is one, asked as the launcher asks: without waiting, again and again.
Answer Settled(PortProbes& probes, std::int32_t probe, int ms = 5000) {
    const QDeadlineTimer deadline(ms);
    Answer answer;
    while ((answer = probes.answer(probe)) == Answer::NoAnswerYet && !deadline.hasExpired())
        QTest::qSleep(5);
    return answer;
}

} // namespace

class PortProbesTest : public QObject {
    Q_OBJECT
private slots:
    void answersEndTheProbe() {
        PortProbes probes;
        const LoopbackSocket listening(8), bound(-1);
        QVERIFY(listening.port != 0 && bound.port != 0);
        const std::int32_t accepted = probes.begin(listening.port);
        const std::int32_t refused = probes.begin(bound.port);
        QVERIFY(accepted >= 0 && refused >= 0 && accepted != refused);
        // Once answered, a probe is no longer known.
        QVERIFY(Settled(probes, refused) == Answer::Refused &&
                Settled(probes, accepted) == Answer::Accepting &&
                probes.answer(accepted) == Answer::Refused);
    }

    // A listener whose queue is full drops new connections unanswered: the probe waits, and only
    // so many may wait at once; every socket goes with the probes.
    void unansweredProbesAreBoundedAndClosed() {
        const LoopbackSocket full(0);
        QVERIFY(full.port != 0);
        const int before = int(proc::Descriptors(getpid()).size());
        {
            PortProbes probes;
            QCOMPARE(Settled(probes, probes.begin(full.port)), Answer::Accepting); // fills it
            QList<std::int32_t> waiting;
            for (std::size_t i = 0; i < PortProbes::kMaxOpen; ++i)
                waiting << probes.begin(full.port);
            QVERIFY(!waiting.contains(-1) && probes.begin(full.port) == -1);
            QCOMPARE(Settled(probes, waiting.last(), 300), Answer::NoAnswerYet);
            probes.end(waiting.takeLast());
            QVERIFY(probes.begin(full.port) >= 0);
            QCOMPARE(int(proc::Descriptors(getpid()).size()), before + int(PortProbes::kMaxOpen));
        }
        QCOMPARE(int(proc::Descriptors(getpid()).size()), before);
    }

    // A port is the server's only when one of its processes holds the socket: its first process
    // (a UDP port here), or another of its process group once a usage reading found that one (a
    // stand-in started by a script that waits for it). A port this test holds is another
    // program's, also for a stand-in that could not listen there; a free one is nobody's. A
    // stopped process shows in the usage.
    void whoseThePortIsAndAStoppedServer() {
        using Holder = modAPIs::PortHolder;
        using Protocol = modAPIs::PortProtocol;
        TmuxSandbox sandbox;
        LinuxApis& os = sandbox.apis();
        const LoopbackSocket taken(8);
        const LoopbackSocket udpTaken(-1, SOCK_DGRAM);
        QVERIFY(taken.port != 0 && udpTaken.port != 0);
        const QString login = sandbox.path("login-server");
        QVERIFY(sandbox.copyServer("login-server", login));
        const auto portIn = [&](const QString& title, const QString& said) {
            const QRegularExpression pattern(said + " (\\d+)");
            std::uint16_t port = 0;
            (void)QTest::qWaitFor([&] {
                port = std::uint16_t(pattern.match(os.GetConsoleText(title)).captured(1).toUInt());
                return port != 0;
            });
            return port;
        };
        const ServerProcess first = [&] {
            ScopedEnv tcp("CORVANE_STANDIN_PORT", QByteArray::number(taken.port));
            ScopedEnv udp("CORVANE_STANDIN_UDP_PORT", "0");
            return os.LaunchServer(login, "Login Server");
        }();
        QVERIFY(first.lPID > 0 && portIn("Login Server", "Cannot listen on port") == taken.port);
        const std::uint16_t ownUdp = portIn("Login Server", "Bound to UDP port");
        QVERIFY(ownUdp != 0);
        QCOMPARE(os.PortHolderOf(first.hProcess, taken.port, Protocol::Tcp), Holder::Other);
        QCOMPARE(os.PortHolderOf(first.hProcess, ownUdp, Protocol::Udp), Holder::Server);
        QCOMPARE(os.PortHolderOf(first.hProcess, udpTaken.port, Protocol::Udp), Holder::Other);
        QCOMPARE(os.PortHolderOf(first.hProcess, taken.port, Protocol::Udp), Holder::Nobody);

        const QString script = sandbox.path("run-login.sh");
        QVERIFY(WriteProgram(script, "#!/bin/sh\n'" + QFile::encodeName(login) + "'\n", 0700));
        const ServerProcess second = os.LaunchServer(script, "Char Server");
        QVERIFY(second.lPID > 0);
        const std::uint16_t listening = portIn("Char Server", "Listening on port");
        QVERIFY(listening != 0);
        // Its console's helper, the script and the stand-in.
        QTRY_COMPARE(os.ReadServerUsage({second.hProcess}).at(0).processes, 3);
        QCOMPARE(os.PortHolderOf(second.hProcess, listening, Protocol::Tcp), Holder::Server);
        QCOMPARE(os.PortHolderOf(first.hProcess, listening, Protocol::Tcp), Holder::Other);

        QList<int> child = proc::Running(login);
        child.removeAll(first.lPID);
        QVERIFY(child.size() == 1 &&
                os.ReadServerUsage({second.hProcess})[0].stoppedProcesses == 0);
        const auto resume = qScopeGuard([&] { ::kill(child[0], SIGCONT); });
        QVERIFY(::kill(child[0], SIGSTOP) == 0);
        QTRY_COMPARE(os.ReadServerUsage({second.hProcess}).at(0).stoppedProcesses, 1);
        QCOMPARE(os.ReadServerUsage({first.hProcess}).at(0).stoppedProcesses, 0);
        QVERIFY(::kill(child[0], SIGCONT) == 0);
        QTRY_COMPARE(os.ReadServerUsage({second.hProcess}).at(0).stoppedProcesses, 0);
        os.ReleaseProcessHandle(first.hProcess);
        os.ReleaseProcessHandle(second.hProcess);
    }
};

QTEST_GUILESS_MAIN(PortProbesTest)
#include "tst_port_probes.moc"
