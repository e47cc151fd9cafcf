#pragma once

#include "HistoryRecords.h"
#include "ServerSupervisor.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

class HistoryWriter;
class LauncherCore;
class QThread;

// The launcher's history as it happens: every resource sample of the running servers, and a
// timeline entry at every start, stop, crash, relaunch and failed health probe, written to the
// installation's history file from a thread of its own. It observes the core through its signals
// and changes nothing in it. The entries are handed to the writer at once; the samples gather and
// go in one batch every few seconds (kDefaultWriteSeconds, or the setting "History Write Seconds"),
// so that a quiet launcher wakes its writer and commits a transaction that much less often. A
// launcher killed outright loses the samples of that span at most; everything it handed over is in
// the file.
class HistoryRecorder : public QObject {
    Q_OBJECT
public:
    // The file is kept in folder (the launcher's private folder), named after the installation; an
    // empty folder keeps the history in memory only.
    HistoryRecorder(LauncherCore& core, const QString& folder, QObject* parent = nullptr);
    // The same with the folder asked for when the history is first written or read, once the
    // installation's settings have been read.
    HistoryRecorder(LauncherCore& core, std::function<QString()> folder, QObject* parent = nullptr);
    ~HistoryRecorder() override;

    // Where the history is kept across runs: in the user's state folder ($XDG_STATE_HOME, else
    // ~/.local/state), corvane-launcher/, when the installation's [Launcher] section says "keep
    // history = 1"; otherwise empty, and the history of a run is kept in its memory only.
    static QString KeptFolder(LauncherCore& core);
    // Whether this run's history is kept in memory only.
    bool inMemory();

    // "history-0123456789abcdef.sqlite", the file of the installation in serverFolder.
    static QString FileName(const QString& serverFolder);
    // The file, or empty when the history is kept in memory.
    const QString& filePath() const { return filePath_; }

    // The players on a server now, for the servers whose players are counted; the samples of the
    // others have none. Asked at every sample; the core's counts unless set.
    using PlayerCount = std::function<std::optional<std::int32_t>(int server)>;
    void setPlayerCount(PlayerCount count) { playerCount_ = std::move(count); }

    // Reads the charts page's view as of now, and hands it to done on this thread, unless
    // receiver is gone by then.
    void load(QObject* receiver, std::function<void(const HistoryView&)> done);
    // Returns once every sample and entry taken so far is written.
    void flush();
    // Writes what was taken, folds the write-ahead log into the file and closes it, so that the
    // file alone holds the whole history; as the launcher ends, which runs no destructor.
    void close();

    // The compaction runs that often, as the launcher's clock tells, at a sample.
    static constexpr std::int64_t kCompactEveryMs = 60'000;
    // The samples are handed to the writer that often when no setting says otherwise; 2 (the
    // samples' own period) hands each sample as it is taken.
    static constexpr int kDefaultWriteSeconds = 30;
    static const QString kWriteSecondsKey;

signals:
    // One sample's rows, as they are written.
    void sampled(const QList<HistorySample>& samples);
    void entryAdded(const TimelineEntry& entry);

private:
    void open();
    void takeSample();
    void stateChanged(int server, ServerSupervisor::State state);
    void crashed(int server);
    void add(int server, TimelineEntry::Kind kind, const QString& how = QString(),
             const QString& report = QString());
    void viewRead(int request, const HistoryView& view);
    // Hands the gathered samples to the writer, with the compaction when it is due.
    void handOver(std::int64_t now, bool compactionDue);

    LauncherCore& core_;
    std::function<QString()> folder_; // until the file is opened
    bool closed_ = false;
    QString filePath_;
    QThread* thread_;
    HistoryWriter* writer_; // lives on thread_
    PlayerCount playerCount_;
    std::int64_t nextCompactionMs_ = 0;
    std::int64_t writeEveryMs_;
    std::int64_t nextWriteMs_ = 0;
    QList<HistorySample> gathered_; // taken, not yet handed to the writer
    struct Followed {
        ServerSupervisor::State state = ServerSupervisor::State::NotStarted;
        bool crashed = false; // its next run is a relaunch
    };
    std::array<Followed, HistoryView::kServers> servers_{};
    struct Waiting {
        QPointer<QObject> receiver;
        std::function<void(const HistoryView&)> done;
    };
    QHash<int, Waiting> waiting_;
    int nextRequest_ = 0;
};
