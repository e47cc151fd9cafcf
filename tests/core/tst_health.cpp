// Readiness, health probes and expected exits, against the pretend operating system and the
// instant clock: the start sequence waits for each server's rule, a hung server is announced as a
// crash and restarted through its stop sequence, and an end on purpose is left stopped. What each
// server's processes use, sampled as the operator sees it.
#include "CoreHarness.h"

#include <QFile>
#include <QTemporaryDir>

namespace {

using State = ServerSupervisor::State;

// Runs the health check every step ms for ms, as its timer would.
void RunFor(CoreHarness& h, int ms, int step = 100) {
    for (int t = 0; t < ms; t += step) {
        h.clock.now += step;
        h.fleet().CheckHealth();
    }
}

} // namespace

class HealthTest : public QObject {
    Q_OBJECT
private slots:
    void rulesAreReadAndBadLinesNamed() {
        const InstallationConfig c = InstallationConfig::Parse(
            "[Login Server]\nready = port 6900 30\nif not ready = stop\n"
            "[Char Server]\nready = line 45 Connected to (login|Login)\n"
            "[Map Server]\nprobe = port 5121 every 5 misses 4\nprobe = silence 120\n"
            "probe = line out of memory|Segmentation fault\nexpected exit = 0, 3\n"
            "ready = port 70000\nprobe = port 5121 every 0\nexpected exit = -1\n"
            "if not ready = maybe\nready = line 5 (unclosed\n"
            "probe = port 30000/UDP every 5\nprobe = frozen 30\nprobe = port 5121/sctp\n"
            "probe = frozen\n",
            "f.ini");
        // What the starts and probes below do not show: the port probe's two numbers apart, "UDP"
        // in capitals and exits given with commas. The bad lines leave the map server's settle time
        // be.
        const HealthRules& map = c.servers[2].health;
        QCOMPARE(map.ready.kind, ReadinessRule::Kind::SettleTime);
        QCOMPARE(map.probes.size(), 5u);
        QVERIFY(map.probes[0].everySeconds == 5 && map.probes[0].misses == 4);
        QVERIFY(map.probes[3].udp && map.probes[3].port == 30000);
        QCOMPARE(map.expectedExits, QList<int>({0, 3}));
        QCOMPARE(ProblemLines(c), QList<int>({11, 12, 13, 14, 15, 18, 19}));
    }

    // The next server starts only once the one before is ready; the launcher goes online after
    // the last one, and no connection is left open. A port is ready only when the server's own
    // processes hold it: one that another program holds (and answers on) keeps the start waiting,
    // and the log says whose it was; a UDP port is looked up, never connected to.
    void theChainWaitsForEachPort() {
        FolderCore fc("[Login Server]\nready = port 6900 5\n[Char Server]\nready = port 6121 60\n"
                      "[Map Server]\nready = port 30000/udp 5\n");
        CoreHarness& h = fc.h;
        h.apis.acceptingPorts.insert(6900);
        h.apis.portHolders[6900] = modAPIs::PortHolder::Other;
        h.apis.portHolders[30000] = modAPIs::PortHolder::Server;
        h.fleet().StartServersAndGoOnline();
        QVERIFY(h.server(0).awaitingReady() && !h.server(0).ready());
        RunFor(h, 4900);
        QCOMPARE(h.apis.count("LaunchServer"), 1);
        RunFor(h, 1900);
        QStringList log = h.logSince(0);
        const qsizetype held = log.indexOf("> Login Server: port 6900 held by another program");
        QVERIFY2(held > 0, qPrintable(log.join('\n')));
        QCOMPARE(log[held + 1], "> Login Server not ready after 5 s; starting Char Server anyway");
        QCOMPARE(h.apis.count("LaunchServer"), 2);
        QCOMPARE(h.fleet().ServerState(), LauncherState::Offline);
        h.apis.acceptingPorts.insert(6121);
        RunFor(h, 200);
        log = h.logSince(0);
        const qsizetype ready =
            log.indexOf("> Char Server is ready (port 6121 accepting, after 1.9 s)");
        QVERIFY2(ready > log.indexOf("> Char Server PID is 1001"), qPrintable(log.join('\n')));
        QCOMPARE(log.indexOf("> Starting Map Server ..."), ready + 1);
        RunFor(h, 1000);
        QVERIFY2(h.linesWith("> Map Server is ready (port 30000/udp bound, after 0.1 s)") == 1,
                 qPrintable(h.logSince(0).join('\n')));
        QCOMPARE(h.apis.count("LaunchServer"), 3);
        QCOMPARE(h.fleet().ServerState(), LauncherState::Online);
        QCOMPARE(h.apis.argsOf("BeginPortProbe").filter("30000"), QStringList());
        QVERIFY(h.apis.openProbes.isEmpty());
        QCOMPARE(h.core().CurrentStatus().servers[1].ready, true);
    }

