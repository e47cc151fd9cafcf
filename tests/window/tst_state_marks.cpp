// The marks of the servers' states on their tabs, and the red notice's tip: both follow what the
// core signals, driven here through the core's own sequences.
#include "BundledFonts.h"
#include "LauncherHarness.h"
#include "ServerStateMarks.h"
#include "ServerUsageTips.h"
#include "StripTabBar.h"

#include <QImage>
#include <QStyle>
#include <QTabBar>

namespace {

QImage Picture(const QIcon& icon) {
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

// "Map Server: running #2": the state as the tab's tooltip (its accessible description too) begins,
// and the number of the tab's mark (stopped 0, starting 1, running 2, stopping 3, crashed 4,
// backing off 5, not watched 6), or -1 for none.
QString TabState(const QTabBar* bar, int tab) {
    int mark = 6;
    while (mark >= 0 && Picture(bar->tabIcon(tab)) != Picture(MarkIcon(ServerMark(mark))))
        --mark;
    return bar->tabToolTip(tab).section(QRegularExpression("[,;]"), 0, 0) + " #" +
           QString::number(mark);
}

} // namespace

class StateMarksTest : public QObject {
    Q_OBJECT
private slots:
    // Each mark has a shape of its own, whatever its colour: the covered pixels of any two 16x16
    // marks differ in at least a tenth of the square.
    void marksDifferInShape() {
        QList<QImage> marks;
        for (int mark = 0; mark < 7; ++mark) {
            marks << Picture(MarkIcon(ServerMark(mark)));
            for (int other = 0; other < mark; ++other) {
                int differing = 0;
                for (int i = 0; i < 16 * 16; ++i)
                    differing += (qAlpha(marks[mark].pixel(i % 16, i / 16)) > 127) !=
                                 (qAlpha(marks[other].pixel(i % 16, i / 16)) > 127);
                QVERIFY2(differing >= 26, qPrintable(QStringLiteral("%1 %2").arg(mark).arg(other)));
            }
        }
    }

    // Every change of a server's state shows on its tab as it happens: a crash relaunched at once,
    // one put off, and a restart.
    void marksFollowEveryChange() {
        LauncherHarness h;
        h.settings.values["CrashRelaunch Burst"] = "1";
        h.settings.values["CrashRelaunch First Delay"] = "2";
        frmMain& w = h.load();
        const QTabBar* bar = w.conTab->tabBar();
        QStringList seen;
        QObject::connect(&h.fleet(), &ServerFleet::serverStateChanged,
                         [&](int server) { seen << TabState(bar, server); });
        QCOMPARE(TabState(bar, 1), "Char Server: not started #0");
        h.addServerFiles();
        w.cmdServerStart_Click();
        seen.clear();
        h.apis.crashAndWake("map-server"); // relaunched at once
        h.apis.crashAndWake("map-server"); // put off for 2 s
        QCOMPARE(seen, QStringList({"Map Server: starting #1", "Map Server: running #2",
                                    "Map Server: crashed #5"}));
        QVERIFY(bar->tabToolTip(2).startsWith("Map Server: crashed; to be started again at "));
        seen.clear();
        h.fleet().RestartServer(1);
        QCOMPARE(seen, QStringList({"Char Server: restarting: waiting for it to end #3",
                                    "Char Server: starting #1", "Char Server: running #2"}));
    }

    // A crash during the crash notice waits for its end, marked as crashed. The notice's tip names
    // each server that crashed while it stood. (Its caption: tst_status_report, tst_crash_check.)
    // Then the marks take no width from the captions: at the designed size, a mark on each
    // server's tab, every tab is as wide as its caption and its margins, all four lie within the
    // strip, and each mark lies in its tab's margin, left of the caption.
    void crashDuringTheNoticeAndMarksBesideTheCaptions() {
        registerBundledFonts();
        LauncherHarness h;
        frmMain& w = h.online();
        h.apis.crashAndWake("map-server"); // relaunched at once
        h.apis.crashAndWake("map-server"); // during its own notice: waits for its end
        h.apis.crashAndWake("char-server");
        QCOMPARE(TabState(w.conTab->tabBar(), 2) + " / " + TabState(w.conTab->tabBar(), 1),
                 "Map Server: crashed again during its crash notice #4 / Char Server: running #2");
        const QStringList tip = w.lblCrashNotice->toolTip().split('\n');
        QCOMPARE(tip.size(), 3);
        QVERIFY(
            tip[1].contains(QRegularExpression("^Map Server crashed at \\d\\d:\\d\\d:\\d\\d$")));
        QVERIFY(tip[2].startsWith("Char Server crashed"));
        h.clock.now += 10'000;
        h.fleet().monitor().tmrCrashNotice_Timer();
        QVERIFY(w.lblCrashNotice->isHidden() && w.lblCrashNotice->toolTip().isEmpty());
        // The first check after the notice relaunches it, and its notice names only that crash.
        h.fleet().tmrStatusUpdater_Timer();
        QCOMPARE(w.lblCrashNotice->toolTip(), tip[1]);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.size(), QSize(508, 325));
        const auto* bar = qobject_cast<const StripTabBar*>(w.conTab->tabBar());
        QVERIFY(bar && bar->count() == 4);
        const int margins = bar->style()->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, bar);
        for (int tab = 0; tab < bar->count(); ++tab) {
            const QRect r = bar->tabRect(tab);
            const int caption = bar->fontMetrics().horizontalAdvance(bar->tabText(tab));
            QVERIFY2(r.width() >= caption + margins && r.right() < bar->width(),
                     qPrintable(bar->tabText(tab)));
            QCOMPARE(bar->tabIcon(tab).isNull(), tab == 3);
            const QRect mark = bar->markRect(tab);
            QVERIFY(tab == 3 || (r.contains(mark) && mark.width() >= 5 &&
                                 mark.right() < r.left() + (r.width() - caption) / 2));
        }
    }

    // With "Restart Crashed Server" off nothing checks that a started server still runs: a killed
    // one is not shown running, on its tab nor in the tray's tip, but not watched. Once the box
    // is set, the next check finds the crash and the marks tell running servers again.
    void aServerNobodyWatchesIsNotShownRunning() {
        LauncherHarness h;
        h.settings.values["AutoRestart"] = "0";
        h.settings.values["UpdateServerMessage"] = "0";
        frmMain& w = h.online();
        const QTabBar* bar = w.conTab->tabBar();
        h.apis.crashAndWake("map-server"); // killed: nothing notices
        QCOMPARE(TabState(bar, 2), "Map Server: not watched #6");
        QVERIFY(bar->tabToolTip(2).contains("nothing checks that it still runs"));
        const QString tip = TrayTipDetails(h.core());
        QVERIFY(tip.contains("Map Server: not watched") && !tip.contains("running"));
        w.chkAutoRestartUse->SetValue(1);
        h.fleet().tmrStatusUpdater_Timer();
        QCOMPARE(TabState(bar, 2), "Map Server: running #2");
        QCOMPARE(h.server(2).relaunchesSinceOnline, 1);
        QVERIFY(TrayTipDetails(h.core()).contains("Map Server: running"));
    }
};

QTEST_MAIN(StateMarksTest)
#include "tst_state_marks.moc"
