#pragma once

#include "HistoryRecords.h"

#include <QWidget>
#include <array>

class HistoryRecorder;
class LauncherCore;
class QTabWidget;
class TimelineList;
class UsageChart;

// The charts page, a window of its own beside the main form: for each server the last hour of CPU,
// memory and players, and the last day from the history; below, the timeline. It follows the
// samples and the timeline while it is open.
class ChartsWindow : public QWidget {
    Q_OBJECT
public:
    ChartsWindow(LauncherCore& core, HistoryRecorder& history, QWidget* parent = nullptr);

    // Shows the charts of server (0 to 2).
    void showServer(int server);
    UsageChart* hourChart(int server) const { return hour_[server]; }
    UsageChart* dayChart(int server) const { return day_[server]; }
    TimelineList* timeline() const { return timeline_; }
    bool loaded() const { return loaded_; }

signals:
    // The history was read and is shown.
    void historyShown();

private:
    void showHistory(const HistoryView& view);
    void sampled(const QList<HistorySample>& samples);
    void openReport(const QString& reportFile);

    LauncherCore& core_;
    QTabWidget* tabs_;
    std::array<UsageChart*, HistoryView::kServers> hour_{};
    std::array<UsageChart*, HistoryView::kServers> day_{};
    TimelineList* timeline_;
    bool loaded_ = false;
    QList<HistorySample> early_; // samples that came before the history was read
    QList<TimelineEntry> earlyEntries_;
};
