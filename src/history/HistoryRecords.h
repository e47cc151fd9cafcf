#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

// What the history keeps of one server at one moment: a sample at full rate, or a minute's summary
// of them (the average CPU, the most memory, the latest of the rest).
struct HistorySample {
    int server = 0;
    std::int64_t atMs = 0; // wall clock, milliseconds since 1970 UTC
    double cpuPercent = 0;
    std::int64_t residentBytes = 0;
    std::int32_t threads = 0;
    std::int32_t openFiles = 0;
    std::int64_t uptimeMs = 0;
    std::optional<std::int32_t> players; // absent for a server whose players are not counted
};

// One line of the timeline: a start, stop, crash, relaunch or failed health probe of a server.
struct TimelineEntry {
    enum class Kind { Start, Stop, Crash, Relaunch, ProbeFailed, StartFailed };
    std::int64_t atMs = 0;
    int server = 0;
    Kind kind = Kind::Start;
    QString how;        // how a crash ended, the failed probe, why a start failed
    QString reportFile; // the crash report written for it; empty when none was

    // "start", "crash", ... as the database and the charts page name them.
    static QString KindName(Kind kind);
    static std::optional<Kind> KindNamed(const QString& name);
};

// What the charts page shows: each server's last hour at full rate and last day by the minute,
// and the timeline, newest first.
struct HistoryView {
    static constexpr int kServers = 3;
    std::array<QList<HistorySample>, kServers> hour;
    std::array<QList<HistorySample>, kServers> day;
    QList<TimelineEntry> timeline;
};

Q_DECLARE_METATYPE(HistorySample)
Q_DECLARE_METATYPE(TimelineEntry)
Q_DECLARE_METATYPE(HistoryView)
