// The installation's schedules, with no window: when each runs (at/days and cron lines, the days
// the clocks change, a clock set back), what a scheduled restart does and in which order, missed
// runs, a restart skipped once, commands typed and what is told when one cannot be, and what the
// file's schedule lines name and leave out. A day passes in milliseconds on the fake clock.
#include "CoreHarness.h"
#include "InstallationConfig.h"
#include "Scheduler.h"
#include "ServerBackups.h"

#include <QDateTime>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimeZone>

namespace {

const QTimeZone kBerlin(QByteArrayLiteral("Europe/Berlin"));

std::int64_t Berlin(const QString& local) {
    const QDateTime wall = QDateTime::fromString(local, "yyyy-MM-dd HH:mm:ss");
    return QDateTime(wall.date(), wall.time(), kBerlin).toMSecsSinceEpoch();
}

// The times a schedule runs after `from`, one after another, as UTC text.
QStringList Times(const ScheduleTimes& times, std::int64_t from, int count) {
    QStringList out;
    std::optional<std::int64_t> at = from;
    for (int i = 0; i < count && at; ++i)
        if ((at = times.nextAfter(*at, kBerlin)))
            out << QDateTime::fromMSecsSinceEpoch(*at, Qt::UTC).toString("yyyy-MM-dd HH:mm");
    return out;
}

ScheduleTimes Cron(const QString& line) {
    QString why;
    const std::optional<ScheduleTimes> t = ScheduleTimes::FromCron(line, &why);
    if (!t)
        qFatal("%s: %s", qPrintable(line), qPrintable(why));
    return *t;
}

// A server folder holding the installation's file, and a folder for the schedules' state.
struct Installation {
    QTemporaryDir folder, state;
};

// A launcher core on the fake operating system and clock over an installation of its own with
// that file, or over the one given. The clock reads as Berlin's local time, and the schedules are
// read in Berlin's zone.
struct Launcher : Installation, CoreHarness {
    Launcher(const QByteArray& ini, const QString& local, const Installation* over = nullptr)
        : CoreHarness(nullptr, nullptr, nullptr, (over ? over : this)->folder.path()) {
        const Installation& in = over ? *over : *this;
        WriteFile(in.folder.path() + "/corvane-launcher.ini", ini);
        setWall(local);
        for (int i = 0; i < ServerTable::kCount; ++i) {
            apis.files.insert(in.folder.path() + ServerTable::programFiles()[i]);
            apis.consoles.insert(ServerTable::displayNames()[i], "> "); // they take input
        }
        core().schedules().SetTimeZone(kBerlin);
        core().schedules().UseStateFolder(in.state.path());
        QObject::connect(&core().schedules(), &Scheduler::restartBegan, &core(), [this] {
            const QDateTime now = QDateTime::fromMSecsSinceEpoch(clock.EpochMs(), kBerlin);
            restarts << now.toString("dd HH:mm +") + QString::number(now.offsetFromUtc() / 3600);
        });
    }
    void setWall(const QString& local) { setEpoch(Berlin(local)); }
    void setEpoch(std::int64_t ms) { clock.epochOffset = ms - clock.now; }
    // The wall clock moved on to each whole minute until that moment, the scheduler woken at each.
    Launcher& walkTo(std::int64_t ms) {
        for (std::int64_t t = (clock.EpochMs() / 60'000 + 1) * 60'000; t <= ms; t += 60'000) {
            setEpoch(t);
            core().schedules().transition();
        }
        return *this;
    }
    // The wall clock set to that time, and the scheduler woken as its timer would.
    Launcher& at(const QString& local) {
        setWall(local);
        core().schedules().transition();
        return *this;
    }
    ServerFleet& start() {
        loadCore().StartServersAndGoOnline();
        return fleet();
    }
    QStringList typed() const { return apis.argsOf("SendConsoleInput"); }
    // The operating system's calls that stop or start a server, in order.
    QStringList stopsAndStarts() const {
        QStringList out;
        for (const auto& [op, arg] : apis.calls)
            if (op == "CloseServerConsole" || op == "LaunchServer")
                out << (op == "LaunchServer" ? "start " + arg.section('/', -1) : "stop " + arg);
        return out;
    }
    QStringList restarts; // when scheduled restarts began: day, local time, offset in hours
};

const QByteArray kNightly = "[Schedule nightly]\n"
                            "servers = all\n"
                            "task = restart\n"
                            "at = 04:00\n"
                            "warn = 15m say Restart in {minutes} minutes\n"
                            "warn = 30s say {server} restarts in {seconds} seconds\n";

} // namespace

class SchedulesTest : public QObject {
    Q_OBJECT
private slots:
    // "at" with days, and cron lines with ranges, lists, steps and names; the two day fields of a
    // cron line, either of which will do; and the days the clocks change in Berlin: a time the
    // clock skips runs once at 03:00, a time it passes twice runs the first time only.
    void nextRunTimes() {
        const std::int64_t friday = Berlin("2026-12-11 05:00:00");
        QString why;
        const auto weekdays = WeekdaysNamed("mon-wed,fri", &why);
        QVERIFY(weekdays);
        QCOMPARE(Times(ScheduleTimes::At(QTime(4, 0), *weekdays), friday, 4),
                 QStringList({"2026-12-14 03:00", "2026-12-15 03:00", "2026-12-16 03:00",
                              "2026-12-18 03:00"}));
        QCOMPARE(Times(Cron("*/20 9-10 * * sat,sun"), friday, 7),
                 QStringList({"2026-12-12 08:00", "2026-12-12 08:20", "2026-12-12 08:40",
                              "2026-12-12 09:00", "2026-12-12 09:20", "2026-12-12 09:40",
                              "2026-12-13 08:00"}));
        QCOMPARE(Times(Cron("15 12 1,13 feb-mar 5"), Berlin("2027-01-20 00:00:00"), 4),
                 QStringList({"2027-02-01 11:15", "2027-02-05 11:15", "2027-02-12 11:15",
                              "2027-02-13 11:15"}));
        QCOMPARE(Times(Cron("0 0 29 2 *"), friday, 1), QStringList{"2028-02-28 23:00"});
        QCOMPARE(Times(Cron("5/25 0 * * 7"), friday, 3),
                 QStringList({"2026-12-12 23:05", "2026-12-12 23:30", "2026-12-12 23:55"}));

        QCOMPARE(Times(Cron("*/30 1-3 29 3 *"), Berlin("2026-03-28 12:00:00"), 4),
                 QStringList({"2026-03-29 00:00", "2026-03-29 00:30", "2026-03-29 01:00",
                              "2026-03-29 01:30"}));
        QCOMPARE(Times(Cron("0,30 2 25 10 *"), Berlin("2026-10-25 00:00:00"), 3),
                 QStringList({"2026-10-25 00:00", "2026-10-25 00:30", "2027-10-25 00:00"}));

        for (const char* bad :
             {"* * * *", "60 * * * *", "* 24 * * *", "*/0 * * * *", "0 0 31 2 *", "0 0 * 13 *",
              "0 0 * * 8", "1-2-3 * * * *", "0 0 * * mon-", "a * * * *"})
            QVERIFY2(!ScheduleTimes::FromCron(bad, &why) && !why.isEmpty(), bad);
    }

