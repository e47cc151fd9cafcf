// The history file without a window: what it keeps and for how long, the timeline of a run of the
// servers, and a file that stays whole when its writer is killed mid-write.
#include "CoreHarness.h"
#include "HistoryRecorder.h"
#include "HistoryStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <sys/stat.h>

namespace {

constexpr std::int64_t kT0 = 1'780'000'020'000; // a minute's start, as the fake clock's epoch is
constexpr std::int64_t kMinute = HistoryStore::kMinuteMs;
constexpr std::int64_t kDay = HistoryStore::kDayMs;

HistorySample At(int server, std::int64_t atMs, double cpu, std::int64_t memory,
                 std::optional<int> players = std::nullopt) {
    return HistorySample{server, atMs, cpu, memory, 9, 14, atMs - kT0, players};
}

// Every 2 s from fromMs for the given time: server 0 alternates 10 % and 30 % CPU, its memory
// grows, its players are counted; server 2 has no player count.
void WriteTicks(HistoryStore& store, std::int64_t fromMs, std::int64_t forMs) {
    for (std::int64_t t = fromMs; t < fromMs + forMs; t += 2000) {
        const int n = static_cast<int>((t - fromMs) / 2000);
        QVERIFY(store.addSamples({At(0, t, n % 2 ? 30 : 10, 1000 + n, n), At(2, t, 5, 2000)}));
    }
}

// How many rows the store holds: the samples of servers 0 and 2, then their minutes.
QList<qsizetype> Rows(const HistoryStore& store) {
    return {store.samples(0, 0).size(), store.samples(2, 0).size(), store.minutes(0, 0).size(),
            store.minutes(2, 0).size()};
}

// What a run of compaction did: minutes summarised, samples dropped, and whether more is due.
QList<int> Did(const HistoryStore::Compaction& done) {
    return {done.minutesSummarised, done.samplesDropped, done.more};
}

// Each sample as its second of the run, CPU, memory and player count.
QStringList Told(const QList<HistorySample>& samples) {
    QStringList told;
    for (const HistorySample& s : samples)
        told << QStringLiteral("%1 s %2 % %3 B %4")
                    .arg((s.atMs - kT0) / 1000)
                    .arg(s.cpuPercent)
                    .arg(s.residentBytes)
                    .arg(s.players ? QString::number(*s.players) : QStringLiteral("-"));
    return told;
}

std::unique_ptr<HistoryStore> Open(const QString& path) {
    QString why;
    auto store = HistoryStore::Open(QFileInfo(path).path(), QFileInfo(path).fileName(), &why);
    if (!store)
        qWarning("cannot open: %s", qPrintable(why));
    return store;
}

// Every process the pretend system is asked about runs, with the same use.
void EveryProcessRuns(FakeApis& apis) {
    for (int pid = 1000; pid < 1100; ++pid)
        apis.usage[pid] = ServerUsage{true, 500, 64 << 20, 8, 12, 1, 5000};
}

void SampleEvery2s(CoreHarness& h, int count) {
    for (int tick = 0; tick < count; ++tick) {
        h.core().resources().Sample();
        h.clock.now += 2000;
    }
}

// The child process of the kill test: writes ticks and compacts without end, telling its parent
// once the first ones are committed.
int WriteUntilKilled(const QString& folder) {
    auto store = Open(folder + QStringLiteral("/history.sqlite"));
    if (!store)
        return 2;
    for (std::int64_t t = kT0;; t += 2000) {
        QList<HistorySample> tick;
        for (int server = 0; server < 3; ++server)
            tick << At(server, t, 12.5, 300'000'000 + t % 1000, 7);
        if (!store->addSamples(tick))
            return 3;
        store->addEntry({t, 1, TimelineEntry::Kind::Crash, QStringLiteral("exit status 3"), {}});
        if (t % kMinute == 0)
            store->compact(t);
        if (t == kT0 + 100 * 2000) {
            std::fputs("written\n", stdout);
            std::fflush(stdout);
        }
    }
}

} // namespace

