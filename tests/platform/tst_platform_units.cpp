// The pure helpers of the Linux backend: text handling that must hold for any input.

#include "linux/ConsoleText.h"
#include "linux/ProcessLister.h"
#include "linux/ServerLauncher.h"

#include "Platform.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class PlatformUnitsTest : public QObject {
    Q_OBJECT

private slots:
    void workingFolderIsThePathUpToItsLastSlash() {
        QCOMPARE(ServerLauncher::WorkingFolderOf("/srv/game/login-server", "/home/op"),
                 std::string("/srv/game/"));
        QCOMPARE(ServerLauncher::WorkingFolderOf("/srv/a b/c;d/x", "/"),
                 std::string("/srv/a b/c;d/"));
        // No '/': the launcher's own folder.
        QCOMPARE(ServerLauncher::WorkingFolderOf("login-server", "/home/op"),
                 std::string("/home/op/"));
        QCOMPARE(ServerLauncher::WorkingFolderOf("login-server", "/"), std::string("/"));
        // Relative folders are made absolute for tmux, which works from its own folder.
        QCOMPARE(ServerLauncher::WorkingFolderOf("bin/login-server", "/home/op"),
                 std::string("/home/op/bin/"));
        QCOMPARE(ServerLauncher::AbsolutePathOf("bin/x", "/home/op/"),
                 std::string("/home/op/bin/x"));
        QCOMPARE(ServerLauncher::AbsolutePathOf("/abs/x", "/home/op"), std::string("/abs/x"));
    }

    void statLineIsReadUpToTheLastParenthesis() {
        const ProcStat s = ParseProcStat(
            "42 (odd) name) Z 1 42 42 0 -1 4194304 0 0 0 0 0 0 0 0 20 0 3 0 100 0 0\n");
        QVERIFY(s.valid);
        QCOMPARE(s.shortName, std::string_view("odd) name"));
        QCOMPARE(s.state, 'Z');
        QCOMPARE(s.threads, 3L);
        QVERIFY(!ParseProcStat("").valid);
        QVERIFY(!ParseProcStat("42 (cut").valid);
        QVERIFY(!ParseProcStat("42 (short) S 1 2").valid);
    }

    void consoleTextDropsOnlyTheBlankLinesAtItsEnd() {
        QCOMPARE(ConsoleTextFromCapture("a\n\n  b  \n\n   \n\n"), QStringLiteral("a\n\n  b  "));
        QCOMPARE(ConsoleTextFromCapture("one"), QStringLiteral("one"));
        QCOMPARE(ConsoleTextFromCapture("\n \n"), QString());
        QCOMPARE(ConsoleTextFromCapture(""), QString());
        QCOMPARE(ConsoleTextFromCapture("caf\xc3\xa9\n"), QStringLiteral("café"));
    }

    void fileExistsOnlyForFiles() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile file(dir.filePath(QStringLiteral("a file")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const std::unique_ptr<modAPIs> apis = CreatePlatformApis();
        QVERIFY(apis->FileExists(file.fileName()));
        QVERIFY(!apis->FileExists(dir.path()));
        QVERIFY(!apis->FileExists(dir.filePath(QStringLiteral("missing"))));
        QVERIFY(!apis->FileExists(QString()));
        // The real backend lists at least this very test.
        QVERIFY(apis->GetProcessList().contains(QStringLiteral(":tst_platform_units,")));
    }

    void systemClockMovesWithSleep() {
        const std::unique_ptr<Clock> clock = CreateSystemClock();
        const std::int64_t start = clock->NowMs();
        clock->Sleep(30);
        QVERIFY(clock->NowMs() - start >= 30);
    }
};

QTEST_GUILESS_MAIN(PlatformUnitsTest)
#include "tst_platform_units.moc"