    // A daily restart as the wall clock goes. Through both of Berlin's clock changes: a time in
    // the hour the clock skips runs once, at the end of the gap; a time in the hour it passes
    // twice runs once, the first time; any other time runs once a day at that time on the wall
    // clock. Set back: a run already made is not made again, also when its warnings had begun.
    // Set on over a run: a missed one, left out or made up once as the schedule says, and never
    // again a minute later; set on by less than the lateness allowed: run late, its warnings
    // first. Each run's warning is typed once. Steps after the first, where the clock starts:
    // "=03:10" sets the clock to that time, "05:30" moves it on a minute at a time up to then, on
    // the first step's day unless a date is given.
    void dailyRestartAsTheClockGoes_data() {
        QTest::addColumn<QString>("at");
        QTest::addColumn<QString>("ifMissed");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("runs");
        QTest::addColumn<int>("missed");
        const auto row = [](const char* name, const char* at, const char* ifMissed,
                            const QStringList& steps, const QStringList& runs, int missed = 0) {
            QTest::newRow(name) << QString(at) << QString(ifMissed) << steps << runs << missed;
        };
        const QStringList spring{"2026-03-28 12:00", "2026-03-30 12:00"};
        const QStringList autumn{"2026-10-24 12:00", "2026-10-26 12:00"};
        row("spring, skipped 02:30", "02:30", "skip", spring, {"29 03:00 +2", "30 02:30 +2"});
        row("spring, 04:00", "04:00", "skip", spring, {"29 04:00 +2", "30 04:00 +2"});
        row("autumn, repeated 02:30", "02:30", "skip", autumn, {"25 02:30 +2", "26 02:30 +1"});
        row("autumn, 04:00", "04:00", "skip", autumn, {"25 04:00 +1", "26 04:00 +1"});
        const QString day = "2026-12-08 ";
        row("set back an hour after the run", "04:00", "skip",
            {day + "03:40", "04:10", "=03:10", "05:30"}, {"08 04:00 +1"});
        row("set back an hour during the warnings", "04:00", "run",
            {day + "03:40", "03:55", "=02:55", "05:30"}, {"08 04:00 +1"});
        row("set on over the run, skip", "04:00", "skip",
            {day + "03:00", "03:30", "=06:00", "08:00"}, {}, 1);
        row("set on over the run, run", "04:00", "run", {day + "03:00", "03:30", "=06:00", "08:00"},
            {"08 06:10 +1"}, 1);
        row("set on to 3 minutes past the run", "04:00", "skip",
            {day + "03:40", "03:45", "=04:03", "05:00"}, {"08 04:13 +1"});
    }
    void dailyRestartAsTheClockGoes() {
        QFETCH(QString, at);
        QFETCH(QString, ifMissed);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, runs);
        Launcher l(("[Schedule nightly]\ntask = restart\nwarn = 10m say soon\nat = " + at +
                    "\nif missed = " + ifMissed + "\n")
                       .toLatin1(),
                   steps[0] + ":00");
        l.start();
        for (QString step : steps.mid(1)) {
            const bool set = step.startsWith('=');
            step = step.mid(set ? 1 : 0);
            step = (step.size() == 5 ? steps[0].left(11) + step : step) + ":00";
            set ? l.at(step) : l.walkTo(Berlin(step));
        }
        QCOMPARE(l.restarts, runs);
        QCOMPARE(l.stopsAndStarts().filter("start").size(), 3 * (runs.size() + 1));
        QCOMPARE(l.typed().filter("say soon").size(), 3 * runs.size());
        QTEST(l.linesWith("missed"), "missed");
    }