    // A line printed during the settle time counts; one never printed runs out its time, and the
    // start goes on or stops there as configured. A server that ends meanwhile is not waited for.
    void aServerNotReadyInTime_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("console");
        QTest::addColumn<bool>("ends");
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("launches");
        const QByteArray rule = "[Login Server]\nready = line 5 ^World loaded\n",
                         stop = rule + "if not ready = stop\n";
        const QString late = "> Login Server not ready after 5 s; ";
        QTest::newRow("ready at once")
            << rule << "x\nWorld loaded in 3 s\n"
            << false << "> Login Server is ready (printed \"World loaded in 3 s\", after 0.1 s)"
            << 3;
        QTest::newRow("go on") << rule << "> World loaded\n"
                               << false << late + "starting Char Server anyway" << 3;
        QTest::newRow("stop") << stop << "" << false
                              << late + "the start stops here: Char Server and Map Server not "
                                        "started."
                              << 1;
        QTest::newRow("ended") << stop << "" << true << "> Login Server ended before it was ready."
                               << 1;
    }
    void aServerNotReadyInTime() {
        QFETCH(QByteArray, ini);
        QFETCH(QString, console);
        QFETCH(bool, ends);
        QFETCH(QString, line);
        QFETCH(int, launches);
        FolderCore fc(ini);
        CoreHarness& h = fc.h;
        h.apis.onCall = [&](const QString& op) {
            if (op == "LaunchServer")
                h.apis.consoles["Login Server"] = console;
        };
        h.fleet().StartServersAndGoOnline();
        if (ends)
            h.apis.crash("login-server");
        RunFor(h, 5000);
        QVERIFY2(h.logSince(0).contains(line), qPrintable(h.logSince(0).join('\n')));
        QCOMPARE(h.apis.count("LaunchServer"), launches);
        QCOMPARE(h.server(1).state(), launches == 3 ? State::Running : State::NotStarted);
        QCOMPARE(h.fleet().ServerState(), LauncherState::Online); // as after any early end
    }

    // A failed probe is a crash with its reason: reported with the console's last lines, the
    // server stopped by its stop sequence and started again. Never probed while it stops or is
    // stopped. A port probe fails also for a server whose processes are stopped (its socket still
    // takes connections), or whose port another program holds; a frozen server neither prints nor
    // uses CPU. A probe that never passed since the server was ready restarts it once; after that
    // it has to pass first, so that a probe wrong about a healthy server cannot restart it in a
    // loop.
    void aFailedProbeIsACrash_data() {
        QTest::addColumn<QByteArray>("probe");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("ms");
        const auto row = [](const char* name, const char* probe, const char* fault,
                            const QString& reason, int ms) {
            QTest::newRow(name) << QByteArray(probe) << fault << "hung (" + reason + ")" << ms;
        };
        const char *port = "port 5121 every 5 misses 2", *silence = "silence 20";
        row("port", "port 5121 every 15 misses 3", "hang", "no answer on port 5121 for 45 s",
            60'000);
        row("silence", silence, "hang", "no console output for 20 s", 25'000);
        // The console's text without a break after its last line.
        row("silence, no break at the end", silence, "hang, no break", "no console output for 20 s",
            25'000);
        row("line", "line Segmentation fault", "hang",
            "printed \"Segmentation fault (core dumped)\"", 25'000);
        row("port, stopped", port, "stopped", "stopped, port 5121 not served for 10 s", 16'000);
        row("port, another's", port, "other", "port 5121 not held by its own processes for 10 s",
            16'000);
        row("udp port, closed", "port 30000/udp every 5 misses 2", "nobody",
            "port 30000/udp not held by its own processes for 10 s", 16'000);
        row("frozen, stopped", "frozen 20", "stopped",
            "stopped: no console output and no CPU used for 20 s", 30'000);
        row("frozen, idle", "frozen 20", "idle", "no console output and no CPU used for 20 s",
            30'000);
        QTest::newRow("never passed") << QByteArray(port) << "never"
                                      << "probe \"port 5121\" has not passed since the server "
                                         "was ready; it is not acted on until it does"
                                      << 300'000;
    }
    void aFailedProbeIsACrash() {
        QFETCH(QByteArray, probe);
        QFETCH(QString, fault);
        QFETCH(QString, reason);
        QFETCH(int, ms);
        QTemporaryDir logs;
        FolderCore fc("[Map Server]\nprobe = " + probe + "\n");
        CoreHarness& h = fc.h;
        const auto print = [&](const QString& line) {
            QString& text = h.apis.consoles["Map Server"];
            text +=
                fault != "hang, no break" ? line + u'\n' : (text.isEmpty() ? line : u'\n' + line);
        };
        h.core().UseLogFolder(logs.path(), {});
        if (fault != "never")
            h.apis.acceptingPorts.insert(5121);
        h.apis.portHolders[5121] = modAPIs::PortHolder::Server;
        h.apis.portHolders[30000] = modAPIs::PortHolder::Server;
        h.fleet().StartServersAndGoOnline();
        ServerUsage map{true, 1000, 100 << 20, 4, 8, 1, 10'000};
        // Healthy, it prints every 10 s and its CPU time moves; a sample every 2 s.
        bool healthy = true;
        const auto runFor = [&](int ms) {
            for (int t = 0; t < ms; t += 2000) {
                if (healthy && t % 10'000 == 0)
                    print("Map Server online");
                if (healthy || fault.startsWith("hang"))
                    map.cpuMs += 20;
                h.apis.usage[h.server(2).process.lPID] = map;
                h.core().resources().Sample();
                RunFor(h, 2000, 1000);
            }
        };
        runFor(60'000);
        if (fault == "never") { // restarted once, then no more
            runFor(ms);
            QCOMPARE(h.linesWith("> Map Server: hung (no answer on port 5121 for 10 s)"), 1);
            QCOMPARE(h.linesWith("> Map Server: " + reason), 1);
            QCOMPARE(h.linesWith("just crashed"), 1);
            QCOMPARE(h.apis.argsOf("LaunchServer").filter("map-server").size(), 2);
            return;
        }
        QCOMPARE(h.linesWith("just crashed"), 0);
        healthy = false;
        if (fault.startsWith("hang")) {
            h.apis.acceptingPorts.clear();
            print("Segmentation fault (core dumped)");
        }
        map.stoppedProcesses = fault == "stopped";
        if (fault == "other")
            h.apis.portHolders[5121] = modAPIs::PortHolder::Other;
        if (fault == "nobody")
            h.apis.portHolders[30000] = modAPIs::PortHolder::Nobody;
        const int mark = h.logCount();
        runFor(ms);
        const QStringList log = h.logSince(mark);
        QVERIFY2(log.size() >= 2, qPrintable(log.join('\n')));
        QCOMPARE(log[0], "> Map Server just crashed!");
        QCOMPARE(h.audited,
                 QStringList{"health rule the launcher: restart Map Server -> begun: " + reason});
        QVERIFY2(log[1].startsWith("> Map Server: " + reason + "; crash report: " + logs.path()),
                 qPrintable(log[1]));
        QCOMPARE(h.linesWith("just crashed"), 1);
        QCOMPARE(h.apis.argsOf("CloseServerConsole"), QStringList{"Map Server"});
        QCOMPARE(h.apis.argsOf("LaunchServer").filter("map-server").size(), 2);
        QCOMPARE(h.server(2).state(), State::Running);
        QVERIFY(h.fleet().monitor().NoticeShown());
        const StatusSnapshot status = h.core().CurrentStatus();
        QVERIFY(status.servers[2].probeFailures == 1 && status.servers[2].crashes == 1);
        // Stopped by the operator: no probe runs.
        h.fleet().StopServerAlone(2);
        const int probes = h.apis.count("BeginPortProbe") + h.apis.count("GetConsoleText");
        RunFor(h, 60'000, 1000);
        QCOMPARE(h.apis.count("BeginPortProbe") + h.apis.count("GetConsoleText"), probes);
        QVERIFY(h.apis.openProbes.isEmpty());
    }

    // Every pattern of the operator's is matched as the players pattern is: against a line's
    // first characters only, giving up after a bounded number of steps. A line the server made
    // to match only past those, or only after a backtracking without end, does not count.
    void everyPatternIsBoundedAsThePlayersPatternIs_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("matched"); // what the log says once a line matched
        QTest::addColumn<bool>("hostile");
        const QByteArray p = "^(a+)+x|a$|MATCHME";
        const QList<std::pair<const char*, QByteArray>> kinds = {
            {"ready", "[Map Server]\nready = line 5 " + p + "\n"},
            {"probe", "[Map Server]\nprobe = line " + p + "\n"},
            {"save confirmation", "[Map Server]\nsave confirmation = " + p + "\n"},
            {"await line", "[Map Server]\nstop = close request\nstop = await line 5 " + p + "\n"},
        };
        const QStringList matched = {"> Map Server is ready (printed", "> Map Server just crashed!",
                                     "> Map Server saved its world.",
                                     "> Map Server printed a line matching"};
        for (qsizetype k = 0; k < kinds.size(); ++k) {
            QTest::addRow("%s", kinds[k].first) << kinds[k].second << matched[k] << true;
            QTest::addRow("%s, a line that matches", kinds[k].first)
                << kinds[k].second << matched[k] << false;
        }
    }
    void everyPatternIsBoundedAsThePlayersPatternIs() {
        QFETCH(QByteArray, ini);
        QFETCH(QString, matched);
        QFETCH(bool, hostile);
        FolderCore fc(ini);
        CoreHarness& h = fc.h;
        const QString lines = hostile ? QString(24, u'a') + u'\n' + QString(300, u'y') + "MATCHME\n"
                                      : QStringLiteral("MATCHME\n");
        h.apis.ignoringClose.insert("Map Server");
        h.fleet().StartServersAndGoOnline();
        if (ini.contains("stop") || ini.contains("save")) {
            h.apis.consoles["Map Server"] = "> \n";
            h.fleet().StopServerAlone(2);
        }
        for (int t = 0; t <= 4000; t += 500) {
            if (t == 500) // the watches have begun
                h.apis.consoles["Map Server"] += lines;
            h.clock.now += 500;
            h.fleet().CheckHealth();
            h.fleet().CheckDeadlines();
        }
        QCOMPARE(h.linesWith(matched), hostile ? 0 : 1);
    }

    // An end with an expected status is left stopped, with no crash and no report; any other
    // status is a crash.
    void anExpectedExitIsNoCrash() {
        for (const int status : {0, 3}) {
            FolderCore fc("[Map Server]\nexpected exit = 0 2\n", true);
            CoreHarness& h = fc.h;
            h.apis.endings["Map Server"] = {ConsoleEnding::State::Ended,
                                            QStringLiteral("exit status %1").arg(status),
                                            {},
                                            status};
            h.apis.crashAndWake("map-server");
            const bool expected = status == 0;
            QCOMPARE(h.linesWith("> Map Server ended by itself (exit status 0); not started again"),
                     expected ? 1 : 0);
            QCOMPARE(h.linesWith("just crashed"), expected ? 0 : 1);
            QCOMPARE(h.server(2).state(), expected ? State::Stopped : State::Running);
            QCOMPARE(h.apis.argsOf("LaunchServer").filter("map-server").size(), expected ? 1 : 2);
            QCOMPARE(h.fleet().ServerState(),
                     expected ? LauncherState::Online : LauncherState::Crashed);
        }
    }
    // Each sample keeps what a server uses; its CPU share comes from the CPU time it used since
    // the sample before (a new process: since its start), its CPU seconds only grow, relaunches
    // included, and a server that has ended drops out. The period is the installation's.
    void whatEachServerUsesIsSampled() {
        FolderCore fc("[Launcher]\nresource sample seconds = 5\n");
        CoreHarness& h = fc.h;
        ResourceSampler& sampler = h.core().resources();
        QCOMPARE(sampler.intervalSeconds(), 5);
        h.fleet().StartServersAndGoOnline();
        QSignalSpy samples(&sampler, &ResourceSampler::sampled);
        constexpr std::int64_t kMb = 1024 * 1024;
        ServerUsage map{true, 1000, 212 * kMb, 9, 14, 2, 10'000};
        // Takes a sample ms after the one before, with the map server's CPU time at cpuMs.
        const auto sampleAfter = [&](int ms, std::int64_t cpuMs) {
            h.clock.now += ms;
            map.cpuMs = cpuMs;
            h.apis.usage[h.server(2).process.lPID] = map;
            sampler.Sample();
            return std::pair(sampler.latest(2).cpuPercent, sampler.latest(2).cpuSeconds);
        };
        QCOMPARE(sampleAfter(0, 1000), std::pair(10.0, 1.0)); // 1 s in its 10 s
        QCOMPARE(sampler.latest(2).describe(), "CPU 10.0 %, 212 MB, 9 threads, 14 files");
        QVERIFY(!sampler.latest(0).sampled); // not readable
        QCOMPARE(sampleAfter(2000, 1500), std::pair(25.0, 1.5));
        QCOMPARE(h.core().CurrentStatus().servers[2].resources.residentBytes, 212 * kMb);
        // A process of it ended and took its CPU time along: nothing used, nothing given back.
        QCOMPARE(sampleAfter(2000, 1200), std::pair(0.0, 1.5));
        // Relaunched after a crash: the new process counts from its start.
        h.apis.crashAndWake("map-server");
        map.uptimeMs = 600;
        QCOMPARE(sampleAfter(2000, 300), std::pair(50.0, 1.8));
        h.apis.crash("map-server");
        sampler.Sample();
        QVERIFY(!sampler.latest(2).sampled);
        QCOMPARE(sampler.latest(2).describe(), "");
        QCOMPARE(sampler.latest(2).cpuSeconds, 1.8);
        QCOMPARE(samples.size(), 5);
        // Once no server has a process, a last sample shows none of them.
        h.apis.usage[h.server(1).process.lPID] = map;
        sampler.Sample();
        QVERIFY(sampler.latest(1).sampled);
        h.fleet().StopServersAndGoOffline();
        QVERIFY(!sampler.latest(1).sampled);
        QCOMPARE(samples.size(), 7);
    }
};

QTEST_GUILESS_MAIN(HealthTest)
#include "tst_health.moc"
