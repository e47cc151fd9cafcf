// The installation's own settings file, with no window: what it sets, what it names and leaves
// out (with its line number), that it is read again at every start, and that the launcher never
// writes it.
#include "CoreHarness.h"
#include "CrashBackoff.h"
#include "CrashEndingReport.h"
#include "InstallationConfig.h"
#include "LauncherKeys.h"
#include "ResourceSampler.h"
#include "SectionKeys.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

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

void Write(const QString& path, const QByteArray& data) {
    QVERIFY(WriteFile(path, data));
}

void Own(const QString& path, uid_t user, gid_t group, mode_t mode) {
    const QByteArray bytes = QFile::encodeName(path);
    QVERIFY(::chown(bytes.constData(), user, group) == 0 && ::chmod(bytes.constData(), mode) == 0);
}

// One row of a key table of the manual: the key, its default and its example, as written.
struct DocumentedKey {
    QString name, fallback, example;
};

// The manual's key tables: the first table under each "## " heading whose rows begin with a key
// in backquotes, one row a key.
QMap<QString, QList<DocumentedKey>> KeyTables(const QString& page) {
    QMap<QString, QList<DocumentedKey>> tables;
    QString heading;
    bool over = false;
    for (const QString& line : QString::fromUtf8(ReadFile(page)).split(u'\n')) {
        if (line.startsWith(QLatin1String("## "))) {
            heading = line.mid(3).replace("&lt;", "<").replace("&gt;", ">");
            over = false;
        } else if (line.startsWith(QLatin1String("| `")) && !over && !heading.isEmpty()) {
            QStringList cells = QString(line).replace("\\|", "\x01").split(u'|');
            for (QString& cell : cells)
                cell = cell.replace(u'\x01', u'|').trimmed();
            tables[heading] << DocumentedKey{cells.value(1).remove(u'`'), cells.value(3),
                                             cells.value(5)};
        } else if (tables.contains(heading) && !line.startsWith(u'|')) {
            over = true;
        }
    }
    return tables;
}