    // What the file's schedule sections set, and each line or section it cannot use, named with
    // its number; the other schedules stay.
    void scheduleLinesNamedAndLeftOut() {
        const QByteArray file = "[Schedule nightly]\n"                        // 1
                                "servers = login, Map Server\n"               // 2
                                "task = restart\n"                            // 3
                                "at = 4:05\n"                                 // 4
                                "days = mon-fri\n"                            // 5
                                "warn = 30s say in {seconds} s on {server}\n" // 6
                                "warn = 1h5m say soon\n"                      // 7
                                "warn = 15x say later\n"                      // 8
                                "warn = 5m say {hours} hours\n"               // 9
                                "if missed = run\n"                           // 10
                                "servers = moon\n"                            // 11
                                "[Schedule save]\n"                           // 12
                                "task = command\n"                            // 13
                                "cron = */30 * * * *\n"                       // 14
                                "command = save-all\n"                        // 15
                                "command = say \x03\n"                        // 16
                                "[Schedule broken]\n"                         // 17
                                "task = reboot\n"                             // 18
                                "at = 25:00\n"                                // 19
                                "cron = * * *\n"                              // 20
                                "days = someday\n"                            // 21
                                "[Schedule untimed]\n"                        // 22
                                "task = backup\n"                             // 23
                                "[Schedule save]\n"                           // 24
                                "task = backup\n"                             // 25
                                "at = 05:00\n";                               // 26
        const InstallationConfig c = InstallationConfig::Parse(QString::fromUtf8(file), "f.ini");
        QCOMPARE(c.schedules.size(), 2);
        const ScheduleEntry& nightly = c.schedules[0];
        QCOMPARE(nightly.servers, (std::array<bool, 3>{true, false, true}));
        QVERIFY(nightly.task == ScheduleEntry::Task::Restart && nightly.runIfMissed);
        QCOMPARE(nightly.warnings.size(), 2);
        QCOMPARE(nightly.warnings[0].seconds, 3900);
        QCOMPARE(nightly.warnings[1].text, "say in {seconds} s on {server}");
        QCOMPARE(nightly.leadSeconds(), 3900);
        QCOMPARE(nightly.whenText, "at 04:05 on mon-fri");
        QCOMPARE(c.schedules[1].command, "save-all");
        QCOMPARE(c.schedules[1].whenText, "on \"*/30 * * * *\"");
        QVERIFY(!c.schedules[1].runIfMissed); // nothing is made up unless asked
        QCOMPARE(ProblemLines(c), QList<int>({8, 9, 11, 16, 17, 18, 19, 20, 21, 22, 24}));
        QCOMPARE(c.problems
                     .filter("line 22: [Schedule untimed]: it needs either \"at\" or "
                             "\"cron\"; the schedule is left out")
                     .size(),
                 1);
        QCOMPARE(c.problems.filter("line 9: {hours} is no placeholder").size(), 1);
        QCOMPARE(ScheduleEntry::FillIn("{server}: {minutes} min ({seconds} s)", 61, "Map Server"),
                 "Map Server: 2 min (61 s)");
    }

