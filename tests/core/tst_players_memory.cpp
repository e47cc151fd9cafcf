// Players counted from what the consoles print, and the memory rule that restarts a server which
// holds too much for too long, against the pretend operating system and the instant clock.
#include "CoreHarness.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

using State = ServerSupervisor::State;
constexpr std::int64_t kMB = 1024 * 1024;

// The core over its own server folder (see FolderCore), online.
struct OnlineCore : FolderCore {
    explicit OnlineCore(const QByteArray& ini) : FolderCore(ini, true) {}
    // The server's players; -1 for no count at all.
    int players(int server) { return h.core().players().players(server).value_or(-1); }
    // Every server's processes hold that much, as the next samples find.
    void holding(std::int64_t megabytes) {
        for (int i = 0; i < 3; ++i)
            h.apis.usage[h.server(i).process.lPID] = {true, 0, megabytes * kMB, 4, 8, 1, 1000};
    }
    // Samples every 2 s for ms of the clock, as the sampler's timer does.
    void sampleFor(std::int64_t ms) {
        for (std::int64_t t = 0; t < ms; t += 2000) {
            h.clock.now += 2000;
            h.core().resources().Sample();
        }
    }
};

} // namespace

class PlayersMemoryTest : public QObject {
    Q_OBJECT
private slots:
    // The keys are read per server; a pattern that cannot count, or a limit that is no limit, is
    // named with its line and left out, the rest applies.
    void theKeysAreReadAndBadLinesNamed() {
        const InstallationConfig c = InstallationConfig::Parse(
            "[Login Server]\nplayers = (\\d+) players connected\n"
            "memory limit = 800 MB for 5 minutes\n"
            "[Char Server]\nplayer joins = joined the game\nplayer leaves = left the game\n"
            "memory limit = 2048 mb for 1 minute\n"
            "[Map Server]\nplayers = (\\d+ players\nplayers = no group here\n"
            "memory limit = 800 for 5 minutes\nmemory limit = 800 MB for 0 minutes\n"
            "player joins = joined\n",
            "f.ini");
        // What the counts and restarts below do not show: the unit in small letters.
        QVERIFY(c.servers[1].memoryLimit.megabytes == 2048 &&
                c.servers[1].memoryLimit.minutes == 1);
        // A join pattern alone counts nothing; the map server has no count and no limit.
        QVERIFY(!c.servers[2].players.counts() && !c.servers[2].memoryLimit.on());
        QCOMPARE(ProblemLines(c), QList<int>({0, 9, 10, 11, 12}));
        for (const char* named : {"f.ini line 9: \"(\\d+ players\" is no regular expression",
                                  "[Map Server]: \"player joins\" without \"player leaves\""})
            QVERIFY2(c.problems.filter(named).size() == 1, named);
    }

