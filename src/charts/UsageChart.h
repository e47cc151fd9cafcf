#pragma once

#include "HistoryRecords.h"

#include <QChartView>
#include <cstdint>

class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

// One server's CPU, memory and players over a span of time, the span ending now (the time axis
// spans the samples held, up to the whole span): the last hour
// at full rate, or the last day by the minute. Players are drawn only for a server whose players
// are counted.
class UsageChart : public QChartView {
    Q_OBJECT
public:
    UsageChart(const QString& title, std::int64_t spanMs, QWidget* parent = nullptr);

    // The samples as of nowMs (wall clock), oldest first.
    void showSamples(const QList<HistorySample>& samples, std::int64_t nowMs);
    // A new sample: the span moves on to it, and what falls out of it goes.
    void append(const HistorySample& sample);

    QLineSeries* cpu() const { return cpu_; }
    QLineSeries* memory() const { return memory_; }
    QLineSeries* players() const { return players_; }
    QDateTimeAxis* timeAxis() const { return time_; }
    // Players are drawn: some sample of the span counted them.
    bool showsPlayers() const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void moveSpanTo(std::int64_t nowMs);
    void fitValues();
    void showPlayers(bool shown);

    std::int64_t spanMs_;
    QLineSeries* cpu_;
    QLineSeries* memory_;
    QLineSeries* players_;
    QDateTimeAxis* time_;
    QValueAxis* cpuAxis_;
    QValueAxis* memoryAxis_;
    QValueAxis* playersAxis_;
};
