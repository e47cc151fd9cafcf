// A map server that exits at once on every start, watched at a 1-second interval for two minutes:
// the launcher keeps relaunching it, stays responsive, and holds no more descriptors, process
// handles or memory at the end than after the first few rounds; its log grows by the lines of
// each round and nothing else.

#include "EventLoopProbe.h"
#include "FaultLauncher.h"
#include "SelfUsage.h"
#include "ServerCensus.h"
#include "TabStrip.h"
#include "TmuxSandbox.h"
#include "WhenSeen.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

namespace {

constexpr qint64 kLoopMs = 120000;
constexpr qint64 kWarmUpMs = 20000;
constexpr std::int64_t kAllowedGrowthBytes = 4 * 1024 * 1024;

// What one process looks like at one moment.
struct Usage {
    int descriptors = 0;
    QStringList targets;
    std::int64_t memory = 0;
    static Usage Now() {
        return Usage{self::OpenDescriptors(), self::DescriptorTargets(),
                     self::HeapOrResidentBytes()};
    }
};

} // namespace

class FaultCrashLoopTest : public QObject {
    Q_OBJECT
private slots:
    void aServerThatExitsOnEveryStart() {
        TmuxSandbox sandbox;
        ScopedEnv only("CORVANE_STANDIN_KNOBS_FOR", "map-server");
        ScopedEnv exitAtOnce("CORVANE_STANDIN_EXIT_AT_ONCE", "1");
        FaultLauncher launcher(sandbox, FaultLauncher::kAwkwardFolderName);
        QVERIFY(launcher.isReady());
        frmMain& w = launcher.window();
        launcher.useQuickTicks();
        w.conTab->Select(3); // the map server's console is mirrored on every tick too
        EventLoopProbe probe;
        w.cmdServerStart_Click();
        QCOMPARE(w.ServerState, 1);
        const int linesAtStart = static_cast<int>(launcher.log().size());

        // Samples are taken from a timer of our own, while the ticks wait inside the event loop.
        QElapsedTimer running;
        running.start();
        std::optional<Usage> afterWarmUp;
        std::int64_t highestMemory = 0;
        QTimer sampler;
        sampler.setInterval(500);
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            if (running.elapsed() < kWarmUpMs)
                return;
            const Usage now = Usage::Now();
            if (!afterWarmUp)
                afterWarmUp = now;
            highestMemory = std::max(highestMemory, now.memory);
        });
        sampler.start();

        // Two minutes of crash rounds; the stop comes during a crash notice, between two rounds.
        Usage atEnd;
        WhenSeen twoMinutesUp(
            [&] { return running.elapsed() >= kLoopMs && !w.lblCrashNotice->isHidden(); },
            [&] {
                sampler.stop();
                atEnd = Usage::Now();
                w.cmdServerShutdown_Click();
            });
        if (!WaitUntil([&] { return twoMinutesUp.seen() && w.ServerState == 0; },
                       kLoopMs + 20000)) {
            launcher.printLog();
            QFAIL("the crash rounds stopped before two minutes were up");
        }
        QTRY_VERIFY_WITH_TIMEOUT(census::RunningIn(launcher.folder()).isEmpty(), 5000);

        // The log: per round a crash line, a start line and a PID line, and nothing else.
        const QStringList lines = launcher.log().mid(linesAtStart);
        const int rounds = static_cast<int>(lines.filter("> Map Server just crashed!").size());
        qInfo("%d relaunches in %lld s; descriptors %d after warm-up, %d at the end; memory %lld "
              "KB after warm-up, %lld KB at the end, %lld KB at most; longest event loop stall "
              "%lld ms",
              rounds, running.elapsed() / 1000, afterWarmUp ? afterWarmUp->descriptors : -1,
              atEnd.descriptors,
              static_cast<long long>(afterWarmUp ? afterWarmUp->memory / 1024 : -1),
              static_cast<long long>(atEnd.memory / 1024),
              static_cast<long long>(highestMemory / 1024), probe.longestStallMs());
        QVERIFY(rounds >= 10);
        QCOMPARE(lines.filter("> Starting Map Server ...").size(), rounds);
        QCOMPARE(lines.filter(QRegularExpression("> Map Server PID is \\d+$")).size(), rounds);
        static const QRegularExpression expected(
            "> (Map Server just crashed!|Starting Map Server \\.\\.\\.|Map Server PID is \\d+|"
            // The map server has mostly ended again by the time the priority step runs.
            "Map Server Process (was changed to high priority class\\.|could not be changed to "
            "high priority class: no process.*)|Terminating Servers by "
            "Sending Terminate Signal\\.\\.\\.|Login Server returnred code 1|Character Server "
            "returned code 1|Map Server returned code [01])$");
        for (const QString& line : lines)
            QVERIFY2(expected.match(line).hasMatch(), qPrintable(line));
        QCOMPARE(launcher.linesWith("Login Server just crashed!"), 0);
        QCOMPARE(launcher.linesWith("Char Server just crashed!"), 0);

        // Flat: the same descriptors after warm-up and at the end; each relaunch gave back the
        // handle of the process it replaced, so only the three records hold one.
        QVERIFY(afterWarmUp.has_value());
        QVERIFY2(atEnd.targets == afterWarmUp->targets,
                 qPrintable("after warm-up:\n" + afterWarmUp->targets.join('\n') +
                            "\nat the end:\n" + atEnd.targets.join('\n')));
        QCOMPARE(self::Pidfds(), 3);
        QVERIFY2(highestMemory - afterWarmUp->memory < kAllowedGrowthBytes,
                 qPrintable(QString::number((highestMemory - afterWarmUp->memory) / 1024) +
                            " KB more than after warm-up"));

        // Responsive all along, and still.
        QVERIFY(probe.ticks() > 0);
        QVERIFY(probe.longestStallMs() < 1000);
        QVERIFY(EventLoopProbe::zeroTimerHandledWithin(1000));
    }
};

QTEST_MAIN(FaultCrashLoopTest)
#include "tst_faults_crash_loop.moc"
