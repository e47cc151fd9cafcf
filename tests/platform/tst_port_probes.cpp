// Port probes on the loopback: a listener that takes connections, a port that refuses them, and a
// listener without room, which keeps a probe waiting. (The stand-ins' port, slow start and hang
// are seen through the launcher in tst_health_live.)
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
Answer Settled(PortProbes& probes, std::int32_t probe, int ms = 5000) {
    const QDeadlineTimer deadline(ms);
    Answer answer;
    while ((answer = probes.answer(probe)) == Answer::NoAnswerYet && !deadline.hasExpired())
        QTest::qSleep(5);
    return answer;
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
};

QTEST_GUILESS_MAIN(PortProbesTest)
#include "tst_port_probes.moc"
