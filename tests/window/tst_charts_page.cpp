// The charts page: opened from a server tab's menu and from the tray menu, it shows each server's
// samples as they were recorded and as they come, the timeline with its crash reports, and follows
// the window's palette.
#include "ChartsWindow.h"
#include "CrashReportView.h"
#include "HistoryCharts.h"
#include "HistoryRecorder.h"
#include "LauncherHarness.h"
#include "TimelineList.h"
#include "UsageChart.h"

#include <QApplication>
#include <QChart>
#include <QContextMenuEvent>
#include <QDateTimeAxis>
#include <QLabel>
#include <QLineSeries>
#include <QMenu>
#include <QTabWidget>
#include <QTemporaryDir>

namespace {

ChartsWindow* OpenCharts(frmMain& w) {
    for (ChartsWindow* charts : w.findChildren<ChartsWindow*>())
        if (charts->isVisible())
            return charts;
    return nullptr;
}

// The server tab's menu as the operator opens it, and its item with that text.
QAction* TabMenuItem(frmMain& w, int server, const QString& text) {
    QTabBar* bar = w.conTab->tabBar();
    const QPoint at = bar->tabRect(server).center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, bar->mapToGlobal(at));
    QApplication::sendEvent(bar, &click);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu)
        return nullptr;
    for (QAction* action : menu->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

void GiveUsage(CoreHarness& h) {
    for (int pid = 1000; pid < 1100; ++pid)
        h.apis.usage[pid] = ServerUsage{true, 500, 64 << 20, 8, 12, 1, 5000};
}

} // namespace

class ChartsPageTest : public QObject {
    Q_OBJECT
private slots:
    // "Charts..." in the tray menu, among the tray's added items, and at the end of each server
    // tab's menu: one page, brought to the front at the server asked for.
    void opensFromBothMenus() {
        LauncherHarness h;
        InstallHistoryCharts(h.window());
        frmMain& w = h.online();
        w.show();
        QAction* tray = w.findChild<QAction*>(QStringLiteral("mnuTrayCharts"));
        QVERIFY(tray);
        QVERIFY(w.mnuTrayMenu->actions().indexOf(tray) >
                w.mnuTrayMenu->actions().indexOf(w.mnuTraySep[1])); // below the classic items
        QVERIFY(!OpenCharts(w));
        tray->trigger();
        ChartsWindow* charts = OpenCharts(w);
        QVERIFY(charts);
        QVERIFY(charts->isWindow());
        QVERIFY(charts->windowHandle() != w.windowHandle());

        QAction* item = TabMenuItem(w, 2, QStringLiteral("&Charts..."));
        QVERIFY(item);
        item->trigger();
        QTRY_COMPARE(charts->findChild<QTabWidget*>("chartTabs")->currentIndex(), 2);
        QCOMPARE(w.findChildren<ChartsWindow*>().size(), 1);
        delete QApplication::activePopupWidget();

        charts->close(); // and a new one opens after it was closed
        QTRY_VERIFY(w.findChildren<ChartsWindow*>().isEmpty());
        item = TabMenuItem(w, 1, QStringLiteral("&Charts..."));
        QVERIFY(item);
        item->trigger();
        QTRY_VERIFY(OpenCharts(w));
        QCOMPARE(OpenCharts(w)->findChild<QTabWidget*>("chartTabs")->currentIndex(), 1);
        delete QApplication::activePopupWidget();
    }

