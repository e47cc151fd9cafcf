// The installation's own settings file, with no window: what it sets, what it names and leaves
// out (with its line number), that it is read again at every start, and that the launcher never
// writes it.
#include "CoreHarness.h"
#include "InstallationConfig.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>

namespace {

using Kind = StopStep::Kind;

// A whole file for a real game server, with a mistake on some lines.
const QByteArray kFile = "# The world of the map server\n"
                         "[Launcher]\n"
                         "Crash Reports Kept = 7\n"
                         "\n"
                         "[map server]\n"
                         "program = bin/minetest-run\n"
                         "arguments = --world \"worlds/main world\" --port 30000 'a\\b'\n"
                         "environment = LANG=C.UTF-8\n"
                         "environment = not a variable\n"
                         "working folder = worlds\n"
                         "save confirmation = Saved map to\n"
                         "stop = console /save\n"
                         "stop = await save 30\n"
                         "stop = signal TERM\n"
                         "stop = await end 60\n"
                         "stop = await dawn 5\n"
                         "kill after stop = yes\n"
                         "[Moon Server]\n"
                         "prgram = x\n"
                         "[Alerts]\n"
                         "summary every = 5\n"
                         "queue limit = 50\n"
                         "[Alert ops]\n"
                         "url file = /etc/ops.url\n"
                         "format = Slack\n"
                         "headers file = /etc/ops.headers\n"
                         "[Alert ops]\n"
                         "url = https://example.org/hook\n"
                         "[Alert chat]\n"
                         "format = teams\n"
                         "[Alert desk]\n"
                         "url = ftp://example.org/\n";

} // namespace

class InstallationConfigTest : public QObject {
    Q_OBJECT
private slots:
    void whatTheFileSaysAndWhatItLeavesOut() {
        const InstallationConfig c = InstallationConfig::Parse(QString::fromUtf8(kFile), "f.ini");
        const ServerLaunchConfig& map = c.servers[2];
        QCOMPARE(map.arguments,
                 QStringList({"--world", "worlds/main world", "--port", "30000", "a\\b"}));
        QCOMPARE(map.environment, QStringList{"LANG=C.UTF-8"});
        QCOMPARE(map.workingFolder, "worlds");
        QVERIFY(map.stopPlan && map.stopPlan->escalate);
        QCOMPARE(map.stopPlan->saveConfirmation, "Saved map to");
        const std::vector<StopStep>& steps = map.stopPlan->steps;
        QVERIFY(steps.size() == 4 && steps[1].kind == Kind::AwaitSave && steps[1].seconds == 30);
        QVERIFY(steps[2].kind == Kind::Signal && steps[2].signal == SIGTERM);
        // Each line that cannot be used is named by its number; everything else applies.
        const AlertsConfig& alerts = c.alerts;
        QVERIFY(alerts.queueLimit == 50 && alerts.summaryEverySeconds == 600);
        QCOMPARE(alerts.endpoints.size(), 1); // the second "ops" and those without an address
        QCOMPARE(alerts.endpoints[0].urlFile, "/etc/ops.url");
        QCOMPARE(alerts.endpoints[0].format, "slack");
        QCOMPARE(alerts.endpoints[0].headersFile, "/etc/ops.headers");
        QCOMPARE(
            c.problems.filter(QRegularExpression("^f.ini: \\[Alert (ops|chat|desk)\\]")).size(), 3);
        QCOMPARE(c.problems.size(), 10);
        for (const int line : {9, 16, 18, 19, 21, 30, 32})
            QVERIFY2(c.problems.filter(QStringLiteral("f.ini line %1: ").arg(line)).size() == 1,
                     qPrintable(c.problems.join('\n')));
        QCOMPARE(SplitWords("a \"b"), std::nullopt);
        QCOMPARE(SplitWords(" a\\ b  \"c\\\"d\" '' "), QStringList({"a b", "c\"d", ""}));
    }

    // The file of the server folder is used at start-up and read again at every start; the
    // launcher never writes it.
    void theFileIsReadAtEveryStartAndNeverWritten() {
        QTemporaryDir folder;
        QFile file(folder.filePath(InstallationConfig::kFileName));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kFile) == kFile.size());
        file.close();
        CoreHarness h(nullptr, nullptr, nullptr, folder.path());
        for (int i = 0; i < 3; ++i)
            h.apis.files.insert(h.fleet().programPath(i));
        h.apis.files.insert(folder.path() + "/bin/minetest-run");
        h.settings.values["Crash Reports Kept"] = "x"; // the installation's 7 comes first
        ServerFleet& f = h.loadCore();
        QCOMPARE(h.linesWith("cannot be used"), 0);
        QCOMPARE(h.linesWith(" line 9: an environment line is NAME=value; the line is left out."),
                 1);
        f.StartServersAndGoOnline();
        QCOMPARE(h.apis.argsOf("LaunchServer").last(), folder.path() + "/bin/minetest-run");
        QCOMPARE(h.linesWith(" line 9: "), 2); // read again at Start, and named again
        // Its stop sequence is the one the file gives.
        h.apis.consoles["Map Server"] = "> ";
        h.apis.endsOnInput["Map Server"] = "/save";
        f.StopServerAlone(2);
        QCOMPARE(h.apis.argsOf("SendConsoleInput"), QStringList{"Map Server\n/save"});
        h.clock.now += 500; // its console is looked at once more for the save's line
        f.CheckDeadlines();
        QCOMPARE(h.server(2).state(), ServerSupervisor::State::Stopped);
        // Changed while the launcher runs: the next start takes the change.
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[Map Server]\n") > 0);
        file.close();
        f.StartServerAlone(2);
        QCOMPARE(h.apis.argsOf("LaunchServer").last(), folder.path() + "/map-server");
        h.core().BeginExit([] {});
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == "[Map Server]\n");
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files),
                 QStringList{file.fileName().section('/', -1)});
    }
};

QTEST_GUILESS_MAIN(InstallationConfigTest)
#include "tst_installation_config.moc"