// Sorted, so that two lists of keys compare whatever their order; a key named twice still counts.
QStringList Sorted(QStringList keys) {
    keys.sort();
    return keys;
}

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
        QCOMPARE(ProblemLines(c), QList<int>({0, 0, 0, 9, 16, 18, 19, 21, 30, 32}));
        QCOMPARE(SplitWords(" a\\ b  \"c\\\"d\" '' "), QStringList({"a b", "c\"d", ""}));
    }

    // Every [Launcher] key is one of the table's: a value it cannot take, or a key it does not
    // know, is named with its line; one that turns on a protection refuses the start instead.
    void everyLauncherKeyIsChecked() {
        QCOMPARE(LauncherKeys::Find(u"  status   TOKEN "), &LauncherKeys::kStatusToken);
        for (const LauncherKey* key : LauncherKeys::All()) {
            const QString name = QString::fromLatin1(key->name);
            QVERIFY2(LauncherKeys::Find(name) == key, key->name);
            QString good = QString::fromLatin1(key->fallback);
            if (key->type == LauncherKey::Type::Token)
                good = QStringLiteral("Xq7-s3cret_token");
            if (key->type == LauncherKey::Type::Group)
                good = QStringLiteral("game-ops");
            // Blanks between the words count as one.
            const QString spaced = name.toUpper().replace(u' ', QStringLiteral("  "));
            const InstallationConfig c = InstallationConfig::Parse(
                QStringLiteral("[Launcher]\n%1 = %2\n%1 = %3\n").arg(spaced, good, "x y"), "f.ini");
            QVERIFY2(c.problems.size() == 1 && c.problems[0].startsWith("f.ini line 3: \""),
                     qPrintable(name + ": " + c.problems.join('\n')));
            QCOMPARE(c.launcher.value(name.toLower()), good);
            QCOMPARE(c.refusal.isEmpty(), !key->guards);
            if (key->type == LauncherKey::Type::Number) {
                QVERIFY(key->number() >= key->low && key->number() <= key->high);
                QVERIFY(!LauncherKeys::Problem(*key, QString::number(key->high + 1)).isEmpty());
            }
        }
        const InstallationConfig typos = InstallationConfig::Parse(
            "[Launcher]\nstatus prot = 1\nlog grop = ops\n[Map Server]\nprogam = x\n", "f.ini");
        const QString unknown = "f.ini line %1: \"%2\" is no key of %3; the line is left out";
        QCOMPARE(typos.problems, QStringList({unknown.arg(2).arg("status prot", "[Launcher]"),
                                              unknown.arg(3).arg("log grop", "[Launcher]"),
                                              unknown.arg(5).arg("progam", "a server's section")}));
        QVERIFY(typos.launcher.isEmpty() && typos.refusal.isEmpty());
        // The defaults the rest of the launcher keeps agree with the table's.
        const CrashBackoffSettings pacing;
        QCOMPARE(LauncherKeys::kRelaunchBurst.number(), pacing.burst);
        QCOMPARE(LauncherKeys::kRelaunchWindow.number() * 1000, pacing.windowMs);
        QCOMPARE(LauncherKeys::kRelaunchFirstDelay.number() * 1000, pacing.firstDelayMs);
        QCOMPARE(LauncherKeys::kRelaunchMaxDelay.number() * 1000, pacing.maxDelayMs);
        QCOMPARE(LauncherKeys::kRelaunchStableAfter.number() * 1000, pacing.stableMs);
        QCOMPARE(LauncherKeys::kSampleSeconds.number(), ResourceSampler::kDefaultSeconds);
        QCOMPARE(LauncherKeys::kCrashReportsKept.number(), CrashEndingReport::kDefaultReportsKept);
        QCOMPARE(LauncherKeys::kConsoleLines.number(), modAPIs::kDefaultConsoleLines);
    }

    // The file is used only when nobody but the operator (here root) could have written it, or
    // the group it names; anything else is refused, naming the path to blame, without waiting on
    // what is not a regular file.
    void aFileOthersCouldWriteIsRefused_data() {
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<QString>("blamed"); // "" when the file is used
        QTest::addColumn<QString>("why");
        const auto row = [](const char* name, const char* setUp, const char* blamed = "",
                            const char* why = "") {
            QTest::newRow(name) << setUp << blamed << why;
        };
        row("own", "");
        row("others may write it", "file 0666", "file", "every user may write");
        row("its group may write it", "file 0664", "file", "its group (gid 100)");
        row("the group it trusts", "file 0664 trusted");
        row("another user's", "file owner", "file", "another user (uid 65534)");
        row("another user's, trusting", "file owner trusted", "file", "another user (uid 65534)");
        row("a group folder", "folder 2775", "folder", "its group (gid 100)");
        row("a group folder, trusted", "folder 2775 trusted");
        row("a folder above", "above 0775", "above", "a folder above the file");
        row("a sticky folder above", "above 1777");
        row("no such group", "unknown group", "file", "is no group of this");
        row("a link", "link", "file", "it is a symbolic link");
        row("a FIFO", "fifo", "file", "it is not a regular file");
        row("too large", "large", "file", "it is over 1048576 bytes");
    }
    void aFileOthersCouldWriteIsRefused() {
        QFETCH(QString, setUp);
        QFETCH(QString, blamed);
        QFETCH(QString, why);
        if (::geteuid() != 0)
            QSKIP("only root can give files to another user and group");
        QTemporaryDir top;
        const QString above = top.filePath("srv");
        const QString folder = above + "/game";
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + '/' + InstallationConfig::kFileName;
        QByteArray text = "[Launcher]\nstatus port = 4711\n";
        if (setUp.endsWith("trusted"))
            text += "trusted group = users\n";
        if (setUp == "unknown group")
            text += "trusted group = no-such-group-here\n";
        if (setUp == "large")
            text += QByteArray(1024 * 1024, '#');
        if (setUp == "fifo")
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        else if (setUp == "link")
            QVERIFY(QFile::link(top.filePath("elsewhere.ini"), path));
        if (setUp != "fifo") // a write would wait for a reader
            Write(setUp == "link" ? top.filePath("elsewhere.ini") : path, text);
        const QStringList words = setUp.split(' ');
        const mode_t mode = words.value(1).toUInt(nullptr, 8);
        if (words[0] == "file")
            Own(path, words[1] == "owner" ? 65534 : 0, 100, words[1] == "owner" ? 0644 : mode);
        if (words[0] == "folder")
            Own(folder, 0, 100, mode);
        if (words[0] == "above")
            Own(above, 0, 100, mode);
        if (setUp == "file 0666") { // another user takes the chance
            QVERIFY(::chmod(QFile::encodeName(top.path()).constData(), 0755) == 0);
            QVERIFY(::seteuid(65534) == 0);
            QFile planted(path);
            const bool written = planted.open(QIODevice::Append) &&
                                 planted.write("[Map Server]\nprogram = /tmp/payload\n") > 0;
            planted.close();
            QVERIFY(::seteuid(0) == 0);
            QVERIFY(written);
        }

        const InstallationConfig c = InstallationConfig::Read(folder);
        QVERIFY(c.found);
        if (blamed.isEmpty()) {
            QVERIFY2(c.refusal.isEmpty(), qPrintable(c.refusal));
            QCOMPARE(c.launcher.value("status port"), "4711");
            return;
        }
        const QString blamedPath = blamed == "file" ? path : blamed == "folder" ? folder : above;
        QVERIFY2(c.refusal.startsWith(blamedPath + " is not used: ") && c.refusal.contains(why),
                 qPrintable(c.refusal));
        QVERIFY(c.launcher.isEmpty() && c.servers[2].program.isEmpty());
        // The start refuses, saying so in the log; nothing is launched.
        CoreHarness h(nullptr, nullptr, nullptr, folder);
        h.startedCore();
        QCOMPARE(h.linesWith("> " + c.refusal + "; no server is started until it is mended."), 1);
        QCOMPARE(h.linesWith("> Login Server is not started: " + c.refusal + '.'), 1);
        QVERIFY(h.apis.argsOf("LaunchServer").isEmpty());
        QCOMPARE(h.server(0).state(), ServerSupervisor::State::StartFailed);
    }

    // A server runs in the server folder unless the file names another folder, wherever its
    // program lies; a folder, program, arguments or environment that cannot be used stops its
    // start, naming it, and the start of the servers after it.
    void whereAServerRunsAndWhatStopsItsStart_data() {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QString>("folder");  // the Map Server's, under the server folder
        QTest::addColumn<QString>("refusal"); // why the Map Server is not started
        const auto row = [](const char* name, const char* section, const char* folder,
                            const char* refusal = "") {
            QTest::newRow(name) << QByteArray(section) << folder << refusal;
        };
        row("no file", "", "/");
        row("a program in bin/", "program = bin/wrap.sh\n", "/");
        row("a folder of its own", "program = bin/wrap.sh\nworking folder = worlds\n", "/worlds");
        row("no such folder", "working folder = wrlds\n", "",
            "its working folder %1/wrlds is not a folder");
        row("an environment line", "environment = LD_PRELOAD\n", "",
            "corvane-launcher.ini line 2: an environment line is NAME=value");
        row("arguments", "arguments = --world \"a\n", "",
            "corvane-launcher.ini line 2: a quote is left open");
        row("no program", "program =\n", "", "corvane-launcher.ini line 2: the program is empty");
    }
    void whereAServerRunsAndWhatStopsItsStart() {
        QFETCH(QByteArray, section);
        QFETCH(QString, folder);
        QFETCH(QString, refusal);
        QTemporaryDir server;
        if (!section.isEmpty())
            Write(server.filePath(InstallationConfig::kFileName), "[Map Server]\n" + section);
        CoreHarness h(nullptr, nullptr, nullptr, server.path());
        h.apis.files.insert(server.filePath("bin/wrap.sh"));
        h.apis.folders = {server.path(), server.filePath("worlds"), server.filePath("bin")};
        h.startedCore();
        const QStringList launched = h.apis.argsOf("LaunchServer");
        if (refusal.isEmpty()) {
            QCOMPARE(launched.size(), 3);
            QCOMPARE(h.apis.launchOptions["Map Server"].workingFolder, server.path() + folder);
            return;
        }
        QCOMPARE(launched.size(), 2);
        QCOMPARE(h.linesWith("> Map Server is not started: " + refusal.arg(server.path()) + '.'),
                 1);
        QCOMPARE(h.server(2).lastStartError, refusal.arg(server.path()));
    }

    // The file of the server folder is used at start-up and read again at every start; the
    // launcher never writes it.
    void theFileIsReadAtEveryStartAndNeverWritten() {
        QTemporaryDir folder;
        const QString file = folder.filePath(InstallationConfig::kFileName);
        // Line 9 left out, but not one the server's start needs.
        Write(file, QByteArray(kFile).replace("environment = not a variable", "stop = x"));
        CoreHarness h(nullptr, nullptr, nullptr, folder.path());
        h.addServerFiles();
        h.apis.files.insert(folder.path() + "/bin/minetest-run");
        h.apis.folders.insert(folder.path() + "/worlds");
        h.settings.values["Crash Reports Kept"] = "x"; // the installation's 7 comes first
        ServerFleet& f = h.loadCore();
        QCOMPARE(h.linesWith("cannot be used"), 0);
        QCOMPARE(h.linesWith(" line 9: a step is \"close request\", \"console\", \"signal\" or "
                             "\"await\"; the line is left out."),
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
        Write(file, "[Map Server]\n");
        f.StartServerAlone(2);
        QCOMPARE(h.apis.argsOf("LaunchServer").last(), folder.path() + "/map-server");
        // A restart of one server reads it again too.
        const QByteArray edited = "[Map Server]\nprogram = bin/minetest-run\n";
        Write(file, edited);
        f.RestartServer(2);
        h.clock.now += 500;
        f.CheckDeadlines();
        QCOMPARE(h.apis.argsOf("LaunchServer").last(), folder.path() + "/bin/minetest-run");
        h.core().BeginExit([] {});
        QCOMPARE(ReadFile(file), edited);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files),
                 QStringList{InstallationConfig::kFileName});
    }

    // The manual's key tables name every key the parsers read, and no other, each with its
    // default; each example is a value the parser takes, and the man page names every key. The
    // example installation file, the README's and the schedules page's are files the launcher takes
    // whole.
    void theManualNamesEveryKeyThatIsRead() {
        const QString manual = QStringLiteral(CORVANE_SOURCE_DIR "/docs/manual/");
        const QMap<QString, QList<DocumentedKey>> file = KeyTables(manual + "installation-file.md");
        const QMap<QString, QList<DocumentedKey>> user = KeyTables(manual + "settings.md");
        const QString manPage =
            QString::fromUtf8(ReadFile(CORVANE_SOURCE_DIR "/packaging/corvane-launcher.ini.5"))
                .remove(u'\\');
        QStringList launcherKeys, userKeys;
        for (const LauncherKey* key : LauncherKeys::All()) {
            launcherKeys << QString::fromLatin1(key->name).toLower();
            if (!key->installationOnly)
                userKeys << QString::fromLatin1(key->name);
        }
        const auto names = [](std::span<const SectionKey> keys) {
            QStringList list;
            for (const SectionKey& key : keys)
                list << QString::fromLatin1(key.name);
            return list;
        };
        userKeys << names(SectionKeys::UserSettings());
        // Each table: its heading, the keys read, and a file with one line for its example (none
        // for the user's settings, whose values are checked one by one).
        const struct {
            QString heading;
            QStringList read;
            QString section;
        } sections[] = {
            {"[Launcher]", launcherKeys, "[Launcher]"},
            {"[Login Server], [Char Server], [Map Server]", names(SectionKeys::Server()),
             "[Map Server]"},
            {"[Alerts]", names(SectionKeys::Alerts()), "[Alerts]"},
            {"[Alert <name>]", names(SectionKeys::AlertEndpoint()), "[Alert ops]"},
            {"[Schedule <name>]", names(SectionKeys::Schedule()), "[Schedule nightly]"},
            {"[Web]", names(SectionKeys::Web()), "[Web]"},
            {"[Settings]", userKeys, ""},
        };
        for (const auto& [heading, read, section] : sections) {
            QStringList documented;
            for (const DocumentedKey& key : (section.isEmpty() ? user : file).value(heading)) {
                documented << key.name;
                const LauncherKey* row = LauncherKeys::Find(key.name);
                if (row) // an empty default is written "none"
                    QCOMPARE(key.fallback, *row->fallback ? QString(row->fallback) : "none");
                if (section.isEmpty()) {
                    QVERIFY2(!row || LauncherKeys::Problem(*row, key.example).isEmpty(),
                             qPrintable(key.name));
                    continue;
                }
                const InstallationConfig c = InstallationConfig::Parse(
                    section + "\n" + key.name + " = " + key.example + "\n", "f.ini");
                QVERIFY2(c.problems.filter("line 2:").isEmpty() && c.refusal.isEmpty(),
                         qPrintable(key.name + ": " + c.problems.join('\n')));
                QVERIFY2(manPage.contains(key.name), qPrintable("man page: " + key.name));
            }
            QCOMPARE(Sorted(documented), Sorted(read));
        }

        // The first ini block after the heading on the page, or nothing.
        const auto block = [](const char* page, const char* heading) {
            const QString text = QString::fromUtf8(ReadFile(page));
            const qsizetype from = text.indexOf("```ini\n", text.indexOf(heading)) + 7;
            return from > 7 ? text.mid(from, text.indexOf("```", from) - from) : QString();
        };
        // Each example, and whether it names a program.
        const std::pair<QString, bool> examples[] = {
            {block(CORVANE_SOURCE_DIR "/README.md", ""), true},
            {QString::fromUtf8(ReadFile(CORVANE_SOURCE_DIR "/docs/examples/corvane-launcher.ini")),
             true},
            {block(CORVANE_SOURCE_DIR "/docs/manual/schedules-and-backups.md", "## Schedules"),
             false}};
        for (const auto& [text, program] : examples) {
            const InstallationConfig c = InstallationConfig::Parse(text, "example");
            QVERIFY2(!text.isEmpty() && c.problems.isEmpty() && c.refusal.isEmpty() &&
                         c.servers[2].program.isEmpty() != program && !c.schedules.isEmpty(),
                     qPrintable(text + c.problems.join('\n')));
        }
    }
};

QTEST_GUILESS_MAIN(InstallationConfigTest)
#include "tst_installation_config.moc"