    // The samples recorded before the page opened, then each new one; players only for the
    // server that counts them; the day from the minutes' summaries; an hour's span that moves on.
    void showsTheSamples() {
        LauncherHarness h;
        HistoryRecorder* recorder = InstallHistoryCharts(h.window());
        GiveUsage(h);
        frmMain& w = h.online();
        QVERIFY(recorder);
        recorder->setPlayerCount(
            [](int server) { return server == 2 ? std::optional<int>(17) : std::nullopt; });
        for (int tick = 0; tick < 40; ++tick) { // 80 s: a minute summarised
            h.clock.now += 2000;
            h.core().resources().Sample();
        }
        w.findChild<QAction*>(QStringLiteral("mnuTrayCharts"))->trigger();
        ChartsWindow* charts = OpenCharts(w);
        QVERIFY(charts);
        QTRY_VERIFY(charts->loaded());
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(charts->hourChart(i)->cpu()->count(), 40);
            QCOMPARE(charts->hourChart(i)->memory()->count(), 40);
            QCOMPARE(charts->hourChart(i)->memory()->at(0).y(), 64.0);
            QCOMPARE(charts->dayChart(i)->cpu()->count(), 1);
        }
        QVERIFY(!charts->hourChart(0)->showsPlayers());
        QVERIFY(charts->hourChart(2)->showsPlayers());
        QCOMPARE(charts->hourChart(2)->players()->count(), 40);
        QVERIFY(charts->hourChart(2)->chart()->series().contains(charts->hourChart(2)->players()));
        QVERIFY(!charts->hourChart(1)->chart()->series().contains(charts->hourChart(1)->players()));