    // A restart of all servers: each warning typed into each server at its time, once, with its
    // placeholders filled; at the time the servers are stopped as the Shutdown button stops them
    // (close requests to all three) and then started in order as the Start button starts them. No
    // crash is counted or announced; an alert tells of the restart's beginning and of its end;
    // the tab's tooltip tells of the next one. A command task's command is typed into the servers
    // it names that run, also between the restart's warnings, which go on; one due while the
    // servers restart is typed once they run again; a server that does not take it is named in the
    // log and in an alert.
    void restartOfAllAnnouncedThenStoppedAndStarted() {
        Launcher l(kNightly + "[Schedule save]\nservers = char\ntask = command\n"
                              "cron = */5 * * * *\ncommand = save-all\n",
                   "2026-12-08 03:40:00");
        QSignalSpy alerts(&l.core().alerts(), &AlertWatch::alertRaised);
        l.start();
        Scheduler& s = l.core().schedules();
        QCOMPARE(s.NextEventLine(2), "Next: restart at 04:00 (warnings from 03:45)");
        QCOMPARE(s.NextEventLine(1), "Next: command \"save-all\" at 03:45");
        const qsizetype launchedBefore = l.stopsAndStarts().size();
        const auto says = [&] { return l.typed().filter("\nsay "); };
        const auto saves = [&] { return l.typed().filter("save-all"); };

        l.at("2026-12-08 03:44:59");
        QVERIFY(l.typed().isEmpty());
        l.at("2026-12-08 03:45:00").at("2026-12-08 03:50:00");
        QCOMPARE(says(), QStringList({"Login Server\nsay Restart in 15 minutes",
                                      "Char Server\nsay Restart in 15 minutes",
                                      "Map Server\nsay Restart in 15 minutes"}));
        l.at("2026-12-08 03:59:30");
        QStringList thirty;
        for (const QString name : {"Login Server", "Char Server", "Map Server"})
            thirty << name + "\nsay " + name + " restarts in 30 seconds";
        QCOMPARE(says().mid(3), thirty);
        QCOMPARE(saves(), QStringList(3, "Char Server\nsave-all")); // 03:45, 03:50 and 03:55
        QCOMPARE(l.stopsAndStarts().size(), launchedBefore);
        QCOMPARE(l.logSince(0).filter("typed \"say").size(), 6);

        l.at("2026-12-08 04:00:00");
        QCOMPARE(l.apis.calls.back().second, "Char Server\nsave-all");
        QCOMPARE(saves().size(), 4);
        QCOMPARE(l.stopsAndStarts().mid(launchedBefore),
                 QStringList({"stop Login Server", "stop Char Server", "stop Map Server",
                              "start login-server", "start char-server", "start map-server"}));
        QCOMPARE(s.phase(), Scheduler::Phase::Idle);
        QCOMPARE(l.fleet().ServerState(), LauncherState::Online);
        for (int i = 0; i < 3; ++i)
            QVERIFY(l.server(i).state() == ServerSupervisor::State::Running &&
                    l.server(i).tally.crashes == 0);
        QCOMPARE(l.linesWith("just crashed"), 0);
        QCOMPARE(l.linesWith("Schedule \"nightly\": the restart is done."), 1);
        // Its warnings typed, and the restart.
        QCOMPARE(l.audited.filter("schedule nightly: send").size(), 6);
        QCOMPARE(l.audited.filter("nightly: restart"),
                 QStringList({"schedule nightly: restart Login Server, Char Server and Map Server "
                              "-> begun"}));
        QCOMPARE(l.audited.filter("schedule save: send Char Server: save-all -> done").size(), 4);
        QStringList kinds;
        for (const QList<QVariant>& raised : alerts)
            kinds << Alert::KindName(raised[0].value<Alert>().kind);
        QCOMPARE(kinds.filter("schedule"),
                 QStringList({"scheduled_restart", "scheduled_restart_done"}));
        QCOMPARE(s.NextEventLine(0), "Next: restart at 04:00 tomorrow (warnings from 03:45)");

        // "Skip Next Restart" leaves the next restart out, once, with a line, also while its
        // warnings are being typed: the restart after it runs.
        l.at("2026-12-09 03:46:00");
        QCOMPARE(says().size(), 9);
        QVERIFY(s.CanSkipNextRestart(2));
        s.SkipNextRestart(2);
        QCOMPARE(l.linesWith("Schedule \"nightly\": the restart at 04:00 is skipped once, as asked "
                             "from the Map Server tab; the next is at 04:00 tomorrow."),
                 1);
        const qsizetype skipped = l.stopsAndStarts().size();
        l.at("2026-12-09 03:59:30").at("2026-12-09 04:00:00").at("2026-12-09 12:00:00");
        QCOMPARE(says().size(), 9);
        QCOMPARE(l.stopsAndStarts().size(), skipped);
        QCOMPARE(s.NextEventLine(2), "Next: restart at 04:00 tomorrow (warnings from 03:45)");
        l.at("2026-12-10 03:45:00").at("2026-12-10 04:00:00");
        QCOMPARE(l.stopsAndStarts().size(), skipped + 6);

        l.apis.consoles.remove("Char Server"); // its console takes no input
        const qsizetype raised = alerts.size();
        l.at("2026-12-10 04:05:00");
        QCOMPARE(l.linesWith("Schedule \"save\": \"save-all\" could not be typed into Char "
                             "Server: Char Server did not take the command."),
                 1);
        QCOMPARE(alerts.size(), raised + 1);
        QCOMPARE(l.audited.last(), "schedule save: send Char Server: save-all -> failed: Char "
                                   "Server did not take the command");
        const Alert alert = alerts.back()[0].value<Alert>();
        QVERIFY(alert.kind == Alert::Kind::ScheduleFailed && alert.server == "Char Server" &&
                alert.isTrouble());
    }