    // From a line that states the count (the newest one counts) and from join and leave lines
    // (never below 0); counted anew when the server's process is a new one; nothing at all for a
    // server without a rule, whatever its console prints.
    // A console's text may or may not end with a break after its last line; a line that stays the
    // last one is counted once either way.
    void playersAreCountedFromTheConsoles_data() {
        QTest::addColumn<bool>("breakAtEnd");
        QTest::newRow("a break after the last line") << true;
        QTest::newRow("no break after the last line") << false;
    }
    void playersAreCountedFromTheConsoles() {
        QFETCH(bool, breakAtEnd);
        const auto Text = [breakAtEnd](const QStringList& lines) {
            return lines.join(u'\n') + (breakAtEnd ? "\n" : "");
        };
        // Lines printed after what a console holds.
        const auto More = [&](const QStringList& lines) {
            return (breakAtEnd ? "" : "\n") + Text(lines);
        };
        OnlineCore fc("[Login Server]\nplayers = (\\d+) players connected\n"
                      "[Char Server]\nplayer joins = ^Player\\d+ joined\n"
                      "player leaves = ^Player\\d+ left\n");
        CoreHarness& h = fc.h;
        const QString said = "online, uptime 5 s, 3 players connected";
        h.apis.consoles["Login Server"] = Text({said, "online, uptime 6 s, 5 players connected",
                                                "Player9 joined the game", "status: fine"});
        h.apis.consoles["Char Server"] =
            Text({"Player1 joined", "Player2 joined", "Player1 left", "Player3 joined"});
        h.apis.consoles["Map Server"] = Text({said, "Player1 joined", "Player1 left"});
        fc.sampleFor(2000);
        QCOMPARE(fc.players(0), 5);
        QCOMPARE(fc.players(1), 2);
        QCOMPARE(fc.players(2), -1);
        const StatusSnapshot status = h.core().CurrentStatus();
        QVERIFY(status.servers[0].players == 5 && !status.servers[2].players);

        // Only what is new is counted again; more leaves than joins stop at 0.
        h.apis.consoles["Login Server"] += More({"online, uptime 9 s, 12 players connected",
                                                 "online, uptime 9 s, no players connected"});
        h.apis.consoles["Char Server"] +=
            More({"Player2 left", "Player3 left", "Player4 left", "Player5 joined"});
        fc.sampleFor(2000);
        QCOMPARE(fc.players(0), 12);
        QCOMPARE(fc.players(1), 1);
        // Nothing printed for a while: the join line that stays the last one counts no more.
        fc.sampleFor(20'000);
        QCOMPARE(fc.players(1), 1);

        // A relaunch is a new process with a new console: counted from 0 again.
        h.apis.consoles["Char Server"] = Text({"Char Server relaunched"});
        h.apis.crashAndWake("char-server");
        QCOMPARE(h.server(1).state(), State::Running);
        fc.sampleFor(2000);
        QCOMPARE(fc.players(1), 0);
        h.apis.consoles["Char Server"] += More({"Player7 joined"});
        fc.sampleFor(2000);
        QCOMPARE(fc.players(1), 1);

        // Stopped: still a count, of no one.
        h.fleet().StopServers();
        h.fleet().CheckDeadlines();
        fc.sampleFor(2000);
        QCOMPARE(fc.players(0), 0);
        QCOMPARE(fc.players(2), -1);
    }

    // Console text is the servers' own: a pattern that backtracks without end, against a console
    // full of long lines made for it, is cut off by the match limit and counts nothing (unbounded,
    // these looks would not end within the test's time limit).
    void aHostileConsoleCostsLittle() {
        OnlineCore fc("[Login Server]\nplayers = ^(a+)+$\n"
                      "[Char Server]\nplayer joins = ^(\\w+\\s?)*joined$\n"
                      "player leaves = (x+x+)+y\n");
        // Each fails to match only at its 251st character, well within what is matched.
        QStringList lines;
        for (int i = 0; i < 400; ++i)
            lines << QString(250, u'a') + u'b' + QString(4000, u'c');
        fc.h.apis.consoles["Login Server"] = fc.h.apis.consoles["Char Server"] =
            lines.join(u'\n') + u'\n';
        fc.sampleFor(2000);
        QCOMPARE(fc.players(0), 0);
        QCOMPARE(fc.players(1), 0);
    }

    // Above its limit for the whole time the rule gives, and only then, a server is restarted
    // through its stop sequence: told in the log and by one alert, no crash counted nor shown.
    // One episode restarts it once, also when the restart fails; a dip below the limit begins a
    // new one. A server without a limit is never restarted for its memory.
    void theMemoryRuleRestartsOncePerEpisode() {
        OnlineCore fc("[Map Server]\nmemory limit = 800 MB for 5 minutes\n");
        CoreHarness& h = fc.h;
        QSignalSpy alerts(&h.core().alerts(), &AlertWatch::alertRaised);
        QSignalSpy crashes(&h.fleet().monitor(), &CrashMonitor::serverCrashed);
        QSignalSpy notices(&h.fleet().monitor(), &CrashMonitor::crashNoticeChanged);
        const auto restartLines = [&] { return h.logSince(0).filter("above its limit"); };

        // 4 min above, a dip, 4 min above: no restart.
        fc.holding(812);
        fc.sampleFor(240'000);
        fc.holding(790);
        fc.sampleFor(2000);
        fc.holding(812);
        fc.sampleFor(2000); // the first sample above the limit
        fc.sampleFor(240'000);
        QCOMPARE(restartLines(), QStringList());
        // 5 minutes above from the first sample above the limit.
        fc.sampleFor(58'000);
        QCOMPARE(restartLines(), QStringList());
        const std::int32_t before = h.server(2).process.lPID;
        fc.sampleFor(2000);
        QCOMPARE(restartLines(), QStringList{"> Map Server: resident memory 812 MB above its limit "
                                             "of 800 MB for 5 minutes; restarting it."});
        QCOMPARE(h.audited,
                 QStringList{"memory rule the launcher: restart Map Server -> begun: Map "
                             "Server: resident memory 812 MB above its limit of 800 MB "
                             "for 5 minutes; it is being restarted."});
        h.fleet().CheckDeadlines();
        h.fleet().tmrStatusUpdater_Timer();
        QCOMPARE(h.server(2).state(), State::Running);
        QVERIFY(h.server(2).process.lPID != before);
        QCOMPARE(h.apis.count("LaunchServer"), 4); // the map server alone, again
        QCOMPARE(alerts.size(), 1);
        const Alert alert = alerts[0][0].value<Alert>();
        QVERIFY(alert.kind == Alert::Kind::MemoryRestart && alert.server == "Map Server" &&
                alert.isTrouble());
        QVERIFY(alert.message.contains("812 MB above its limit of 800 MB"));
        QVERIFY(crashes.isEmpty() && notices.isEmpty());
        QVERIFY(h.server(2).tally.crashes == 0 && h.server(2).tally.relaunches == 0);
        QVERIFY(!h.server(2).backoff.keepsCrashing());
        QCOMPARE(h.fleet().ServerState(), LauncherState::Online);

        // The new process holds as much, and ignores the close request: restarted once more after
        // 5 minutes; the failed restart leaves it running, and it is not asked again.
        h.apis.ignoringClose.insert("Map Server");
        fc.holding(900);
        fc.sampleFor(302'000);
        QCOMPARE(restartLines().size(), 2);
        fc.sampleFor(30'000);
        h.fleet().CheckDeadlines();
        QVERIFY(h.logSince(0).contains("> Map Server has not ended 30 seconds after the close "
                                       "request; it is left running."));
        fc.sampleFor(600'000);
        QCOMPARE(restartLines().size(), 2);
        QCOMPARE(alerts.size(), 2);
        QCOMPARE(h.apis.count("LaunchServer"), 4);
        QCOMPARE(h.server(2).tally.crashes, 0u);
    }

    // A backup that asked the server to save holds it: the rule does not stop it in the middle of
    // its save, however long the save takes, and says once why it waits.
    void theMemoryRuleWaitsForABackupsSave() {
        OnlineCore fc("[Map Server]\nmemory limit = 800 MB for 1 minute\nbackup path = worlds\n"
                      "save command = save-all\nsave confirmation = Saved the world\n");
        CoreHarness& h = fc.h;
        QVERIFY(QDir(fc.folder.path()).mkpath("worlds"));
        h.apis.consoles["Map Server"] = "Map Server online\n";
        fc.holding(900);
        QVERIFY(h.core().backups().StartBackup(2));
        QCOMPARE(h.apis.argsOf("SendConsoleInput"), QStringList{"Map Server\nsave-all"});
        fc.sampleFor(120'000);
        QCOMPARE(h.logSince(0).filter("above its limit").size(), 1);
        QCOMPARE(h.logSince(0).filter("cannot be restarted now").size(), 1);
        QVERIFY(h.apis.argsOf("CloseServerConsole").isEmpty());
        QCOMPARE(h.apis.count("LaunchServer"), 3);
    }
};

QTEST_GUILESS_MAIN(PlayersMemoryTest)
#include "tst_players_memory.moc"
