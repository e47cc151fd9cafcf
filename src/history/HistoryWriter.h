#pragma once

#include "HistoryRecords.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

class HistoryStore;

// The history's store on a thread of its own, so that no write, checkpoint or compaction ever holds
// up the window. Its slots run on that thread; what it reads goes back through its signals.
class HistoryWriter : public QObject {
    Q_OBJECT
public:
    HistoryWriter();
    ~HistoryWriter() override;

    // Opens the file name in folder; when it cannot be, the history is kept in memory.
    void open(const QString& folder, const QString& fileName);
    void close();
    void addSamples(const QList<HistorySample>& samples);
    void addEntry(const TimelineEntry& entry);
    // Compacts as of nowMs; goes on in later runs of its own while more is due.
    void compact(std::int64_t nowMs);
    void read(int request, std::int64_t nowMs);

signals:
    // Something the operator should know: the file cannot be used, a write failed.
    void problem(const QString& text);
    void viewRead(int request, const HistoryView& view);

private:
    void writeFailed();

    std::unique_ptr<HistoryStore> store_;
    QString lastProblem_;
};
