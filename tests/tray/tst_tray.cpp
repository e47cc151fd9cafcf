// The window's side of the tray, against a notification area that records every call: the icon
// follows the launcher's state.
#include "FakeNotificationArea.h"
#include "IconRegistry.h"
#include "LauncherHarness.h"
#include "PictureBox.h"
#include "ServerUsageTips.h"
#include "clsTrayIcon.h"

#include <QFile>
#include <QMenu>
#include <QTemporaryDir>

namespace {

// Mouse messages of the icon, as the notification area sends them to the window.
void ClickIcon(frmMain& w, const QList<std::int32_t>& mouseMessages) {
    WindowProcedures& procedures = CurrentWindowProcedures();
    for (const std::int32_t message : mouseMessages)
        procedures.SendMessage(procedures.HandleOf(&w), clsTrayIcon::kCallbackMessage,
                               clsTrayIcon::kIconId, message);
}

} // namespace

class TrayTest : public QObject {
    Q_OBJECT
private slots:
    // One icon, whose picture and tip follow the launcher's state and a crash; the tip ends with
    // a line a server. A crash raises a desktop notification too. A double click (or Show Window:
    // tray_test.sh) brings the window back; a single click does not, nor any other button (a D-Bus
    // tray's activation arrives as the double click); its pane then shows the selected console as
    // it is now, not as it was when the message update stopped. (The menu's items:
    // tst_operator_menus.)
    void theWindowInTheTray() {
        FakeNotificationArea area;
        LauncherHarness h;
        frmMain& w = h.load();
        const auto picture = [&](int state) {
            return RegisterIcon(w.imgServerStatus[state]->Picture());
        };
        w.show();
        const QString suspended = w.windowTitle() + " (Message Update Suspended)";
        QVERIFY(picture(0) && picture(1) && picture(2) && picture(1) != picture(2)); // stand-ins
        w.setWindowState(Qt::WindowMinimized);
        QCOMPARE(area.showing, std::tuple(true, picture(0), suspended));
        h.addServerFiles();
        w.cmdServerStart_Click();
        QCOMPARE(area.showing, std::tuple(true, picture(1), QString("All servers are online")));
        // The classic text first, then the server folder, so that two launchers' icons tell
        // apart.
        QCOMPARE(area.fullTip(),
                 "All servers are online\nServer folder: " + LauncherHarness::kFolder +
                     "\nLogin Server: running\nChar Server: running\nMap Server: "
                     "running");
        h.apis.endings["Map Server"] = {ConsoleEnding::State::Ended, "exit status 3", {}};
        h.apis.crash("map-server");
        h.fleet().tmrStatusUpdater_Timer();
        QCOMPARE(area.showing, std::tuple(true, picture(2), suspended));
        QCOMPARE(area.notes, QStringList("Map Server crashed: Map Server just crashed (exit status "
                                         "3) and is being started again."));
        h.clock.now += 10000; // the notice's time at its start
        h.fleet().monitor().tmrCrashNotice_Timer();
        QCOMPARE(std::get<1>(area.showing), picture(1));
        QCOMPARE(area.operations.count(NIM_ADD), 1);
        h.fleet().StopServerAlone(1); // the fake's console ends at the close request
        QVERIFY(area.fullTip().endsWith("\nChar Server: stopped\nMap Server: running"));

        QVERIFY(!w.isVisible() && std::get<0>(area.showing)); // in the tray since its start
        ClickIcon(w, {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP, WM_MBUTTONDOWN,
                      WM_MBUTTONUP});
        w.mnuTrayMenu->close();
        QVERIFY(!w.isVisible()); // a single click of any button leaves it in the tray
        ClickIcon(w, {WM_LBUTTONDBLCLK});
        QVERIFY(w.isVisible() && !std::get<0>(area.showing));
        QCOMPARE(w.windowTitle() + " (Message Update Suspended)", suspended);

        h.apis.consoles["Map Server"] = "map server up";
        w.conTab->Select(3);
        w.setWindowState(Qt::WindowMinimized);
        h.apis.crashAndWake("map-server"); // relaunched while the window is in the tray
        h.apis.consoles["Map Server"] = "map server up again";
        h.fleet().tmrStatusUpdater_Timer();
        QCOMPARE(w.txtOutput->toPlainText(), QString("map server up"));
        ClickIcon(w, {WM_LBUTTONDBLCLK});
        QCOMPARE(w.txtOutput->toPlainText(), QString("map server up again"));
    }

    // The tip's players are those in the game: the map server's count when it counts them, not
    // its sum with the login server's, which counted the same players on their way in; else the
    // count of the server before it that counts players.
    void theTipCountsThePlayersInTheGame() {
        for (const auto& [ini, told] :
             {std::pair{QByteArray("[Login Server]\nplayers = (\\d+) players connected\n"
                                   "[Map Server]\nplayers = (\\d+) players connected\n"),
                        ", 3 players\n"},
              {"[Login Server]\nplayers = (\\d+) players connected\n", ", 5 players\n"}}) {
            QTemporaryDir folder;
            QVERIFY(WriteFile(folder.filePath("corvane-launcher.ini"), ini));
            LauncherHarness h(nullptr, nullptr, nullptr, folder.path());
            h.addServerFiles();
            h.apis.consoles["Login Server"] = "5 players connected\n";
            h.apis.consoles["Map Server"] = "3 players connected\n";
            h.load().cmdServerStart_Click();
            for (int i = 0; i < 3; ++i)
                h.apis.usage[h.server(i).process.lPID] = {true, 0, 1 << 20, 4, 8, 1, 1000};
            h.clock.now += 2000;
            h.core().resources().Sample();
            const QString tip = TrayTipDetails(h.core());
            QVERIFY2(tip.contains(told), qPrintable(tip));
        }
    }

    void noIconWithoutTheOptionOrANotificationArea() {
        // The option's grey state counts as off.
        for (const auto& [option, available] : {std::pair{2, true}, {1, false}}) {
            FakeNotificationArea area;
            LauncherHarness h;
            h.trayAvailable = available;
            frmMain& w = h.load();
            w.chkTrayIconUse->SetValue(option);
            w.show();
            w.setWindowState(Qt::WindowMinimized);
            QVERIFY(w.isVisible());    // without an icon to come back from, the window stays
            w.ChangeLauncherState(50); // a refresh of the tray
            QVERIFY(!area.operations.contains(NIM_ADD) && !area.operations.contains(NIM_MODIFY));
        }
    }
};

QTEST_MAIN(TrayTest)
#include "tst_tray.moc"