class HistoryTest : public QObject {
    Q_OBJECT
private slots:
    // Full rate for a day, a summary a minute for 90 days, then nothing; the summary averages the
    // CPU, keeps the most memory and the latest player count, and no count where none was given.
    void samplesThinOutWithAge() {
        QTemporaryDir dir;
        auto store = Open(dir.filePath("history.sqlite"));
        QVERIFY(store);
        WriteTicks(*store, kT0, 2 * kMinute);
        QCOMPARE(Did(store->compact(kT0 + 2 * kMinute + 1000)), (QList<int>{4, 0, 0}));
        QCOMPARE(Rows(*store), (QList<qsizetype>{60, 60, 2, 2})); // samples less than a day old
        QCOMPARE(Told(store->minutes(0, 0)),
                 QStringList({"0 s 20 % 1029 B 29", "60 s 20 % 1059 B 59"}));
        QCOMPARE(Told(store->minutes(2, 0)),
                 QStringList({"0 s 5 % 2000 B -", "60 s 5 % 2000 B -"}));
        // the first minute of both servers
        QCOMPARE(Did(store->compact(kT0 + kDay + kMinute)), (QList<int>{0, 2 * 30, 0}));
        QCOMPARE(Rows(*store), (QList<qsizetype>{30, 30, 2, 2}));
        store->compact(kT0 + kDay + 3 * kMinute);
        QCOMPARE(Rows(*store), (QList<qsizetype>{0, 0, 2, 2}));
        store->compact(kT0 + 90 * kDay);
        QCOMPARE(Rows(*store), (QList<qsizetype>{0, 0, 2, 2})); // 90 days old, not older: kept
        store->compact(kT0 + 90 * kDay + 3 * kMinute);
        QCOMPARE(Rows(*store), (QList<qsizetype>{0, 0, 0, 0}));
        QCOMPARE(store->integrityCheck(), "ok");
    }

    // However long the launcher was away, a run does a bounded amount of work; the runs after it
    // finish the rest, and samples are never dropped before their minute is summarised.
    void compactionWorksInBoundedRuns() {
        const std::int64_t later = kT0 + 3 * kDay;
        for (const int budget : {1000, 100'000}) {
            QTemporaryDir dir;
            auto store = Open(dir.filePath("history.sqlite"));
            QVERIFY(store);
            WriteTicks(*store, kT0, 3 * 60 * kMinute); // three hours: 5400 samples of each server
            // An hour of each summarised; with room for every old sample in a run, only those of
            // that hour go.
            QCOMPARE(Did(store->compact(later, budget)),
                     (QList<int>{2 * 60, qMin(budget, 3600), 1}));
            if (budget == 1000) {
                QCOMPARE(Rows(*store), (QList<qsizetype>{4400, 5400, 60, 60}));
                QCOMPARE(store->samples(0, 0).first().atMs, kT0 + 1000 * 2000); // the oldest went
            }
            int runs = 1;
            while (store->compact(later, budget).more && runs < 100)
                ++runs;
            QVERIFY(budget != 1000 || runs == 10); // 10800 samples, 1000 a run
            QCOMPARE(Rows(*store), (QList<qsizetype>{0, 0, 180, 180}));
        }
    }

    // The file is this user's alone, and a link in its place is refused, not followed.
    void theFileIsPrivateAndNeverALink() {
        QTemporaryDir dir;
        QVERIFY(Open(dir.filePath("history.sqlite")));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(dir.filePath("history.sqlite")).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);

        QTemporaryDir other;
        const QString target = other.filePath("elsewhere");
        QVERIFY(WriteFile(target, {}));
        QVERIFY(QFile::link(target, dir.filePath("linked.sqlite")));
        QString why;
        QVERIFY(!HistoryStore::Open(dir.path(), QStringLiteral("linked.sqlite"), &why));
        QVERIFY2(why.contains("link"), qPrintable(why));
        QCOMPARE(QFileInfo(target).size(), 0);
        QVERIFY(QFile::link(target, dir.filePath("history.sqlite-wal")));
        QVERIFY(!HistoryStore::Open(dir.path(), QStringLiteral("history.sqlite"), &why));
    }