    // A time missed while the launcher was closed (its servers left running, and watched again)
    // is made up once when "if missed = run" says so, with a line that says so; never again, also
    // not after another start of the launcher. With "skip", the default, it is left out with a
    // line.
    void missedRunMadeUpOnceOrLeftOut_data() {
        QTest::addColumn<bool>("run");
        QTest::newRow("if missed = run") << true;
        QTest::newRow("if missed = skip") << false;
    }
    void missedRunMadeUpOnceOrLeftOut() {
        QFETCH(bool, run);
        const QByteArray ini = "[Schedule nightly]\ntask = restart\nat = 04:00\n" +
                               QByteArray(run ? "if missed = run\n" : "");
        const Installation in;
        {
            Launcher first(ini, "2026-12-08 02:00:00", &in);
            first.start();
            first.at("2026-12-08 02:10:00");
        }
        const auto later = [&](const QString& local) {
            auto l = std::make_unique<Launcher>(ini, local, &in);
            for (int i = 0; i < 3; ++i) // the servers the closed launcher left running
                l->apis.addRunning(ServerTable::programFiles()[i].mid(1),
                                   ServerTable::displayNames()[i]);
            l->loadCore();
            return l;
        };
        auto l = later("2026-12-08 09:00:00");
        QCOMPARE(l->fleet().ServerState(), LauncherState::Online);
        l->at("2026-12-08 09:00:01").at("2026-12-08 09:00:05");
        QCOMPARE(l->stopsAndStarts().filter("start").size(), run ? 3 : 0);
        QCOMPARE(l->linesWith("the restart at 04:00 was missed; it runs now, once"), run ? 1 : 0);
        QCOMPARE(l->linesWith("the restart at 04:00 was missed; it is left out"), run ? 0 : 1);
        l.reset();
        l = later("2026-12-08 10:00:00");
        l->at("2026-12-08 10:00:01");
        QCOMPARE(l->stopsAndStarts().filter("start").size(), 0);
        QCOMPARE(l->linesWith("missed"), 0);
    }

