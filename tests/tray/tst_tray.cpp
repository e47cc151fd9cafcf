// The window's side of the tray, against a notification area that records every call: the icon
// follows the launcher's state.
#include "CrashMonitor.h"
#include "FakeNotificationArea.h"
#include "IconRegistry.h"
#include "LauncherHarness.h"
#include "PictureBox.h"
#include "clsTrayIcon.h"

#include <QAction>
#include <QMenu>

namespace {

// A mouse message of the icon, as the notification area sends it to the window.
void clickIcon(frmMain& w, std::initializer_list<std::int32_t> mouseMessages) {
    WindowProcedures& procedures = CurrentWindowProcedures();
    for (const std::int32_t message : mouseMessages)
        procedures.SendMessage(procedures.HandleOf(&w), clsTrayIcon::kCallbackMessage,
                               clsTrayIcon::kIconId, message);
}

QStringList itemTexts(const QMenu* menu) {
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

} // namespace

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

    // The menu opens with Show Window; the tip ends with a line a server, kept as the servers
    // change; a single click, a double click or Show Window brings the window back.
    void theTrayShowsTheServersAndGivesTheWindowBack() {
        FakeNotificationArea area;
        LauncherHarness h;
        frmMain& w = h.load();
        QCOMPARE(
            itemTexts(w.mnuTrayMenu),
            QStringList({"Show Window", "Start Server", "Stop Servers", "-", "Open Logs Folder",
                         "Start at Login", "About...", "-", "Exit And Stop Servers"}));
        w.show();
        const QString suspended = w.windowTitle() + " (Message Update Suspended)";
        w.setWindowState(Qt::WindowMinimized);
        QCOMPARE(area.fullTip(), suspended + "\nLogin Server: not started\nChar Server: not "
                                             "started\nMap Server: not started");
        h.addServerFiles();
        w.cmdServerStart_Click();
        QCOMPARE(area.fullTip(), "All servers are online\nLogin Server: running\nChar Server: "
                                 "running\nMap Server: running");
        h.fleet().StopServerAlone(1); // the fake's console ends at the close request
        QVERIFY2(area.fullTip().endsWith("\nChar Server: stopped\nMap Server: running"),
                 qPrintable(area.fullTip()));

        const std::vector<std::pair<const char*, std::function<void()>>> ways{
            {"a click",
             [&] {
                 clickIcon(w, {WM_LBUTTONDOWN, WM_LBUTTONUP});
             }},
            {"a double click", [&] { clickIcon(w, {WM_LBUTTONDBLCLK}); }},
            {"Show Window", [&] { w.mnuTrayShowWindow->trigger(); }},
        };
        for (const auto& [way, restore] : ways) {
            w.setWindowState(Qt::WindowMinimized);
            QVERIFY2(!w.isVisible() && std::get<0>(area.showing()), way);
            clickIcon(w, {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_MBUTTONDOWN, WM_MBUTTONUP});
            w.mnuTrayMenu->close();
            QVERIFY2(!w.isVisible(), way); // nothing but the left button brings it back
            restore();
            QVERIFY2(w.isVisible() && !std::get<0>(area.showing()), way);
            QCOMPARE(w.windowTitle() + " (Message Update Suspended)", suspended);
        }
    }

    // Back from the tray, the pane shows the selected console as it is now, not as it was when
    // the message update stopped.
    void theConsoleIsCurrentOnRestore() {
        FakeNotificationArea area;
        LauncherHarness h;
        frmMain& w = h.online();
        w.show();
        h.apis.consoles["Map Server"] = "map server up";
        w.conTab->Select(3);
        QCOMPARE(w.txtOutput->toPlainText(), QString("map server up"));
        w.setWindowState(Qt::WindowMinimized);
        h.apis.crashAndWake("map-server"); // relaunched while the window is in the tray
        h.apis.consoles["Map Server"] = "map server up again";
        h.fleet().tmrStatusUpdater_Timer();
        QCOMPARE(w.txtOutput->toPlainText(), QString("map server up"));
        clickIcon(w, {WM_LBUTTONDOWN, WM_LBUTTONUP});
        QCOMPARE(w.txtOutput->toPlainText(), QString("map server up again"));
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