    // A run of the servers as the timeline tells it, from the core's own signals: the starts, a
    // crash with how it ended and its report, its relaunch, a failed health probe, the stops; and
    // the samples with their player counts. All of it is in the file after the recorder is gone,
    // and a recorder opened again adds to it.
    void aRunOfTheServersIsKeptAcrossRestarts() {
        QTemporaryDir state;
        QTemporaryDir logs;
        CoreHarness h;
        h.core().UseLogFolder(logs.path(), QString());
        h.apis.endings["Map Server"] =
            ConsoleEnding{ConsoleEnding::State::Ended, "exit status 3", "the last line", 3};
        const QString file = state.filePath(HistoryRecorder::FileName(CoreHarness::kFolder));
        std::int64_t crashedFrom = 0, crashedTo = 0; // when the crash was being handled
        {
            HistoryRecorder recorder(h.core(), state.path());
            QCOMPARE(recorder.filePath(), file);
            recorder.setPlayerCount(
                [](int server) { return server == 2 ? std::optional<int>(42) : std::nullopt; });
            h.startedCore();
            EveryProcessRuns(h.apis);
            h.core().resources().Sample();
            h.clock.now += 2000;
            crashedFrom = h.clock.EpochMs();
            h.apis.crashAndWake("map-server");
            crashedTo = h.clock.EpochMs();
            h.clock.now += 2000;
            h.fleet().monitor().ServerFailedProbe(1, "hung (no answer on port 6121 for 45 s)");
            h.fleet().CheckDeadlines();
            h.core().resources().Sample();
        }
        {
            CoreHarness again;
            again.clock.now = h.clock.now + 5000;
            HistoryRecorder recorder(again.core(), state.path());
            again.fleet().StopServers(); // nothing runs: nothing is added
            again.core().resources().Sample();
            EveryProcessRuns(again.apis);
            again.startedCore();
            again.core().resources().Sample();
            again.fleet().StopServersAndGoOffline();
            recorder.flush();
        }
        auto store = Open(file);
        QVERIFY(store);
        QCOMPARE(store->integrityCheck(), "ok");
        QStringList told;
        QList<TimelineEntry> entries = store->timeline(0, 100);
        std::reverse(entries.begin(), entries.end());
        for (const TimelineEntry& e : entries)
            told << QStringLiteral("%1 %2 %3")
                        .arg(e.server)
                        .arg(TimelineEntry::KindName(e.kind), e.how);
        QCOMPARE(
            told,
            QStringList({"0 start ", "1 start ", "2 start ", "2 crash exit status 3", "2 relaunch ",
                         "1 probe failed hung (no answer on port 6121 for 45 s)", "1 relaunch ",
                         // the second launcher
                         "0 start ", "1 start ", "2 start ", "0 stop ", "1 stop ", "2 stop "}));
        const TimelineEntry crash = entries[3];
        QVERIFY2(QFileInfo(crash.reportFile).isFile(), qPrintable(crash.reportFile));
        QCOMPARE(QFileInfo(crash.reportFile).absolutePath(),
                 QFileInfo(logs.path()).absoluteFilePath());
        QVERIFY(crash.atMs >= crashedFrom && crash.atMs <= crashedTo);
        QVERIFY2(QFileInfo(entries[5].reportFile).isFile(), qPrintable(entries[5].reportFile));

        const QList<HistorySample> map = store->samples(2, 0);
        QCOMPARE(map.size(), 3); // two by the first launcher, one by the second
        QCOMPARE(map[0].players, std::optional<int>(42));
        QCOMPARE(map[0].residentBytes, 64 << 20);
        QCOMPARE(map[2].players, std::nullopt); // the second launcher counts none
        QCOMPARE(store->samples(0, 0).first().players, std::nullopt);
    }

