// The persisted options through the real settings file, with no window: what a start makes of the
// file, and what the exit writes back.
#include "CoreHarness.h"
#include "QSettingsStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QList<int> persisted(const LauncherOptions& o) {
    return {o.autoRestart, o.trayIconUse, o.messageUpdate, o.intervalSeconds};
}

} // namespace

class CoreSettingsTest : public QObject {
    Q_OBJECT
private slots:
    void whatAStartMakesOfTheFile_data() {
        QTest::addColumn<QByteArray>("file"); // empty: no file at all
        QTest::addColumn<QList<int>>("values");
        QTest::addColumn<QStringList>("named");
        QTest::newRow("no file") << QByteArray() << QList<int>{1, 1, 1, 5} << QStringList{};
        QTest::newRow("usable")
            << QByteArray("[Settings]\nAutoRestart=0\nMinimizeToTray=2\nUpdateServerMessage=0\n"
                          "ServerMessage Update Interval=07\n")
            << QList<int>{0, 2, 0, 7} << QStringList{};
        QTest::newRow("unusable")
            << QByteArray("[Settings]\nAutoRestart=3\nMinimizeToTray=yes\nUpdateServerMessage=-1\n"
                          "ServerMessage Update Interval=50\n")
            << QList<int>{1, 1, 1, 5} // each key's default, as when it is missing
            << QStringList{"\"AutoRestart\" holds \"3\", which cannot be used; keeping 1.",
                           "\"MinimizeToTray\" holds \"yes\"",
                           "\"UpdateServerMessage\" holds \"-1\"",
                           "\"ServerMessage Update Interval\" holds \"50\""};
        QTest::newRow("garbage") << QByteArray("\x00\xff[\x01=\n", 6).repeated(700)
                                 << QList<int>{1, 1, 1, 5}
                                 << QStringList{"Cannot read the stored settings: "};
    }
    void whatAStartMakesOfTheFile() {
        QFETCH(QByteArray, file);
        QFETCH(QList<int>, values);
        QFETCH(QStringList, named);
        QTemporaryDir dir;
        if (!file.isEmpty())
            QVERIFY(WriteFile(dir.filePath("CorvaneLauncher/CorvaneLauncher.ini"), file));
        QSettingsStore store(dir.path());
        CoreHarness run(&store);
        run.loadCore();
        QCOMPARE(persisted(run.core().options()), values);
        // Every value that could not be used is named, once, and nothing else is.
        for (const QString& text : named)
            QVERIFY2(run.logSince(0).filter(text).size() == 1, qPrintable(text));
        QCOMPARE(run.logSince(0).filter("etting").size(), named.size());

        // The exit writes what the launcher used; the next start reads it without complaint.
        run.core().BeginExit([] {});
        CoreHarness again(&store);
        again.loadCore();
        QCOMPARE(persisted(again.core().options()), values);
        QCOMPARE(again.logSince(0).filter("etting").size(), 0);
    }

    // A save that fails (a file and folder nobody may write, root made an ordinary user) is
    // named, leaves the old file as it was, and does not stop the exit.
    void aFileThatCannotBeWrittenDoesNotStopTheExit() {
        QTemporaryDir dir;
        QSettingsStore store(dir.path());
        const QString path = store.FilePath("CorvaneLauncher");
        CoreHarness first(&store);
        first.loadCore();
        first.core().BeginExit([] {});
        const QByteArray before = ReadFile(path);
        QVERIFY(before.contains("AutoRestart=1"));
        for (const QString& p : {dir.path(), path.section('/', 0, -2), path})
            ::chmod(QFile::encodeName(p).constData(), 0555);
        CoreHarness run(&store);
        run.loadCore();
        const bool root = ::geteuid() == 0;
        QVERIFY(!root || ::seteuid(65534) == 0);
        run.core().BeginExit([] {});
        QVERIFY(!root || ::seteuid(0) == 0);
        const QStringList refused = run.logSince(0).filter("Cannot save setting \"");
        QCOMPARE(refused.size(), 4); // each of the four options
        QVERIFY2(refused[0].contains(path + " cannot be written"), qPrintable(refused[0]));
        QCOMPARE(ReadFile(path), before);
        for (const QString& p : {dir.path(), path.section('/', 0, -2)})
            ::chmod(QFile::encodeName(p).constData(), 0700);
    }
};

QTEST_GUILESS_MAIN(CoreSettingsTest)
#include "tst_core_settings.moc"
