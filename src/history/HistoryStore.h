#pragma once

#include "HistoryRecords.h"

#include <QList>
#include <QString>
#include <cstdint>
#include <memory>

class CheckedFolder;
class QSqlDatabase;

// The launcher's history in an SQLite file of its own: every sample at full rate for a day, one a
// minute for 90 days, and the timeline of starts, stops and crashes for 90 days. Written in WAL
// mode, a batch in one transaction, so that a launcher that ends at any moment, killed mid-write
// included, leaves the file whole with every batch it committed. One thread uses a store: the one
// that opened it.
class HistoryStore {
public:
    static constexpr std::int64_t kMinuteMs = 60'000;
    static constexpr std::int64_t kDayMs = 24 * 3600'000LL;
    // Samples at full rate are kept that long, the minutes' summaries and the timeline this long.
    static constexpr std::int64_t kFullRateKeptMs = kDayMs;
    static constexpr std::int64_t kMinutesKeptMs = 90 * kDayMs;

    // The file name in folder (checked as the launcher's private folder: this user's own, nobody
    // else writing to it), created private (0600), never through a link. An empty folder keeps the
    // history in memory only. Null, with the reason, when it cannot be opened.
    static std::unique_ptr<HistoryStore> Open(const QString& folder, const QString& fileName,
                                              QString* why);
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // The file's path; empty for a history in memory.
    const QString& path() const { return path_; }

    // Writes a batch of samples (one tick's or more), all or none. False with the reason in
    // lastError().
    bool addSamples(const QList<HistorySample>& samples);
    bool addEntry(const TimelineEntry& entry);
    const QString& lastError() const { return error_; }

    // What compaction did in one run.
    struct Compaction {
        int minutesSummarised = 0; // (server, minute) summaries written
        int samplesDropped = 0;
        int minutesDropped = 0;
        int entriesDropped = 0;
        bool more = false; // the budget ran out before everything due was done
    };
    // Summarises the minutes that have ended into one sample each, and drops what has been kept
    // long enough, as of nowMs on the wall clock. At most budget rows are dropped from each table
    // and at most an hour of samples summarised, so that a run takes a bounded time however long
    // the launcher was away; the rest waits for the next run.
    Compaction compact(std::int64_t nowMs, int budget = 2000);

    // A server's samples at full rate, or its minutes' summaries, from fromMs on, oldest first.
    QList<HistorySample> samples(int server, std::int64_t fromMs) const;
    QList<HistorySample> minutes(int server, std::int64_t fromMs) const;
    // The timeline from fromMs on, newest first, at most limit entries.
    QList<TimelineEntry> timeline(std::int64_t fromMs, int limit) const;
    // The charts page's view as of nowMs: the last hour, the last day and the timeline.
    HistoryView view(std::int64_t nowMs) const;

    // "ok", or what SQLite's integrity check found.
    QString integrityCheck() const;
    // The file's size, its write-ahead log included; 0 in memory.
    std::int64_t sizeOnDisk() const;
    // Moves what the write-ahead log holds into the file.
    void checkpoint();

private:
    HistoryStore(const QString& connection, const QString& path);
    QSqlDatabase db() const;
    bool prepare(QString* why);
    std::int64_t progress(const QString& name) const;
    int summarise(std::int64_t fromMs, std::int64_t toMs);
    int dropOlder(const QString& table, int server, std::int64_t beforeMs, int budget);

    QString connection_;
    QString path_;
    QString error_;
};