    // The samples reach the file in batches, one every "History Write Seconds" as the clock tells,
    // with no flush; a view read between two batches holds every sample taken so far. The recorder
    // compacts once a minute as its clock tells, at a sample.
    void samplesReachTheFileInBatchesAndAreCompactedByTheClock() {
        QTemporaryDir state;
        CoreHarness h;
        h.settings.values[HistoryRecorder::kWriteSecondsKey] = QStringLiteral("10");
        HistoryRecorder recorder(h.core(), state.path());
        EveryProcessRuns(h.apis);
        h.startedCore();
        auto store = Open(recorder.filePath());
        QVERIFY(store);
        SampleEvery2s(h, 6); // 0 s (the first, with the compaction) to 10 s: the period has passed
        QTRY_COMPARE(store->samples(1, 0).size(), 6);
        SampleEvery2s(h, 2); // 12 s and 14 s wait for the next batch
        QTest::qWait(100);
        QCOMPARE(store->samples(1, 0).size(), 6);
        std::optional<HistoryView> view;
        recorder.load(&recorder, [&view](const HistoryView& v) { view = v; });
        QTRY_VERIFY(view.has_value());
        QCOMPARE(view->hour[1].size(), 8);
        QCOMPARE(view->hour[1].last().atMs, h.clock.EpochMs() - 2000);
        SampleEvery2s(h, 32);
        recorder.flush();
        QCOMPARE(store->samples(1, 0).size(), 40);
        // Nothing had ended at the first sample's run; the run a minute on summarised the minute
        // the first samples were in.
        QCOMPARE(store->minutes(1, 0).size(), 1);
        h.clock.now += 60'000;
        h.core().resources().Sample();
        recorder.flush();
        QCOMPARE(store->minutes(1, 0).size(), 2);
    }

    // The history is kept across runs only where the installation's file asks for it ("keep
    // history = 1"), in the user's state folder ($XDG_STATE_HOME); otherwise in memory, and
    // nothing is made anywhere. Closed as the launcher ends, the file alone holds everything:
    // what the write-ahead log held is in it, so that a copy of the .sqlite file is the history.
    void keptOnlyWhenAskedAndWholeOnceClosed() {
        QTemporaryDir state;
        QTemporaryDir folder;
        const QByteArray stateBefore = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
        const auto run = [&](const QByteArray& ini,
                             const std::function<void(HistoryRecorder&)>& then) {
            QVERIFY(WriteFile(folder.filePath("corvane-launcher.ini"), ini));
            CoreHarness h(nullptr, nullptr, nullptr, folder.path());
            HistoryRecorder recorder(h.core(),
                                     [&h] { return HistoryRecorder::KeptFolder(h.core()); });
            h.addServerFiles();
            h.loadCore().StartServersAndGoOnline();
            then(recorder);
        };
        run("[Launcher]\nlog files kept = 3\n", [&](HistoryRecorder& recorder) {
            QVERIFY(recorder.inMemory());
            recorder.close();
            QVERIFY(
                QDir(state.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        });
        const QString kept =
            state.path() + "/corvane-launcher/" + HistoryRecorder::FileName(folder.path());
        QTemporaryDir copy;
        run("[Launcher]\nkeep history = 1\n", [&](HistoryRecorder& recorder) {
            QVERIFY(!recorder.inMemory());
            QCOMPARE(recorder.filePath(), kept);
            recorder.close();
            QVERIFY(QFile::copy(kept, copy.filePath(QFileInfo(kept).fileName())));
        });
        qputenv("XDG_STATE_HOME", stateBefore);
        auto store = Open(copy.filePath(QFileInfo(kept).fileName()));
        QVERIFY(store);
        QCOMPARE(store->timeline(0, 100).size(), 3); // the three starts
    }

    // A writer killed at any moment, mid-transaction most likely, leaves a whole file with what it
    // committed.
    void aWriterKilledMidWriteLeavesAWholeFile() {
        QTemporaryDir dir;
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--write-until-killed"), dir.path()});
        QVERIFY(child.waitForStarted());
        QVERIFY(child.waitForReadyRead(20'000));
        QCOMPARE(child.readLine(), QByteArray("written\n"));
        child.kill(); // SIGKILL
        QVERIFY(child.waitForFinished());
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        auto store = Open(dir.filePath("history.sqlite"));
        QVERIFY(store);
        QCOMPARE(store->integrityCheck(), "ok");
        QVERIFY(store->samples(1, 0).size() >= 101);
        QVERIFY(store->timeline(0, 1000).size() >= 101);
        // and it goes on being written
        QVERIFY(store->addSamples({At(1, kT0 - 2000, 1, 1)}));
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--write-until-killed")
        return WriteUntilKilled(QString::fromLocal8Bit(argv[2]));
    HistoryTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_history.moc"
