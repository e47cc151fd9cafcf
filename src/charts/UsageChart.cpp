#include "UsageChart.h"

#include "ChartTheme.h"

#include <QDateTime>
#include <QDateTimeAxis>
#include <QEvent>
#include <QLineSeries>
#include <QValueAxis>
#include <algorithm>

namespace {

constexpr double kMegabyte = 1024.0 * 1024.0;

QValueAxis* ValueAxis(const QString& title, const char* format) {
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setLabelFormat(QLatin1String(format));
    axis->setMin(0);
    return axis;
}

QLineSeries* Series(const QString& name, const char* objectName, QObject* parent) {
    auto* series = new QLineSeries(parent);
    series->setName(name);
    series->setObjectName(QLatin1String(objectName));
    return series;
}

// Drops the points before fromX; the points are in time order.
void DropBefore(QLineSeries* series, double fromX) {
    int old = 0;
    while (old < series->count() && series->at(old).x() < fromX)
        ++old;
    if (old > 0)
        series->removePoints(0, old);
}

// From 0 to a little above the highest point, on round numbers.
void FitToPoints(QValueAxis* axis, const QLineSeries* series, double least) {
    double top = least;
    for (const QPointF& p : series->points())
        top = std::max(top, p.y() * 1.1);
    axis->setRange(0, top);
    axis->applyNiceNumbers();
}

} // namespace

UsageChart::UsageChart(const QString& title, std::int64_t spanMs, QWidget* parent)
    : QChartView(parent), spanMs_(spanMs), cpu_(Series(QStringLiteral("CPU %"), "cpu", this)),
      memory_(Series(QStringLiteral("Memory (MB)"), "memory", this)),
      players_(Series(QStringLiteral("Players"), "players", this)), time_(new QDateTimeAxis),
      cpuAxis_(ValueAxis(QStringLiteral("CPU %"), "%.0f")),
      memoryAxis_(ValueAxis(QStringLiteral("MB"), "%.0f")),
      playersAxis_(ValueAxis(QStringLiteral("Players"), "%.0f")) {
    playersAxis_->setParent(this); // the chart's own while the players are drawn
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));
    time_->setFormat(QStringLiteral("HH:mm"));
    time_->setTickCount(7);
    chart->addAxis(time_, Qt::AlignBottom);
    chart->addAxis(cpuAxis_, Qt::AlignLeft);
    chart->addAxis(memoryAxis_, Qt::AlignRight);
    for (QLineSeries* series : {cpu_, memory_}) {
        chart->addSeries(series);
        series->attachAxis(time_);
    }
    cpu_->attachAxis(cpuAxis_);
    memory_->attachAxis(memoryAxis_);
    QChart* const blank = this->chart(); // the view's own, given up rather than deleted
    setChart(chart);
    delete blank;
    setRenderHint(QPainter::Antialiasing);
    setMinimumSize(360, 200);
    FollowPalette(*chart, palette());
}

bool UsageChart::showsPlayers() const {
    return chart()->series().contains(players_);
}

void UsageChart::showPlayers(bool shown) {
    if (shown == showsPlayers())
        return;
    if (shown) {
        chart()->addAxis(playersAxis_, Qt::AlignRight);
        chart()->addSeries(players_);
        players_->attachAxis(time_);
        players_->attachAxis(playersAxis_);
    } else {
        chart()->removeSeries(players_);
        players_->setParent(this); // the chart gives the series back
        chart()->removeAxis(playersAxis_);
        playersAxis_->setParent(this);
    }
    FollowPalette(*chart(), palette());
}

namespace {

// More points than a chart has room for cost much to draw and show nothing more: a span's samples
// are drawn at most that many, each the average CPU, the most memory and the latest players of the
// samples it stands for.
constexpr qsizetype kMostPoints = 200;

QList<HistorySample> Thinned(const QList<HistorySample>& samples) {
    if (samples.size() <= kMostPoints)
        return samples;
    const qsizetype per = (samples.size() + kMostPoints - 1) / kMostPoints;
    QList<HistorySample> thinned;
    thinned.reserve(kMostPoints);
    for (qsizetype from = 0; from < samples.size(); from += per) {
        const qsizetype to = std::min(samples.size(), from + per);
        HistorySample point = samples[to - 1];
        double cpu = 0;
        for (qsizetype k = from; k < to; ++k) {
            cpu += samples[k].cpuPercent;
            point.residentBytes = std::max(point.residentBytes, samples[k].residentBytes);
        }
        point.cpuPercent = cpu / static_cast<double>(to - from);
        thinned << point;
    }
    return thinned;
}

} // namespace

void UsageChart::showSamples(const QList<HistorySample>& all, std::int64_t nowMs) {
    const QList<HistorySample> samples = Thinned(all);
    QList<QPointF> cpu, memory, players;
    cpu.reserve(samples.size());
    memory.reserve(samples.size());
    for (const HistorySample& s : samples) {
        const double x = static_cast<double>(s.atMs);
        cpu.append({x, s.cpuPercent});
        memory.append({x, static_cast<double>(s.residentBytes) / kMegabyte});
        if (s.players)
            players.append({x, static_cast<double>(*s.players)});
    }
    cpu_->replace(cpu);
    memory_->replace(memory);
    players_->replace(players);
    showPlayers(!players.isEmpty());
    moveSpanTo(nowMs);
    fitValues();
}

void UsageChart::append(const HistorySample& s) {
    const double x = static_cast<double>(s.atMs);
    cpu_->append(x, s.cpuPercent);
    memory_->append(x, static_cast<double>(s.residentBytes) / kMegabyte);
    if (s.players) {
        players_->append(x, static_cast<double>(*s.players));
        showPlayers(true);
    }
    moveSpanTo(s.atMs);
    fitValues();
}

void UsageChart::moveSpanTo(std::int64_t nowMs) {
    const double from = static_cast<double>(nowMs - spanMs_);
    for (QLineSeries* series : {cpu_, memory_, players_})
        DropBefore(series, from);
    if (players_->count() == 0)
        showPlayers(false);
    // The axis spans the samples held, up to the whole span: a launcher up for 25 minutes shows
    // them across the chart, not pressed against its right edge. Never less than a sixtieth of
    // the span, so that the first samples do not stand on a single line.
    double earliest = static_cast<double>(nowMs);
    for (const QLineSeries* series : {cpu_, memory_, players_})
        if (series->count() > 0)
            earliest = std::min(earliest, series->at(0).x());
    const std::int64_t shortest = std::max<std::int64_t>(spanMs_ / 60, 1);
    const std::int64_t shown =
        std::clamp<std::int64_t>(nowMs - static_cast<std::int64_t>(earliest), shortest, spanMs_);
    time_->setRange(QDateTime::fromMSecsSinceEpoch(nowMs - shown),
                    QDateTime::fromMSecsSinceEpoch(nowMs));
}

void UsageChart::fitValues() {
    FitToPoints(cpuAxis_, cpu_, 5);
    FitToPoints(memoryAxis_, memory_, 10);
    FitToPoints(playersAxis_, players_, 5);
}

void UsageChart::changeEvent(QEvent* event) {
    QChartView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        FollowPalette(*chart(), palette());
}
