// The history file after 90 days of three servers sampled every 2 s, the compaction running once
// a minute as the launcher runs it; and the charts page opened on a full day of samples.

#include "BenchLauncher.h"
#include "Cases.h"
#include "ChartsWindow.h"
#include "Clock.h"
#include "HistoryRecorder.h"
#include "HistoryStore.h"
#include "Measure.h"
#include "Platform.h"
#include "Report.h"
#include "UsageChart.h"

#include <QLineSeries>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

constexpr int kServers = 3;
constexpr std::int64_t kTickMs = 2000;
constexpr std::int64_t kStartMs = 1'780'000'020'000; // a minute's start
constexpr double kMegabyte = 1024.0 * 1024.0;
constexpr double kOpenTargetMs = 200;
constexpr double kCompactionTargetMs = 50; // a run, on the writer's thread

// A server's sample at t, varying as a real one's would.
HistorySample Sample(int server, std::int64_t t) {
    const auto n = static_cast<std::int32_t>(t / kTickMs);
    return HistorySample{server,
                         t,
                         1.5 + (n * 7919 % 1000) / 100.0,
                         (300LL << 20) + (n * 104729 % 5000) * 4096,
                         12 + n % 3,
                         40 + n % 7,
                         t - kStartMs,
                         server == 2 ? std::optional<std::int32_t>(n % 50) : std::nullopt};
}

QTemporaryDir* TempFolder() {
    const QString base = qEnvironmentVariable("CORVANE_BENCH_TMP");
    return base.isEmpty() ? new QTemporaryDir : new QTemporaryDir(base + "/history-XXXXXX");
}

} // namespace

int RunHistorySizeBench(int argc, char** argv, const BenchOptions& options) {
    QCoreApplication app(argc, argv);
    std::unique_ptr<QTemporaryDir> folder(TempFolder());
    QString why;
    auto store = HistoryStore::Open(folder->path(), "history.sqlite", &why);
    if (!store) {
        std::fprintf(stderr, "cannot open the history: %s\n", qPrintable(why));
        return 1;
    }
    const int days = options.quick ? 10 : 91;
    // The launcher commits each tick on its own; here a minute's 30 ticks go in one transaction,
    // which makes the same file in a fraction of the time. A tick's own commit is timed apart.
    std::vector<double> compactionMs;
    std::vector<double> tickMs;
    const std::int64_t endMs = kStartMs + days * HistoryStore::kDayMs;
    QList<HistorySample> minute;
    for (std::int64_t t = kStartMs; t < endMs; t += kTickMs) {
        for (int server = 0; server < kServers; ++server)
            minute << Sample(server, t);
        if ((t + kTickMs) % HistoryStore::kMinuteMs != 0)
            continue;
        if (tickMs.size() < 2000 && t > endMs - HistoryStore::kDayMs) {
            // A day before the end, with a full day of samples in the file: ticks as the
            // launcher writes them.
            for (qsizetype k = 0; k < minute.size(); k += kServers) {
                const auto start = measure::SteadyClock::now();
                store->addSamples(minute.mid(k, kServers));
                tickMs.push_back(measure::MsSince(start));
            }
        } else if (!store->addSamples(minute)) {
            std::fprintf(stderr, "write failed: %s\n", qPrintable(store->lastError()));
            return 1;
        }
        minute.clear();
        const auto start = measure::SteadyClock::now();
        store->compact(t + kTickMs);
        compactionMs.push_back(measure::MsSince(start));
    }
    store->checkpoint();
    const double mb = static_cast<double>(store->sizeOnDisk()) / kMegabyte;
    const qsizetype samples = store->samples(0, 0).size() * kServers;
    const qsizetype minutes = store->minutes(0, 0).size() * kServers;
    report::Row(report::Format("history file after %d days, 3 servers every 2 s", days),
                report::Format("%.1f MB (%lld samples, %lld minutes)", mb,
                               static_cast<long long>(samples), static_cast<long long>(minutes)),
                "-", "-", report::Verdict::Info);
    report::Row("history compaction run, once a minute",
                report::Format("p99 %.2f ms (max %.2f, %zu runs)",
                               measure::Percentile(compactionMs, 99),
                               measure::Percentile(compactionMs, 100), compactionMs.size()),
                "-", report::Format("< %.0f ms", kCompactionTargetMs),
                report::PassIf(measure::Percentile(compactionMs, 99) < kCompactionTargetMs));
    report::Row("history write of one tick (3 samples)",
                report::Format("p99 %.2f ms (median %.2f, %zu ticks)",
                               measure::Percentile(tickMs, 99), measure::Median(tickMs),
                               tickMs.size()),
                "-", "on the history thread", report::Verdict::Info);
    return store->integrityCheck() == "ok" ? 0 : 1;
}

