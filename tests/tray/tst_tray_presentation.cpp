#include "AnsiText.h"
#include "DesktopServices.h"
#include "FakeNotificationArea.h"
#include "IconRegistry.h"
#include "LauncherHarness.h"
#include "PictureBox.h"
#include "VbCheckBox.h"

#include <QAction>
#include <QMenu>
#include <QtTest>
#include <optional>

// The window's side of the tray, driven through the real main window against a notification area
// that records every call and sends the icon's mouse messages as the desktop would.

namespace {

constexpr std::int32_t kWmLButtonDblClk = 515;
constexpr std::int32_t kWmRButtonDown = 516;
const QString kSuffix = QStringLiteral(" (Message Update Suspended)");

QString TipOf(const NotifyIconData& record) {
    return FromAnsi(record.szTip.data(), static_cast<qsizetype>(record.szTip.size()));
}

IconHandle PictureOf(frmMain& w, int state) {
    return RegisterIcon(w.imgServerStatus[state]->Picture());
}

int CountOf(const FakeNotificationArea& area, std::int32_t operation) {
    return static_cast<int>(std::count_if(area.calls.begin(), area.calls.end(),
                                          [&](const auto& c) { return c.operation == operation; }));
}

// What the tray shows now: the picture and tip of the last add or change of each.
struct TrayView {
    IconHandle icon = 0;
    QString tip;
};

TrayView Showing(const FakeNotificationArea& area) {
    TrayView view;
    for (const auto& call : area.calls) {
        if (call.operation == NIM_DELETE)
            view = {};
        if (call.operation != NIM_ADD && call.operation != NIM_MODIFY)
            continue;
        if (call.record.uFlags & NIF_ICON)
            view.icon = call.record.hIcon;
        if (call.record.uFlags & NIF_TIP)
            view.tip = TipOf(call.record);
    }
    return view;
}

void Minimise(frmMain& w) {
    w.setWindowState(Qt::WindowMinimized);
}

} // namespace

class TestTrayPresentation : public QObject {
    Q_OBJECT

    std::optional<FakeNotificationArea> area;

    WindowHandle HandleOf(frmMain& w) { return CurrentWindowProcedures().HandleOf(&w); }

private slots:
    void init() { area.emplace(); }
    void cleanup() { area.reset(); }

    void normalWindowLeavesTrayAndTooltipAlone() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.show();
        QCOMPARE(w.chkTrayIconUse->Value(), 1);

