// The window's side of the tray, against a notification area that records every call: the icon
// follows the launcher's state.
#include "CrashMonitor.h"
#include "FakeNotificationArea.h"
#include "IconRegistry.h"
#include "LauncherHarness.h"
#include "PictureBox.h"

class TrayTest : public QObject {
    Q_OBJECT
private slots:
    void theWindowInTheTray() {
        FakeNotificationArea area;
        LauncherHarness h;
        frmMain& w = h.load();
        const auto picture = [&](int state) {
            return RegisterIcon(w.imgServerStatus[state]->Picture());
        };
        w.show();
        const QString caption = w.windowTitle();
        const QString suspended = caption + " (Message Update Suspended)";
        QVERIFY(picture(0) && picture(1) && picture(2) && picture(1) != picture(2)); // stand-ins
        w.setWindowState(Qt::WindowMinimized);
        QCOMPARE(area.showing(), std::tuple(true, picture(0), suspended));

        // State changes and a crash change the picture and tip of the one icon.
        h.addServerFiles();
        w.cmdServerStart_Click();
        QCOMPARE(area.showing(), std::tuple(true, picture(1), QString("All servers are online")));
        h.apis.endings["Map Server"] = {ConsoleEnding::State::Ended, "exit status 3", {}};
        h.apis.crash("map-server");
        h.fleet().tmrStatusUpdater_Timer();
        QCOMPARE(area.showing(), std::tuple(true, picture(2), suspended));
        // The crash also raises a desktop notification, which says how the server ended.
        QCOMPARE(area.notes, QStringList("Map Server crashed: Map Server just crashed (exit status "
                                         "3) and is being started again."));
        h.clock.now += 10000; // the notice's time at its start
        h.fleet().monitor().tmrCrashNotice_Timer();
        QCOMPARE(std::get<1>(area.showing()), picture(1));
        QCOMPARE(area.count(NIM_ADD), 1);
        // The menu, the double click and the exit are tried on a real desktop, end to end.
    }

    void noIconWithoutTheOptionOrANotificationArea() {
        for (const auto& [option, available] : {std::pair{0, true}, {2, true}, {1, false}}) {
            FakeNotificationArea area;
            area.available = available;
            LauncherHarness h;
            h.trayAvailable = available;
            frmMain& w = h.load();
            w.chkTrayIconUse->SetValue(option);
            w.show();
            w.setWindowState(Qt::WindowMinimized);
            QVERIFY(w.isVisible());    // without an icon to come back from, the window stays
            w.ChangeLauncherState(50); // a refresh of the tray
            QCOMPARE(area.count(NIM_ADD) + area.count(NIM_MODIFY), 0);
        }
    }
};

QTEST_MAIN(TrayTest)
#include "tst_tray.moc"