        h.clock.now += 2000;
        h.core().resources().Sample();
        QCOMPARE(charts->hourChart(1)->cpu()->count(), 41);
        QCOMPARE(charts->hourChart(2)->players()->count(), 41);
        // Nearly an hour on, the samples of the first 20 s have left the span, the rest stay.
        h.clock.now += 3600'000 - 60'000;
        h.core().resources().Sample();
        QCOMPARE(charts->hourChart(1)->cpu()->count(), 41 - 10 + 1);
    }

    // The timeline, newest first, follows while the page is open; a crash's entry opens its
    // report, read from the logs folder, in a read-only view.
    void theTimelineOpensCrashReports() {
        QTemporaryDir logs;
        LauncherHarness h;
        h.core().UseLogFolder(logs.path(), QString());
        h.apis.endings["Map Server"] =
            ConsoleEnding{ConsoleEnding::State::Ended, "exit status 3", "the map's last words", 3};
        InstallHistoryCharts(h.window());
        frmMain& w = h.online();
        w.findChild<QAction*>(QStringLiteral("mnuTrayCharts"))->trigger();
        ChartsWindow* charts = OpenCharts(w);
        QTRY_VERIFY(charts->loaded());
        TimelineList* list = charts->timeline();
        QCOMPARE(list->topLevelItemCount(), 3);
        QCOMPARE(list->topLevelItem(2)->text(1), "Login Server");
        QCOMPARE(list->topLevelItem(2)->text(2), "Started");

        h.apis.crashAndWake("map-server");
        QCOMPARE(list->topLevelItemCount(), 5);
        QCOMPARE(list->topLevelItem(0)->text(2), "Relaunched");
        QCOMPARE(list->topLevelItem(1)->text(1), "Map Server");
        QCOMPARE(list->topLevelItem(1)->text(2), "Crashed");
        QVERIFY(list->topLevelItem(1)->text(3).startsWith("exit status 3; crash report "));
        QVERIFY(list->reportOf(0).isEmpty());
        QVERIFY(!list->reportOf(1).isEmpty());
        emit list->itemActivated(list->topLevelItem(0), 0); // no report: nothing opens
        QVERIFY(!charts->findChild<CrashReportView*>());
        emit list->itemActivated(list->topLevelItem(1), 0);
        auto* report = charts->findChild<CrashReportView*>();
        QVERIFY(report);
        QVERIFY(report->isReadOnly());
        QVERIFY2(report->toPlainText().contains("the map's last words"),
                 qPrintable(report->toPlainText()));
    }

    // After 25 minutes the samples run across the charts: both time axes span what is held, up
    // to now, not the whole hour or day with the samples pressed against the right edge. At
    // 1100x950 the timeline below the charts takes a fair share of the page's height. The history
    // kept in memory, the page says so, and how to keep it.
    void theChartsSpanWhatIsHeld() {
        LauncherHarness h;
        InstallHistoryCharts(h.window());
        GiveUsage(h);
        frmMain& w = h.online();
        for (int tick = 0; tick < 750; ++tick) { // 25 minutes
            h.clock.now += 2000;
            h.core().resources().Sample();
        }
        w.findChild<QAction*>(QStringLiteral("mnuTrayCharts"))->trigger();
        ChartsWindow* charts = OpenCharts(w);
        QVERIFY(charts);
        QTRY_VERIFY(charts->loaded());
        const double now = double(h.clock.EpochMs());
        for (UsageChart* chart : {charts->hourChart(2), charts->dayChart(2)}) {
            QVERIFY(chart->cpu()->count() > 20);
            const double from = double(chart->timeAxis()->min().toMSecsSinceEpoch());
            const double to = double(chart->timeAxis()->max().toMSecsSinceEpoch());
            QVERIFY2(from == chart->cpu()->at(0).x() && to == now,
                     qPrintable(QStringLiteral("%1: %2 to %3, first sample %4, now %5")
                                    .arg(chart->objectName())
                                    .arg(from, 0, 'f', 0)
                                    .arg(to, 0, 'f', 0)
                                    .arg(chart->cpu()->at(0).x(), 0, 'f', 0)
                                    .arg(now, 0, 'f', 0)));
        }
        auto* note = charts->findChild<QLabel*>(QStringLiteral("lblHistoryInMemory"));
        QVERIFY(note && note->text().contains("keep history = 1"));
        charts->resize(1100, 950);
        QVERIFY(QTest::qWaitForWindowExposed(charts));
        TimelineList* list = charts->timeline();
        const int row = list->visualItemRect(list->topLevelItem(0)).height();
        QTRY_VERIFY2(row > 0 && list->viewport()->height() >= 10 * row,
                     qPrintable(QStringLiteral("%1 rows of %2 px in %3")
                                    .arg(list->viewport()->height() / std::max(row, 1))
                                    .arg(row)
                                    .arg(charts->height())));
    }

    // An hour at full rate is drawn as 200 points, each the average CPU and the most memory of
    // the 9 samples it stands for.
    void aFullSpanIsDrawnThinned() {
        UsageChart chart(QStringLiteral("Map Server: the last hour"), 3600'000);
        QList<HistorySample> hour;
        const std::int64_t now = 1'780'000'000'000;
        for (int n = 0; n < 1800; ++n)
            hour << HistorySample{2,
                                  now - 3600'000 + 2000 * (n + 1),
                                  n % 2 ? 30.0 : 10.0,
                                  std::int64_t{n} << 20,
                                  9,
                                  14,
                                  0,
                                  n};
        chart.showSamples(hour, now);
        QCOMPARE(chart.cpu()->count(), 200);
        QCOMPARE(chart.memory()->count(), 200);
        QCOMPARE(chart.cpu()->at(0).y(), (5 * 10.0 + 4 * 30.0) / 9);
        QCOMPARE(chart.memory()->at(0).y(), 8.0);
        QCOMPARE(chart.players()->at(199).y(), 1799.0);
    }

    // Light charts on a light palette, dark ones on a dark palette, and back as it changes.
    void followsThePalette() {
        LauncherHarness h;
        InstallHistoryCharts(h.window());
        frmMain& w = h.online();
        w.findChild<QAction*>(QStringLiteral("mnuTrayCharts"))->trigger();
        ChartsWindow* charts = OpenCharts(w);
        QPalette dark = charts->palette();
        dark.setColor(QPalette::Window, QColor(40, 40, 40));
        dark.setColor(QPalette::WindowText, Qt::white);
        QPalette light = dark;
        light.setColor(QPalette::Window, QColor(240, 240, 240));
        charts->setPalette(light);
        QCOMPARE(charts->hourChart(0)->chart()->theme(), QChart::ChartThemeLight);
        charts->setPalette(dark);
        QCOMPARE(charts->dayChart(1)->chart()->theme(), QChart::ChartThemeDark);
        QCOMPARE(charts->dayChart(1)->chart()->backgroundBrush().color(), QColor(40, 40, 40));
        charts->setPalette(light);
        QCOMPARE(charts->hourChart(2)->chart()->theme(), QChart::ChartThemeLight);
    }
};

QTEST_MAIN(ChartsPageTest)
#include "tst_charts_page.moc"