int RunChartsOpenBench(int argc, char** argv, const BenchOptions& options) {
    BenchApplication app(argc, argv);
    BenchWorld world;
    if (!world.isValid())
        return 1;
    std::unique_ptr<QTemporaryDir> folder(TempFolder());
    const auto clock = CreateSystemClock();
    QSettingsStore settings(world.settingsFolder());
    LauncherCore core(CoreServices{&world.apis(), clock.get(), &settings, world.launcherFolder()});
    {
        // A full day of samples before now, and its minutes summarised.
        QString why;
        auto store = HistoryStore::Open(folder->path(),
                                        HistoryRecorder::FileName(world.launcherFolder()), &why);
        if (!store)
            return 1;
        const std::int64_t now = clock->EpochMs();
        QList<HistorySample> all;
        for (std::int64_t t = now - HistoryStore::kDayMs; t < now; t += kTickMs)
            for (int server = 0; server < kServers; ++server)
                all << Sample(server, t);
        store->addSamples(all);
        while (store->compact(now, 100'000).more) {
        }
        store->checkpoint();
    }
    HistoryRecorder recorder(core, folder->path());
    recorder.flush();
    const int runs = options.quick ? 3 : 10;
    std::vector<double> openMs;
    for (int run = 0; run < runs; ++run) {
        const auto start = measure::SteadyClock::now();
        auto* charts = new ChartsWindow(core, recorder);
        charts->show();
        while (!charts->loaded())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        QCoreApplication::processEvents(); // and it is drawn
        openMs.push_back(measure::MsSince(start));
        delete charts;
    }
    // The window thread's share of it: the charts filled with what the history thread read.
    ChartsWindow charts(core, recorder);
    while (!charts.loaded())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QString why;
    auto store =
        HistoryStore::Open(folder->path(), HistoryRecorder::FileName(world.launcherFolder()), &why);
    if (!store)
        return 1;
    const std::int64_t now = clock->EpochMs();
    const HistoryView view = store->view(now);
    const std::vector<double> fillMs = measure::TimeRuns(runs, [&] {
        for (int server = 0; server < kServers; ++server) {
            charts.hourChart(server)->showSamples(view.hour[server], now);
            charts.dayChart(server)->showSamples(view.day[server], now);
        }
    });
    const qsizetype points =
        charts.hourChart(0)->cpu()->count() + charts.dayChart(0)->cpu()->count();
    report::Row("charts page opened on a day of samples, until drawn",
                report::Format("median %.0f ms (max %.0f, %d runs; %lld points a server)",
                               measure::Median(openMs), measure::Percentile(openMs, 100), runs,
                               static_cast<long long>(points)),
                "-", report::Format("< %.0f ms", kOpenTargetMs),
                report::PassIf(measure::Median(openMs) < kOpenTargetMs));
    report::Row("charts page: its charts filled, on the window's thread",
                report::Format("median %.1f ms (max %.1f)", measure::Median(fillMs),
                               measure::Percentile(fillMs, 100)),
                "-", "< 50 ms", report::PassIf(measure::Median(fillMs) < 50));
    return 0;
}
