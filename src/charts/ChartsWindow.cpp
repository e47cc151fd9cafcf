#include "ChartsWindow.h"

#include "Clock.h"
#include "CrashReportView.h"
#include "HistoryRecorder.h"
#include "HistoryStore.h"
#include "LauncherCore.h"
#include "TimelineList.h"
#include "UsageChart.h"

#include <QLabel>
#include <QSplitter>
#include <QTabWidget>
#include <QVBoxLayout>

ChartsWindow::ChartsWindow(LauncherCore& core, HistoryRecorder& history, QWidget* parent)
    : QWidget(parent, Qt::Window), core_(core), tabs_(new QTabWidget) {
    setObjectName(QStringLiteral("frmCharts"));
    setWindowTitle(QStringLiteral("Charts - Corvane Launcher"));
    setAttribute(Qt::WA_DeleteOnClose);
    QStringList names;
    tabs_->setObjectName(QStringLiteral("chartTabs"));
    for (int i = 0; i < HistoryView::kServers; ++i) {
        const QString& name = core_.fleet().supervisor(i).name();
        names << name;
        auto* page = new QWidget;
        auto* charts = new QVBoxLayout(page);
        hour_[i] = new UsageChart(name + QStringLiteral(": the last hour"), 3600'000);
        day_[i] = new UsageChart(name + QStringLiteral(": the last day"), HistoryStore::kDayMs);
        hour_[i]->setObjectName(QStringLiteral("hourChart%1").arg(i));
        day_[i]->setObjectName(QStringLiteral("dayChart%1").arg(i));
        charts->addWidget(hour_[i]);
        charts->addWidget(day_[i]);
        tabs_->addTab(page, name);
    }
    timeline_ = new TimelineList(names);
    timeline_->setObjectName(QStringLiteral("lstTimeline"));
    auto* lower = new QWidget;
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->addWidget(new QLabel(QStringLiteral("Starts, stops and crashes:")));
    lowerLayout->addWidget(timeline_);
    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(tabs_);
    split->addWidget(lower);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 1);
    // Shared as 2 to 1 from the start, whatever the page's height: the charts' own wish (two
    // charts at their full size) would leave the timeline three rows.
    split->setSizes({2000, 1000});
    auto* layout = new QVBoxLayout(this);
    if (history.inMemory()) {
        auto* note = new QLabel(
            QStringLiteral("Only what was sampled since the launcher started is shown: the "
                           "history is kept in memory for this run. To keep it across runs, put "
                           "\"keep history = 1\" in the [Launcher] section of ") +
            core_.installationFile() + u'.');
        note->setObjectName(QStringLiteral("lblHistoryInMemory"));
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    layout->addWidget(split);
    resize(760, 720);

    connect(timeline_, &TimelineList::reportRequested, this, &ChartsWindow::openReport);
    connect(&history, &HistoryRecorder::sampled, this, &ChartsWindow::sampled);
    connect(&history, &HistoryRecorder::entryAdded, this, [this](const TimelineEntry& entry) {
        if (loaded_)
            timeline_->prepend(entry);
        else
            earlyEntries_ << entry;
    });
    history.load(this, [this](const HistoryView& view) { showHistory(view); });
}

void ChartsWindow::showServer(int server) {
    if (server >= 0 && server < HistoryView::kServers)
        tabs_->setCurrentIndex(server);
}

void ChartsWindow::showHistory(const HistoryView& view) {
    const std::int64_t now = core_.services().clock->EpochMs();
    for (int i = 0; i < HistoryView::kServers; ++i) {
        hour_[i]->showSamples(view.hour[i], now);
        day_[i]->showSamples(view.day[i], now);
    }
    timeline_->showEntries(view.timeline);
    loaded_ = true;
    // What came while the history was read, and is not in what was read.
    const std::int64_t readUpTo = view.timeline.isEmpty() ? 0 : view.timeline.first().atMs;
    for (const TimelineEntry& e : std::exchange(earlyEntries_, {}))
        if (e.atMs > readUpTo)
            timeline_->prepend(e);
    for (const HistorySample& s : std::exchange(early_, {}))
        if (view.hour[s.server].isEmpty() || s.atMs > view.hour[s.server].last().atMs)
            hour_[s.server]->append(s);
    emit historyShown();
}

void ChartsWindow::sampled(const QList<HistorySample>& samples) {
    if (!loaded_) {
        early_ << samples;
        return;
    }
    for (const HistorySample& s : samples)
        if (s.server >= 0 && s.server < HistoryView::kServers)
            hour_[s.server]->append(s);
}

void ChartsWindow::openReport(const QString& reportFile) {
    auto* view = new CrashReportView(core_.log().folder(), reportFile, this);
    view->show();
}
