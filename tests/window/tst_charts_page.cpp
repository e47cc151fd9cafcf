// The charts page: opened from a server tab's menu and from the tray menu, it shows each server's
// samples as they were recorded and as they come, the timeline with its crash reports, and follows
// the window's palette.
#include "ChartsWindow.h"
#include "CrashReportView.h"
#include "HistoryCharts.h"
#include "HistoryRecorder.h"
#include "TimelineList.h"
#include "UsageChart.h"
#include "WindowProbes.h"

#include <QChart>
#include <QDateTimeAxis>
#include <QLabel>
#include <QLineSeries>
#include <QTabWidget>
#include <QTemporaryDir>

namespace {

// The charts page as the tray menu opens it, once it has read the history.
ChartsWindow* OpenFromTray(frmMain& w) {
    w.findChild<QAction*>(QStringLiteral("mnuTrayCharts"))->trigger();
    ChartsWindow* charts = Shown<ChartsWindow>(w);
    return charts && QTest::qWaitFor([charts] { return charts->loaded(); }) ? charts : nullptr;
}

void GiveUsage(CoreHarness& h) {
    for (int pid = 1000; pid < 1100; ++pid)
        h.apis.usage[pid] = ServerUsage{true, 500, 64 << 20, 8, 12, 1, 5000};
}

// That many samples, one every 2 s as the recorder takes them.
void Sample(CoreHarness& h, int times) {
    for (int tick = 0; tick < times; ++tick) {
        h.clock.now += 2000;
        h.core().resources().Sample();
    }
}

} // namespace

class ChartsPageTest : public QObject {
    Q_OBJECT
private slots:
    // "Charts..." in the tray menu, among the tray's added items, and at the end of each server
    // tab's menu: one page, brought to the front at the server asked for. It shows the samples
    // recorded before it opened, then each new one; players only for the server that counts them;
    // the day from the minutes' summaries; an hour's span that moves on.
    void opensFromBothMenusWithTheSamples() {
        LauncherHarness h;
        HistoryRecorder* recorder = InstallHistoryCharts(h.window());
        GiveUsage(h);
        frmMain& w = h.online();
        QVERIFY(recorder);
        recorder->setPlayerCount(
            [](int server) { return server == 2 ? std::optional<int>(17) : std::nullopt; });
        Sample(h, 40); // 80 s: a minute summarised
        w.show();
        QVERIFY(w.mnuTrayMenu->actions().indexOf(w.findChild<QAction*>("mnuTrayCharts")) >
                w.mnuTrayMenu->actions().indexOf(w.mnuTraySep[1])); // below the classic items
        QVERIFY(!Shown<ChartsWindow>(w));
        ChartsWindow* charts = OpenFromTray(w);
        QVERIFY(charts && charts->isWindow() && charts->windowHandle() != w.windowHandle());
        for (int i = 0; i < 3; ++i) {
            UsageChart* hour = charts->hourChart(i);
            QCOMPARE(hour->cpu()->count(), 40);
            QCOMPARE(hour->memory()->count(), 40);
            QCOMPARE(hour->memory()->at(0).y(), 64.0);
            QCOMPARE(charts->dayChart(i)->cpu()->count(), 1);
            QCOMPARE(hour->showsPlayers(), i == 2);
            QCOMPARE(hour->chart()->series().contains(hour->players()), i == 2);
        }
        QCOMPARE(charts->hourChart(2)->players()->count(), 40);

        Sample(h, 1);
        QCOMPARE(charts->hourChart(1)->cpu()->count(), 41);
        QCOMPARE(charts->hourChart(2)->players()->count(), 41);
        // Nearly an hour on, the samples of the first 20 s have left the span, the rest stay.
        h.clock.now += 3600'000 - 60'000;
        h.core().resources().Sample();
        QCOMPARE(charts->hourChart(1)->cpu()->count(), 41 - 10 + 1);

        QVERIFY(Choose(ServerTabMenu(w, 2), "Charts..."));
        QTRY_COMPARE(charts->findChild<QTabWidget*>("chartTabs")->currentIndex(), 2);
        QCOMPARE(w.findChildren<ChartsWindow*>().size(), 1);
        // Light charts on a light palette, dark ones on a dark palette, and back as it changes.
        QPalette palette = charts->palette();
        palette.setColor(QPalette::WindowText, Qt::white);
        for (const QColor window :
             {QColor(240, 240, 240), QColor(40, 40, 40), QColor(240, 240, 240)}) {
            palette.setColor(QPalette::Window, window);
            charts->setPalette(palette);
            for (int i = 0; i < 6; ++i) {
                const QChart* chart =
                    (i < 3 ? charts->hourChart(i) : charts->dayChart(i - 3))->chart();
                QCOMPARE(chart->theme(), window.lightness() < 128 ? QChart::ChartThemeDark
                                                                  : QChart::ChartThemeLight);
                QCOMPARE(chart->backgroundBrush().color(), window);
            }
        }

        charts->close(); // and a new one opens after it was closed
        QTRY_VERIFY(w.findChildren<ChartsWindow*>().isEmpty());
        QVERIFY(Choose(ServerTabMenu(w, 1), "Charts..."));
        QTRY_VERIFY(Shown<ChartsWindow>(w));
        QCOMPARE(Shown<ChartsWindow>(w)->findChild<QTabWidget*>("chartTabs")->currentIndex(), 1);
    }

