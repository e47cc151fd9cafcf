// A settings save that fails (at exit, say) leaves the settings file as it was.

#include "QSettingsStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

class SettingsFileKeptTest : public QObject {
    Q_OBJECT

private slots:
    void failedSaveLeavesTheOldFileIntact() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QSettingsStore store(dir.path());
        const QString path = store.FilePath(QStringLiteral("CorvaneLauncher"));
        QVERIFY(store.SaveSetting("CorvaneLauncher", "Settings", "AutoRestart", "0", nullptr));
        QVERIFY(store.SaveSetting("CorvaneLauncher", "Settings", "MinimizeToTray", "1", nullptr));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();

        // Nobody may write the file or its folder any more; root is made an ordinary user.
        for (const QString& p : {dir.path(), path.section('/', 0, -2)})
            QVERIFY(::chmod(QFile::encodeName(p).constData(), 0555) == 0);
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0444) == 0);
        const bool root = ::geteuid() == 0;
        if (root)
            QVERIFY(::seteuid(65534) == 0);
        QString error;
        const bool saved =
            store.SaveSetting("CorvaneLauncher", "Settings", "AutoRestart", "1", &error);
        if (root)
            QVERIFY(::seteuid(0) == 0);
        QVERIFY(!saved);
        QVERIFY2(error.contains(path), qPrintable(error));

        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0700) == 0);
        QVERIFY(::chmod(QFile::encodeName(path.section('/', 0, -2)).constData(), 0700) == 0);
    }
};

QTEST_GUILESS_MAIN(SettingsFileKeptTest)
#include "tst_settings_file_kept.moc"
