#include "LauncherHarness.h"
#include "PictureBox.h"
#include "QSettingsStore.h"
#include "TabStrip.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

void store(LauncherHarness& h, const QString& key, const QString& value) {
    h.settings.values[FakeSettings::path(key)] = value;
}

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT
private slots:
    void firstRunTakesTheDefaults() {
        LauncherHarness h;
        frmMain& w = h.window();
        w.ChangeLauncherState(33); // so that the load visibly switches the notice controls on
        h.load();
        QCOMPARE(w.chkAutoRestartUse->Value(), 1);
        QCOMPARE(w.chkTrayIconUse->Value(), 1);
        QCOMPARE(w.chkOutputServerMessage->Value(), 1);
        QVERIFY(w.vsKeepIconFor->isEnabled()); // the auto-restart box went from 0 to 1
        QCOMPARE(w.txtInterval->text(), QStringLiteral("5"));
        QCOMPARE(w.vsInterval->Value(), -5);
        QCOMPARE(w.tmrStatusUpdater->interval(), 5000);
        QCOMPARE(w.conTab->SelectedIndex(), 4);
        QCOMPARE(w.ServerName[0], QStringLiteral("Login Server"));
        QCOMPARE(w.ServerName[1], QStringLiteral("Char Server"));
        QCOMPARE(w.ServerName[2], QStringLiteral("Map Server"));
        QCOMPARE(h.settings.writes, 0);
    }

    void storedValuesTheBoxesAccept() {
        LauncherHarness h;
        store(h, "AutoRestart", "0");
        store(h, "MinimizeToTray", "2");
        store(h, "UpdateServerMessage", "0");
        store(h, "ServerMessage Update Interval", "07");
        frmMain& w = h.window();
        w.ChangeLauncherState(33);
        const int mark = h.logCount();
        h.load();
        QCOMPARE(w.chkAutoRestartUse->Value(), 0);
        QVERIFY(!w.vsKeepIconFor->isEnabled()); // no click, so no transition
        QCOMPARE(w.chkTrayIconUse->Value(), 2);
        QCOMPARE(w.chkOutputServerMessage->Value(), 0);
        QCOMPARE(w.txtInterval->text(), QStringLiteral("7"));
        QCOMPARE(w.vsInterval->Value(), -7);
        QCOMPARE(w.tmrStatusUpdater->interval(), 7000);
        QVERIFY(h.logTextsSince(mark).filter("Setting").isEmpty());
    }

    void aGreyedTrayOptionCountsAsOff() {
        LauncherHarness h;
        store(h, "MinimizeToTray", "2");
        frmMain& w = h.load();
        w.show();
        w.ChangeLauncherState(20);
        QVERIFY(w.isVisible());
    }

    void intervalOfEight() {
        LauncherHarness h;
        store(h, "ServerMessage Update Interval", "8");
        frmMain& w = h.load();
        QCOMPARE(w.txtInterval->text(), QStringLiteral("8"));
        QCOMPARE(w.vsInterval->Value(), -8);
        QCOMPARE(w.tmrStatusUpdater->interval(), 8000);
    }

    void unusableValuesAreNamedAndLeftAlone_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("interval of letters") << "ServerMessage Update Interval"
                                             << "abc";
        QTest::newRow("interval of 50") << "ServerMessage Update Interval"
                                        << "50";
        QTest::newRow("interval of 0") << "ServerMessage Update Interval"
                                       << "0";
        QTest::newRow("interval too big for 16 bits") << "ServerMessage Update Interval"
                                                      << "70000";
        QTest::newRow("check box of 3") << "AutoRestart"
                                        << "3";
        QTest::newRow("check box of -1") << "UpdateServerMessage"
                                         << "-1";
        QTest::newRow("check box of text") << "MinimizeToTray"
                                           << "yes";
        QTest::newRow("fraction") << "AutoRestart"
                                  << "1.5";
    }
    void unusableValuesAreNamedAndLeftAlone() {
        QFETCH(QString, key);
        QFETCH(QString, value);
        LauncherHarness h;
        store(h, key, value);
        frmMain& w = h.load();
        // The one bad value keeps its control's starting value; every other step still ran.
        if (key == "ServerMessage Update Interval") {
            QCOMPARE(w.txtInterval->text(), QStringLiteral("5"));
            QCOMPARE(w.vsInterval->Value(), -5);
            QCOMPARE(w.tmrStatusUpdater->interval(), 5000);
        }
        QCOMPARE(w.chkAutoRestartUse->Value(), key == "AutoRestart" ? 0 : 1);
        QCOMPARE(w.chkTrayIconUse->Value(), key == "MinimizeToTray" ? 0 : 1);
        QCOMPARE(w.chkOutputServerMessage->Value(), 1);
        const QStringList named = h.logTexts().filter("\"" + key + "\"");
        QCOMPARE(named.size(), 1);
        QVERIFY(named[0].contains(value));

        // What is saved is what the launcher really used.
        w.ChangeLauncherState(40);
        QCOMPARE(h.settings.values[FakeSettings::path("ServerMessage Update Interval")],
                 QStringLiteral("5"));
        QCOMPARE(h.settings.values[FakeSettings::path("AutoRestart")],
                 key == "AutoRestart" ? QStringLiteral("0") : QStringLiteral("1"));
    }

    void optionHandlers() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.ChangeLauncherState(11);
        QVERIFY(w.vsInterval->SetValue(-10));
        QCOMPARE(w.txtInterval->text(), QStringLiteral("10"));
        QCOMPARE(w.tmrStatusUpdater->interval(), 10000);
        QVERIFY(w.tmrStatusUpdater->isActive());
        QVERIFY(!w.vsInterval->SetValue(-11));
        QCOMPARE(w.txtInterval->text(), QStringLiteral("10"));

        QVERIFY(w.vsKeepIconFor->SetValue(-35));
        QCOMPARE(w.txtKeepIconFor->text(), QStringLiteral("35"));

        w.chkAutoRestartUse->SetValue(0);
        QVERIFY(!w.vsKeepIconFor->isEnabled());
        w.chkAutoRestartUse->SetValue(1);
        QVERIFY(w.vsKeepIconFor->isEnabled());
        w.chkLogEverything->SetValue(1);
        QVERIFY(w.tmrLogger->isActive());
        w.chkLogEverything->SetValue(2);
        QVERIFY(!w.tmrLogger->isActive());
        QCOMPARE(h.settings.writes, 0); // only the exit writes
    }

    void exitSavesTheOperatorsChoicesEvenWhenMinimised() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.show();
        w.chkAutoRestartUse->SetValue(0);
        w.vsInterval->SetValue(-3);
        w.setWindowState(Qt::WindowMinimized);
        QCOMPARE(w.chkOutputServerMessage->Value(), 0); // suspended while minimised
        w.ChangeLauncherState(40);
        QCOMPARE(h.settings.values[FakeSettings::path("AutoRestart")], QStringLiteral("0"));
        QCOMPARE(h.settings.values[FakeSettings::path("MinimizeToTray")], QStringLiteral("1"));
        QCOMPARE(h.settings.values[FakeSettings::path("UpdateServerMessage")], QStringLiteral("1"));
        QCOMPARE(h.settings.values[FakeSettings::path("ServerMessage Update Interval")],
                 QStringLiteral("3"));
    }

    void aSettingThatCannotBeWrittenDoesNotStopTheExit() {
        LauncherHarness h;
        h.addServerFiles();
        h.settings.failingKeys = {"AutoRestart"};
        frmMain& w = h.load();
        h.startAll();
        w.ChangeLauncherState(40);
        QCOMPARE(h.apis.count("CloseServerConsole"), 3);
        QCOMPARE(h.settings.writes, 4);
        QCOMPARE(h.settings.values[FakeSettings::path("UpdateServerMessage")], QStringLiteral("1"));
        QCOMPARE(h.logTexts().filter("Cannot save setting \"AutoRestart\"").size(), 1);
        QCOMPARE(h.endProgramCalls, 1);
    }

    void missingStatusPicturesAreReplacedAndNamed() {
        LauncherHarness h; // its launcher folder holds no launcherdata
        frmMain& w = h.load();
        for (int state = 0; state < 3; ++state)
            QVERIFY(!w.imgServerStatus[state]->Picture().isNull());
        const QStringList named = h.logTexts().filter("Cannot load the status picture");
        QCOMPARE(named.size(), 3);
        QVERIFY(named[2].contains(LauncherHarness::kFolder + "/launcherdata/error.ico"));
    }

    void settingsFileRoundTrip() {
        QTemporaryDir dir;
        QSettingsStore store(dir.path());
        QString error;
        QCOMPARE(store.GetSetting("CorvaneLauncher", "Settings", "AutoRestart", "1"),
                 QStringLiteral("1"));
        QVERIFY(store.SaveSetting("CorvaneLauncher", "Settings", "ServerMessage Update Interval",
                                  "8", &error));
        QVERIFY(store.SaveSetting("CorvaneLauncher", "Settings", "AutoRestart", "0", &error));
        QSettingsStore again(dir.path());
        QCOMPARE(
            again.GetSetting("CorvaneLauncher", "Settings", "ServerMessage Update Interval", "5"),
            QStringLiteral("8"));
        QCOMPARE(again.GetSetting("CorvaneLauncher", "Settings", "AutoRestart", "1"),
                 QStringLiteral("0"));
        QVERIFY(again.FilePath("CorvaneLauncher").startsWith(dir.path()));
    }

    void settingsFileThatCannotBeWritten() {
        QTemporaryDir dir;
        QSettingsStore store(dir.path());
        QFile blocker(dir.path() + "/CorvaneLauncher"); // a file where the folder should be
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QString error;
        QVERIFY(!store.SaveSetting("CorvaneLauncher", "Settings", "AutoRestart", "0", &error));
        QVERIFY(!error.isEmpty());
    }

    void settingsFileOfGarbage() {
        QTemporaryDir dir;
        QSettingsStore store(dir.path());
        QDir().mkpath(dir.path() + "/CorvaneLauncher");
        QFile garbage(store.FilePath("CorvaneLauncher"));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        QByteArray bytes;
        for (int i = 0; i < 4096; ++i)
            bytes.append(char((i * 7919) % 256));
        garbage.write(bytes);
        garbage.close();
        QCOMPARE(store.GetSetting("CorvaneLauncher", "Settings", "AutoRestart", "1"),
                 QStringLiteral("1"));
        QString error;
        store.SaveSetting("CorvaneLauncher", "Settings", "AutoRestart", "0", &error);
        QCOMPARE(QSettingsStore(dir.path())
                     .GetSetting("CorvaneLauncher", "Settings", "AutoRestart", "1"),
                 QStringLiteral("0"));
    }
};

QTEST_MAIN(SettingsTest)
#include "tst_settings.moc"