        for (const QString& given : {QString(), QStringLiteral("All servers are online")}) {
            QString tooltip = given;
            std::int16_t added = 0;
            w.UpdateTrayIcon(added, tooltip);
            QCOMPARE(tooltip, given);
            QCOMPARE(added, std::int16_t(0));
        }
        w.ChangeLauncherState(11);
        w.ChangeLauncherState(50);
        w.ChangeLauncherState(10);
        QCOMPARE(CountOf(*area, NIM_ADD), 0);
        QCOMPARE(CountOf(*area, NIM_MODIFY), 0);
        QCOMPARE(w.Memo.fTrayIconAdded, std::int16_t(0));
    }

    void optionOffNeverAddsAnIcon() {
        LauncherHarness h;
        h.settings.values[FakeSettings::path(QStringLiteral("MinimizeToTray"))] = "0";
        frmMain& w = h.load();
        QCOMPARE(w.chkTrayIconUse->Value(), 0);
        w.show();
        const QString caption = w.windowTitle();
        Minimise(w);
        QVERIFY(w.isMinimized());
        QCOMPARE(w.windowTitle(), caption + kSuffix);
        // Without an icon to come back from, the window stays reachable.
        QVERIFY(w.isVisible());

        w.ChangeLauncherState(11);
        w.ChangeLauncherState(50);
        w.ChangeLauncherState(10);
        QVERIFY(area->calls.empty());
        QCOMPARE(w.Memo.fTrayIconAdded, std::int16_t(0));
    }

    void minimisingAddsOneIconWithTheSuspendedCaption() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.show();
        // Showing counts as a restore, which asks for any icon to go; only what follows matters.
        area->calls.clear();
        const QString caption = w.windowTitle();
        Minimise(w);

        QVERIFY(w.isHidden());
        QCOMPARE(area->calls.size(), std::size_t(1));
        const NotifyIconData& added = area->calls[0].record;
        QCOMPARE(area->calls[0].operation, NIM_ADD);
        QCOMPARE(added.hWnd, HandleOf(w));
        QCOMPARE(added.uFlags, 7);
        QCOMPARE(added.uCallbackMessage, 1025);
        QCOMPARE(TipOf(added), caption + kSuffix);
        QVERIFY(PictureOf(w, 0) != 0);
        QCOMPARE(added.hIcon, PictureOf(w, 0));
        QVERIFY(area->isShown(HandleOf(w), 1));
        QCOMPARE(w.Memo.fTrayIconAdded, std::int16_t(-1));
    }

    void stateChangesInTheTrayChangePictureAndTip() {
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        w.show();
        area->calls.clear();
        Minimise(w);

        h.startAll();
        QCOMPARE(w.ServerState, std::int16_t(1));
        TrayView view = Showing(*area);
        QCOMPARE(view.icon, PictureOf(w, 1));
        QCOMPARE(view.tip, QStringLiteral("All servers are online"));

        w.cmdServerShutdown_Click();
        QCOMPARE(w.ServerState, std::int16_t(0));
        view = Showing(*area);
        QCOMPARE(view.icon, PictureOf(w, 0));
        QCOMPARE(view.tip, QStringLiteral("Corvane Launcher is Running"));

        QCOMPARE(CountOf(*area, NIM_ADD), 1);
        QCOMPARE(CountOf(*area, NIM_DELETE), 0);
        QVERIFY(w.isHidden());
    }

    void crashInTheTraySwapsPictureAndTipWithoutASecondIcon() {
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        w.chkAutoRestartUse->SetValue(1);
        w.show();
        h.startAll();
        Minimise(w);
        const QString caption = w.windowTitle();
        QVERIFY(caption.endsWith(kSuffix));

        // What the tray shows while the crash notice stands.
        std::optional<TrayView> duringNotice;
        h.clock.onSleep = [&] {
            if (!duringNotice && w.lblCrashNotice->isVisibleTo(&w))
                duringNotice = Showing(*area);
        };
        h.apis.crash(QStringLiteral("map-server"));
        w.tmrStatusUpdater_Timer();
        h.clock.onSleep = nullptr;

        QVERIFY(duringNotice.has_value());
        QCOMPARE(duringNotice->icon, PictureOf(w, 2));
        QCOMPARE(duringNotice->tip, caption);
        const TrayView after = Showing(*area);
        QCOMPARE(w.ServerState, std::int16_t(1));
        QCOMPARE(after.icon, PictureOf(w, 1));
        QCOMPARE(after.tip, caption);
        QCOMPARE(CountOf(*area, NIM_ADD), 1);
        QVERIFY(area->isShown(HandleOf(w), 1));
    }

    void doubleClickRestoresTheWindowAndRemovesTheIcon() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.show();
        const QString caption = w.windowTitle();
        const int messageUpdate = w.chkOutputServerMessage->Value();
        Minimise(w);
        QCOMPARE(w.chkOutputServerMessage->Value(), 0);

        QVERIFY(area->mouse(HandleOf(w), 1, kWmLButtonDblClk));
        QCOMPARE(area->lastResult, 0);
        QVERIFY(w.isVisible());
        QVERIFY(!w.isMinimized());
        QCOMPARE(w.windowTitle(), caption);
        QCOMPARE(w.chkOutputServerMessage->Value(), messageUpdate);
        QVERIFY(!area->isShown(HandleOf(w), 1));
        QCOMPARE(w.Memo.fTrayIconAdded, std::int16_t(0));

        // The next minimise puts the icon back, once.
        Minimise(w);
        QCOMPARE(CountOf(*area, NIM_ADD), 2);
        QVERIFY(area->isShown(HandleOf(w), 1));
        QCOMPARE(TipOf(area->calls.back().record), caption + kSuffix);
    }

    void rightPressOpensTheTrayMenuAtOnce() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.show();
        Minimise(w);
        QVERIFY(!w.mnuTrayMenu->isVisible());

        // The press alone, with no release after it.
        QVERIFY(area->mouse(HandleOf(w), 1, kWmRButtonDown));
        QCOMPARE(area->lastResult, 0);
        QVERIFY(w.mnuTrayMenu->isVisible());
        QVERIFY(w.isHidden());
        QVERIFY(area->isShown(HandleOf(w), 1));
        w.mnuTrayMenu->hide();
    }

    void exitFromTheTrayStopsSavesAndRemovesTheIcon() {
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        w.show();
        h.startAll();
        Minimise(w);
        QVERIFY(area->isShown(HandleOf(w), 1));
        const int writesBefore = h.settings.writes;

        w.mnuTrayExit->trigger();

        QCOMPARE(h.endProgramCalls, 1);
        QVERIFY(!area->isShown(HandleOf(w), 1));
        QCOMPARE(CountOf(*area, NIM_ADD), 1);
        QVERIFY(w.isVisible());
        QCOMPARE(h.apis.count(QStringLiteral("CloseServerConsole")), 3);
        QCOMPARE(w.ServerState, std::int16_t(0));
        QVERIFY(h.settings.writes > writesBefore);
        // The message update suspended by the minimise is saved as the operator had it.
        QCOMPARE(h.settings.values.value(FakeSettings::path(QStringLiteral("UpdateServerMessage"))),
                 QStringLiteral("1"));
        QVERIFY(!w.TrayIcon);
    }

    void desktopWithoutNotificationAreaKeepsTheWindowShown() {
        LauncherHarness h;
        h.trayAvailable = false;
        area->available = false;
        frmMain& w = h.load();
        w.show();
        Minimise(w);

        QVERIFY(w.isVisible());
        QVERIFY(w.isMinimized());
        QVERIFY(w.windowTitle().endsWith(kSuffix));
        w.ChangeLauncherState(11);
        w.ChangeLauncherState(50);
        QCOMPARE(CountOf(*area, NIM_ADD), 0);
        QCOMPARE(CountOf(*area, NIM_MODIFY), 0);
        QCOMPARE(w.Memo.fTrayIconAdded, std::int16_t(0));
    }
};

QTEST_MAIN(TestTrayPresentation)
#include "tst_tray_presentation.moc"
