// Port probes on the loopback: a listener that takes connections, a port that refuses them, and a
// listener without room, which keeps a probe waiting; and the stand-in servers, which listen on
// their port once they say so and stop when they hang.
#include "TmuxSandbox.h"
#include "linux/PortProbes.h"

#include <QDeadlineTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

using Answer = modAPIs::PortAnswer;

// A TCP socket bound to a free port of 127.0.0.1, listening with that backlog unless it is < 0.
struct LoopbackSocket {
    explicit LoopbackSocket(int backlog) : fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
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
template <class Ask> Answer FirstAnswer(Ask ask, int ms) {
    const QDeadlineTimer deadline(ms);
    Answer answer;
    while ((answer = ask()) == Answer::NoAnswerYet && !deadline.hasExpired())
        QTest::qSleep(5);
    return answer;
}
Answer Settled(PortProbes& probes, std::int32_t probe, int ms = 5000) {
    return FirstAnswer([&] { return probes.answer(probe); }, ms);
}
Answer Settled(modAPIs& os, std::int32_t probe) {
    return FirstAnswer([&] { return os.PortProbeAnswer(probe); }, 5000);
}

// Whether a line of the console's text ends with that.
bool HasLine(const QString& text, const QString& end) {
    for (const QString& line : text.split(u'\n'))
        if (line.trimmed().endsWith(end))
            return true;
    return false;
}

int OpenDescriptors() {
    return int(QDir("/proc/self/fd").entryList(QDir::System | QDir::NoDotAndDotDot).size());
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
        QCOMPARE(Settled(probes, refused), Answer::Refused);
        QCOMPARE(Settled(probes, accepted), Answer::Accepting);
        QCOMPARE(probes.answer(accepted), Answer::Refused); // answered, so no longer known
    }

    // A listener whose queue is full drops new connections unanswered: the probe waits, and only
    // so many may wait at once; every socket goes with the probes.
    void unansweredProbesAreBoundedAndClosed() {
        const LoopbackSocket full(0);
        QVERIFY(full.port != 0);
        const int before = OpenDescriptors();
        {
            PortProbes probes;
            QCOMPARE(Settled(probes, probes.begin(full.port)), Answer::Accepting); // fills it
            QList<std::int32_t> waiting;
            for (std::size_t i = 0; i < PortProbes::kMaxOpen; ++i)
                waiting << probes.begin(full.port);
            QVERIFY(!waiting.contains(-1));
            QCOMPARE(probes.begin(full.port), -1);
            QCOMPARE(Settled(probes, waiting.last(), 300), Answer::NoAnswerYet);
            probes.end(waiting.takeLast());
            QVERIFY(probes.begin(full.port) >= 0);
            QCOMPARE(OpenDescriptors(), before + int(PortProbes::kMaxOpen));
        }
        QCOMPARE(OpenDescriptors(), before);
    }

    void standinListensOnceItSaysSoUntilItHangs() {
        TmuxSandbox sandbox;
        LinuxApis& os = sandbox.apis();
        const quint16 port = LoopbackSocket(-1).port; // free, once its socket is closed
        ScopedEnv portEnv("CORVANE_STANDIN_PORT", QByteArray::number(port));
        ScopedEnv ready("CORVANE_STANDIN_READY_AFTER", "3");
        ScopedEnv hang("CORVANE_STANDIN_HANG_AFTER", "5");
        const auto text = [&] { return os.GetConsoleText("Map Server"); };
        const ServerProcess p =
            os.LaunchServer(TmuxSandbox::builtProgram("map-server"), "Map Server");
        QVERIFY(p.lPID > 0);
        QTRY_VERIFY(text().contains("Loading configuration"));
        QCOMPARE(Settled(os, os.BeginPortProbe(port)), Answer::Refused); // still loading
        QVERIFY(!text().contains("Listening"));
        QTRY_VERIFY(HasLine(text(), QStringLiteral("Listening on port %1").arg(port)));
        QCOMPARE(Settled(os, os.BeginPortProbe(port)), Answer::Accepting);
        // Hung: refuses, prints nothing, answers nothing typed, yet ends when asked.
        QTRY_COMPARE_WITH_TIMEOUT(Settled(os, os.BeginPortProbe(port)), Answer::Refused, 8000);
        QVERIFY(os.SendConsoleInput("Map Server", "status") != 0);
        QTRY_VERIFY(HasLine(text(), "status"));
        const QString hung = text();
        QTest::qWait(1500);
        QCOMPARE(text(), hung);
        QVERIFY(!hung.contains("answers status"));
        QVERIFY(::kill(p.lPID, SIGTERM) == 0);
        QTRY_VERIFY(PidfdProcessEnded(static_cast<int>(p.hProcess.raw())));
        os.ReleaseProcessHandle(p.hProcess);
    }
};

QTEST_GUILESS_MAIN(PortProbesTest)
#include "tst_port_probes.moc"