    // Nothing runs while the servers are offline, and a missed restart does not start servers the
    // operator stopped: the one stopped alone stays stopped while the others restart.
    void offlineAndStoppedServersAreLeftAlone() {
        Launcher l(kNightly + "if missed = run\n", "2026-12-08 03:00:00");
        l.loadCore();
        l.at("2026-12-08 03:50:00").at("2026-12-08 04:00:00");
        QVERIFY(l.typed().isEmpty());
        QCOMPARE(l.stopsAndStarts(), QStringList());
        l.fleet().StartServersAndGoOnline();
        l.fleet().StopServerAlone(1);
        const qsizetype before = l.stopsAndStarts().size();
        // Made up now, with its warnings from now on: to the servers that run.
        l.at("2026-12-08 04:20:00");
        QCOMPARE(l.typed(), QStringList({"Login Server\nsay Restart in 15 minutes",
                                         "Map Server\nsay Restart in 15 minutes"}));
        QCOMPARE(l.linesWith("the restart at 04:00 was missed; it runs now, once"), 1);
        l.at("2026-12-08 04:35:00");
        QCOMPARE(l.typed().size(),
                 2); // a warning whose time passed with the restart's own is not typed
        QCOMPARE(l.stopsAndStarts().mid(before),
                 QStringList({"stop Login Server", "start login-server", "stop Map Server",
                              "start map-server"}));
        QCOMPARE(l.server(1).state(), ServerSupervisor::State::Stopped);
        QCOMPARE(l.linesWith("the restart is done."), 1);
    }

    // A restart goes through the backup between the stop and the start when one is set up; the
    // start waits for its answer, and a failed backup is told. The Shutdown button pressed while a
    // scheduled restart stops the servers or backs them up: the servers stay stopped once the stop
    // and the backup have ended, and the log says why.
    void shutdownDuringARestartKeepsTheServersStopped_data() {
        QTest::addColumn<QByteArray>("servers");
        QTest::addColumn<QString>("shutdown"); // during what the Shutdown button is pressed
        QTest::newRow("no shutdown, the backup fails") << QByteArray("all") << "never";
        QTest::newRow("during the stop") << QByteArray("all") << "stop";
        QTest::newRow("during the backup") << QByteArray("all") << "backup";
        QTest::newRow("during one server's restart") << QByteArray("map") << "stop";
    }
    void shutdownDuringARestartKeepsTheServersStopped() {
        QFETCH(QByteArray, servers);
        QFETCH(QString, shutdown);
        Launcher l("[Schedule nightly]\ntask = restart\nat = 04:00\nservers = " + servers + "\n",
                   "2026-12-08 03:59:00");
        Scheduler& s = l.core().schedules();
        Scheduler::BackupDone answer;
        QStringList seenAtBackup;
        if (shutdown != "stop")
            s.SetBackupStep([&](const QString& schedule, Scheduler::BackupDone done) {
                seenAtBackup = l.stopsAndStarts() << schedule;
                answer = std::move(done);
            });
        else
            l.apis.ignoringClose.insert("Map Server"); // it takes its time to end
        l.start();
        const qsizetype before = l.stopsAndStarts().size();
        l.at("2026-12-08 04:00:00");
        QCOMPARE(s.phase(), shutdown != "stop" ? Scheduler::Phase::BackingUp
                            : servers == "all" ? Scheduler::Phase::Stopping
                                               : Scheduler::Phase::Starting);
        if (shutdown == "never") {
            QCOMPARE(seenAtBackup.mid(before), QStringList({"stop Login Server", "stop Char Server",
                                                            "stop Map Server", "nightly"}));
            l.at("2026-12-08 04:01:00");
            QCOMPARE(l.stopsAndStarts().size(), before + 3);
            answer(false, "the disk is full");
            l.at("2026-12-08 04:02:00");
            QCOMPARE(l.stopsAndStarts().mid(before + 3).filter("start").size(), 3);
            QCOMPARE(l.linesWith("the backup failed (the disk is full); the servers are started "
                                 "all the same."),
                     1);
            QCOMPARE(s.phase(), Scheduler::Phase::Idle);
            return;
        }
        l.fleet().StopServersAndGoOffline();
        if (shutdown == "backup") {
            answer(true, QString());
        } else {
            l.apis.ignoringClose.remove("Map Server");
            l.apis.crashAndWake("map-server");
        }
        l.at("2026-12-08 04:00:30").at("2026-12-08 04:05:00");
        QCOMPARE(l.stopsAndStarts().mid(before).filter("start"), QStringList());
        QCOMPARE(s.phase(), Scheduler::Phase::Idle);
        QCOMPARE(l.fleet().ServerState(), LauncherState::Offline);
        QCOMPARE(l.linesWith("Schedule \"nightly\": the servers were stopped from the launcher "
                             "meanwhile; they are not started again."),
                 1);
        QCOMPARE(l.linesWith("the restart is done"), 0);
        QCOMPARE(l.linesWith("the restart's start failed"), 0);
    }

