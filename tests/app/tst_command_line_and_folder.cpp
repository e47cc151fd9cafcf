// The command line, and the choice of the server folder from it, the way the program was started,
// its own folder and the remembered one.
#include "CommandLine.h"
#include "ServerFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

void putServers(const QString& folder, const QStringList& names) {
    QDir().mkpath(folder);
    for (const QString& name : names) {
        QFile file(folder + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.setPermissions(file.permissions() | QFileDevice::ExeUser);
    }
}

const QStringList kAll = {QStringLiteral("login-server"), QStringLiteral("char-server"),
                          QStringLiteral("map-server")};

} // namespace

class CommandLineAndFolderTest : public QObject {
    Q_OBJECT
private slots:
    void commandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("exitNow");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("toStderr");
        QTest::addColumn<QString>("outputHas");
        QTest::addColumn<QString>("serverDir");
        const QString tmp = QDir::tempPath();
        QTest::newRow("nothing") << QStringList{} << false << 0 << false << ""
                                 << "";
        QTest::newRow("help") << QStringList{"--help"} << true << 0 << false << "--server-dir"
                              << "";
        QTest::newRow("-h") << QStringList{"-h"} << true << 0 << false << "Usage: corvane-launcher"
                            << "";
        QTest::newRow("version") << QStringList{"--version"} << true << 0 << false
                                 << "corvane-launcher " CORVANE_TEST_VERSION "\n"
                                 << "";
        QTest::newRow("unknown") << QStringList{"--frobnicate"} << true << 2 << true << "frobnicate"
                                 << "";
        QTest::newRow("stray argument") << QStringList{"servers"} << true << 2 << true << "servers"
                                        << "";
        QTest::newRow("server-dir")
            << QStringList{"--server-dir", tmp} << false << 0 << false << "" << tmp;
        QTest::newRow("server-dir=")
            << QStringList{"--server-dir=" + tmp} << false << 0 << false << "" << tmp;
        QTest::newRow("server-dir without folder")
            << QStringList{"--server-dir"} << true << 2 << true << "server-dir"
            << "";
        QTest::newRow("server-dir not a folder")
            << QStringList{"--server-dir", "/no/such/dir"} << true << 2 << true << "/no/such/dir"
            << "/no/such/dir";
        QTest::newRow("Qt's own options pass")
            << QStringList{"-platform", "offscreen", "-reverse"} << false << 0 << false << ""
            << "";
    }

    void commandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, exitNow);
        QFETCH(int, exitCode);
        QFETCH(bool, toStderr);
        QFETCH(QString, outputHas);
        QFETCH(QString, serverDir);
        const CommandLine parsed = ParseCommandLine(arguments);
        QCOMPARE(parsed.exitNow, exitNow);
        QCOMPARE(parsed.exitCode, exitCode);
        QCOMPARE(parsed.outputIsError, toStderr);
        QVERIFY2(parsed.output.contains(outputHas), qPrintable(parsed.output));
        QCOMPARE(parsed.serverDir, serverDir);
        // An error is one line.
        if (toStderr)
            QCOMPARE(parsed.output.count(u'\n'), 1);
    }

    void serverFolderPrecedence() {
        QTemporaryDir root;
        const QString own = root.path() + "/own";         // the launcher's own folder
        const QString linked = root.path() + "/link dir"; // holds a link to the launcher
        const QString remembered = root.path() + "/remembered";
        const QString given = root.path() + "/given";
        const QString chosen = root.path() + "/chosen";
        putServers(own, {});
        QFile::copy(QStringLiteral("/bin/true"), own + "/corvane-launcher");
        putServers(linked, {});
        QVERIFY(QFile::link(own + "/corvane-launcher", linked + "/corvane-launcher"));
        putServers(remembered, kAll);
        putServers(given, {QStringLiteral("map-server")});

        struct Case {
            const char* what;
            QString option, invokedAs, path, ownServers, rememberedFolder;
            QString expected;
            ServerFolderSource source;
            bool asks;
        };
        const QString launcher = own + "/corvane-launcher";
        const QString link = linked + "/corvane-launcher";
        const QList<Case> cases = {
            {"option first", given, link, "", "all", remembered, given, ServerFolderSource::Option,
             false},
            {"link over own", "", link, "", "all", remembered, linked, ServerFolderSource::Link,
             false},
            {"link found through PATH", "", "corvane-launcher", "/nonexistent:" + linked, "all",
             remembered, linked, ServerFolderSource::Link, false},
            {"own folder that holds them", "", launcher, "", "all", remembered, own,
             ServerFolderSource::OwnFolder, false},
            {"remembered when own lacks", "", launcher, "", "", remembered, remembered,
             ServerFolderSource::Remembered, false},
            {"asked when none holds them", "", launcher, "", "", root.path() + "/gone", chosen,
             ServerFolderSource::Chosen, true},
            {"remembered that lost a server", "", launcher, "", "", given, chosen,
             ServerFolderSource::Chosen, true},
        };
        for (const Case& c : cases) {
            for (const QString& name : kAll)
                QFile::remove(own + "/" + name);
            if (!c.ownServers.isEmpty())
                putServers(own, kAll);
            ServerFolderInputs inputs{c.option, c.invokedAs, c.path, own, c.rememberedFolder};
            QString askedIn;
            const ServerFolder result = ResolveServerFolder(inputs, [&](const QString& startIn) {
                askedIn = startIn.isEmpty() ? QStringLiteral("-") : startIn;
                return chosen;
            });
            QVERIFY2(result.folder == c.expected, c.what);
            QVERIFY2(result.source == c.source, c.what);
            QVERIFY2(askedIn.isEmpty() != c.asks, c.what);
        }

        // Cancelled: the launcher's own folder, which the start-up log then says lacks servers.
        for (const QString& name : kAll)
            QFile::remove(own + "/" + name);
        const ServerFolder cancelled =
            ResolveServerFolder({QString(), launcher, QString(), own + "/", QString()},
                                [](const QString&) { return QString(); });
        QCOMPARE(cancelled.folder, own);
        QCOMPARE(cancelled.source, ServerFolderSource::NoneHoldsThem);
        QCOMPARE(MissingServerPrograms(own), kAll);
        QCOMPARE(MissingServerPrograms(given),
                 (QStringList{QStringLiteral("login-server"), QStringLiteral("char-server")}));
    }
};

QTEST_GUILESS_MAIN(CommandLineAndFolderTest)
#include "tst_command_line_and_folder.moc"