    // After 25 minutes: the charts span what is held. The timeline, newest first, follows while
    // the page is open; a crash's entry opens its report, read from the logs folder, in a
    // read-only view.
    void theTimelineOpensCrashReports() {
        QTemporaryDir logs;
        LauncherHarness h;
        h.core().UseLogFolder(logs.path(), QString());
        h.apis.endings["Map Server"] =
            ConsoleEnding{ConsoleEnding::State::Ended, "exit status 3", "the map's last words", 3};
        InstallHistoryCharts(h.window());
        GiveUsage(h);
        frmMain& w = h.online();
        Sample(h, 750); // 25 minutes
        ChartsWindow* charts = OpenFromTray(w);
        QVERIFY(charts);
        // The samples run across the charts: both time axes span what is held, up to now, not the
        // whole hour or day with the samples pressed against the right edge.
        for (UsageChart* chart : {charts->hourChart(2), charts->dayChart(2)}) {
            QVERIFY(chart->cpu()->count() > 20);
            QCOMPARE(double(chart->timeAxis()->min().toMSecsSinceEpoch()), chart->cpu()->at(0).x());
            QCOMPARE(double(chart->timeAxis()->max().toMSecsSinceEpoch()),
                     double(h.clock.EpochMs()));
        }
        TimelineList* list = charts->timeline();
        const auto entry = [list](int row) {
            return list->topLevelItem(row)->text(1) + ": " + list->topLevelItem(row)->text(2);
        };
        QCOMPARE(list->topLevelItemCount(), 3);
        QCOMPARE(entry(2), "Login Server: Started");

        h.apis.crashAndWake("map-server");
        QCOMPARE(list->topLevelItemCount(), 5);
        QCOMPARE(entry(0), "Map Server: Relaunched");
        QCOMPARE(entry(1), "Map Server: Crashed");
        QVERIFY(list->topLevelItem(1)->text(3).startsWith("exit status 3; crash report "));
        QVERIFY(list->reportOf(0).isEmpty() && !list->reportOf(1).isEmpty());
        emit list->itemActivated(list->topLevelItem(0), 0); // no report: nothing opens
        QVERIFY(!charts->findChild<CrashReportView*>());
        emit list->itemActivated(list->topLevelItem(1), 0);
        auto* report = charts->findChild<CrashReportView*>();
        QVERIFY(report && report->isReadOnly());
        QVERIFY(report->toPlainText().contains("the map's last words"));
        // The history kept in memory, the page says so, and how to keep it. At 1100x950 the
        // timeline below the charts takes a fair share of the page's height.
        auto* note = charts->findChild<QLabel*>(QStringLiteral("lblHistoryInMemory"));
        QVERIFY(note && note->text().contains("keep history = 1"));
        charts->resize(1100, 950);
        QVERIFY(QTest::qWaitForWindowExposed(charts));
        const int row = list->visualItemRect(list->topLevelItem(0)).height();
        QVERIFY(row > 0);
        QTRY_VERIFY(list->viewport()->height() >= 10 * row);
    }

    // An hour at full rate is drawn as 200 points, each the average CPU and the most memory of
    // the 9 samples it stands for.
    void aFullSpanIsDrawnThinned() {
        UsageChart chart(QStringLiteral("Map Server: the last hour"), 3600'000);
        QList<HistorySample> hour;
        const std::int64_t now = 1'780'000'000'000;
        for (int n = 0; n < 1800; ++n) {
            const std::int64_t at = now - 3600'000 + 2000 * (n + 1);
            hour << HistorySample{2, at, n % 2 ? 30.0 : 10.0, std::int64_t{n} << 20, 9, 14, 0, n};
        }
        chart.showSamples(hour, now);
        QCOMPARE(chart.cpu()->count(), 200);
        QCOMPARE(chart.memory()->count(), 200);
        QCOMPARE(chart.cpu()->at(0).y(), (5 * 10.0 + 4 * 30.0) / 9);
        QCOMPARE(chart.memory()->at(0).y(), 8.0);
        QCOMPARE(chart.players()->at(199).y(), 1799.0);
    }
};

QTEST_MAIN(ChartsPageTest)
#include "tst_charts_page.moc"