    // A command that falls due while a restart stops the servers is held until the restart is
    // done, then typed, however late that is: it is no missed one.
    void aCommandDueDuringARestartIsTypedAfterIt() {
        Launcher l("[Schedule nightly]\ntask = restart\nat = 04:00\n[Schedule save]\n"
                   "servers = char\ntask = command\nat = 04:01\ncommand = save-all\n",
                   "2026-12-08 03:59:00");
        l.apis.ignoringClose.insert("Map Server"); // it takes its time to end
        l.start();
        l.at("2026-12-08 04:00:00").at("2026-12-08 04:01:00").at("2026-12-08 04:10:00");
        QCOMPARE(l.core().schedules().phase(), Scheduler::Phase::Stopping);
        QVERIFY(l.typed().isEmpty());
        l.apis.ignoringClose.clear();
        l.apis.crashAndWake("map-server");
        l.at("2026-12-08 04:10:30");
        QCOMPARE(l.core().schedules().phase(), Scheduler::Phase::Idle);
        QCOMPARE(l.typed(), QStringList{"Char Server\nsave-all"});
        QCOMPARE(l.linesWith("missed"), 0);
    }

    // A backup task of all servers backs up the one that has backup paths, as the core wires it,
    // and the schedule hears of it once that backup has ended; one that fails is told as failed.
    void aBackupTaskBacksUpTheServersThatHavePaths() {
        for (const bool worldThere : {true, false}) {
            Launcher l("[Map Server]\nbackup path = world\n"
                       "[Schedule nightly]\ntask = backup\nat = 04:00\n",
                       "2026-12-08 03:59:00");
            if (worldThere)
                QVERIFY(WriteFile(l.folder.path() + "/world/level.dat", "level"));
            QSignalSpy ended(&l.core().backups(), &ServerBackups::backupFinished);
            l.start();
            l.at("2026-12-08 04:00:00");
            QVERIFY(ended.size() == 1 || ended.wait(10000));
            QCOMPARE(ended[0][0].toInt(), 2);
            QCOMPARE(ended[0][1].toBool(), worldThere);
            l.at("2026-12-08 04:00:05");
            QCOMPARE(l.core().schedules().phase(), Scheduler::Phase::Idle);
            QCOMPARE(l.linesWith("> Map Server backup done:"), worldThere ? 1 : 0);
            QCOMPARE(l.linesWith("Schedule \"nightly\": the backup failed"), worldThere ? 0 : 1);
            QCOMPARE(l.linesWith("Login Server backup"), 0);
        }
    }
};

QTEST_GUILESS_MAIN(SchedulesTest)
#include "tst_schedules.moc"
