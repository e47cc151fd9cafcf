#include "HistoryStore.h"

#include "CheckedFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <atomic>

namespace {

constexpr const char* kSchema[] = {
    // Samples and the minutes' summaries share their columns; a server's rows follow each other
    // by time, so that reading or dropping a span of one server's rows is a range of the key.
    "CREATE TABLE IF NOT EXISTS samples (server INTEGER NOT NULL, at INTEGER NOT NULL, "
    "cpu REAL NOT NULL, memory INTEGER NOT NULL, threads INTEGER NOT NULL, files INTEGER NOT NULL, "
    "uptime INTEGER NOT NULL, players INTEGER, PRIMARY KEY (server, at)) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS minutes (server INTEGER NOT NULL, at INTEGER NOT NULL, "
    "cpu REAL NOT NULL, memory INTEGER NOT NULL, threads INTEGER NOT NULL, files INTEGER NOT NULL, "
    "uptime INTEGER NOT NULL, players INTEGER, PRIMARY KEY (server, at)) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS timeline (at INTEGER NOT NULL, server INTEGER NOT NULL, "
    "kind TEXT NOT NULL, how TEXT, report TEXT)",
    "CREATE INDEX IF NOT EXISTS timeline_at ON timeline (at)",
    // How far the compaction has gone: the minutes before minutes_through are summarised.
    "CREATE TABLE IF NOT EXISTS progress (name TEXT PRIMARY KEY, value INTEGER NOT NULL) "
    "WITHOUT ROWID",
};

// The most a compaction run summarises: an hour of every server's samples.
constexpr std::int64_t kSummarisedPerRunMs = 60 * HistoryStore::kMinuteMs;
constexpr int kHourMs = 3600'000;
constexpr int kTimelineShown = 1000;

QVariant Players(const std::optional<std::int32_t>& players) {
    return players ? QVariant(*players) : QVariant(QMetaType::fromType<int>());
}

// A row of the samples or the minutes table, in its columns' order.
void BindSample(QSqlQuery& q, const HistorySample& s) {
    q.bindValue(0, s.server);
    q.bindValue(1, qint64(s.atMs));
    q.bindValue(2, s.cpuPercent);
    q.bindValue(3, qint64(s.residentBytes));
    q.bindValue(4, s.threads);
    q.bindValue(5, s.openFiles);
    q.bindValue(6, qint64(s.uptimeMs));
    q.bindValue(7, Players(s.players));
}

HistorySample ReadSample(const QSqlQuery& q, int server) {
    HistorySample s;
    s.server = server;
    s.atMs = q.value(0).toLongLong();
    s.cpuPercent = q.value(1).toDouble();
    s.residentBytes = q.value(2).toLongLong();
    s.threads = q.value(3).toInt();
    s.openFiles = q.value(4).toInt();
    s.uptimeMs = q.value(5).toLongLong();
    if (!q.value(6).isNull())
        s.players = q.value(6).toInt();
    return s;
}

// One minute's samples as one: the average CPU, the most memory, the latest of the rest.
class MinuteSummary {
public:
    void add(const HistorySample& s) {
        if (count_ == 0)
            summary_ = s;
        cpuSum_ += s.cpuPercent;
        ++count_;
        summary_.residentBytes = std::max(summary_.residentBytes, s.residentBytes);
        summary_.threads = s.threads;
        summary_.openFiles = s.openFiles;
        summary_.uptimeMs = s.uptimeMs;
        summary_.players = s.players;
    }
    bool empty() const { return count_ == 0; }
    HistorySample take(std::int64_t minuteMs) {
        HistorySample s = summary_;
        s.atMs = minuteMs;
        s.cpuPercent = cpuSum_ / count_;
        *this = MinuteSummary();
        return s;
    }

private:
    HistorySample summary_;
    double cpuSum_ = 0;
    int count_ = 0;
};

} // namespace

std::unique_ptr<HistoryStore> HistoryStore::Open(const QString& folder, const QString& fileName,
                                                 QString* why) {
    static std::atomic<int> serial{0};
    const QString connection = QStringLiteral("corvane-history-%1").arg(++serial);
    QString path;
    if (!folder.isEmpty()) {
        const std::unique_ptr<CheckedFolder> checked = CheckedFolder::Open(folder, true, why);
        if (!checked)
            return nullptr;
        // Created private, or found a plain file: SQLite then opens it by name in a folder
        // nobody else may write to, so that nothing can be put in its place meanwhile.
        QFile file;
        if (!checked->openForAppend(fileName, file, why))
            return nullptr;
        file.close();
        for (const char* companion : {"-wal", "-shm", "-journal"}) {
            if (QFileInfo(checked->path() + u'/' + fileName + QLatin1String(companion))
                    .isSymLink()) {
                *why = QStringLiteral("a link stands in place of ") + fileName +
                       QLatin1String(companion);
                return nullptr;
            }
        }
        path = checked->path() + u'/' + fileName;
    }
    std::unique_ptr<HistoryStore> store(new HistoryStore(connection, path));
    if (!store->prepare(why))
        return nullptr;
    return store;
}

HistoryStore::HistoryStore(const QString& connection, const QString& path)
    : connection_(connection), path_(path) {
    QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    d.setDatabaseName(path_.isEmpty() ? QStringLiteral(":memory:") : path_);
    d.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
}

HistoryStore::~HistoryStore() {
    db().close();
    QSqlDatabase::removeDatabase(connection_);
}

QSqlDatabase HistoryStore::db() const {
    return QSqlDatabase::database(connection_, false);
}

bool HistoryStore::prepare(QString* why) {
    QSqlDatabase d = db();
    if (!d.open()) {
        *why = d.lastError().text();
        return false;
    }
    QSqlQuery q(d);
    QStringList statements{QStringLiteral("PRAGMA journal_mode=WAL"),
                           QStringLiteral("PRAGMA synchronous=NORMAL")};
    for (const char* create : kSchema)
        statements << QLatin1String(create);
    for (const QString& statement : statements) {
        if (!q.exec(statement)) {
            *why = q.lastError().text();
            return false;
        }
    }
    return true;
}

bool HistoryStore::addSamples(const QList<HistorySample>& samples) {
    QSqlDatabase d = db();
    if (!d.transaction()) {
        error_ = d.lastError().text();
        return false;
    }
    QSqlQuery q(d);
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO samples VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const HistorySample& s : samples) {
        BindSample(q, s);
        if (!q.exec()) {
            error_ = q.lastError().text();
            d.rollback();
            return false;
        }
    }
    if (!d.commit()) {
        error_ = d.lastError().text();
        d.rollback();
        return false;
    }
    return true;
}

bool HistoryStore::addEntry(const TimelineEntry& entry) {
    QSqlQuery q(db());
    q.prepare(QStringLiteral("INSERT INTO timeline VALUES (?, ?, ?, ?, ?)"));
    q.bindValue(0, qint64(entry.atMs));
    q.bindValue(1, entry.server);
    q.bindValue(2, TimelineEntry::KindName(entry.kind));
    q.bindValue(3, entry.how);
    q.bindValue(4, entry.reportFile);
    if (!q.exec()) {
        error_ = q.lastError().text();
        return false;
    }
    return true;
}

std::int64_t HistoryStore::progress(const QString& name) const {
    QSqlQuery q(db());
    q.prepare(QStringLiteral("SELECT value FROM progress WHERE name = ?"));
    q.bindValue(0, name);
    return q.exec() && q.next() ? q.value(0).toLongLong() : 0;
}

HistoryStore::Compaction HistoryStore::compact(std::int64_t nowMs, int budget) {
    Compaction done;
    QSqlDatabase d = db();
    d.transaction();
    const std::int64_t ended = nowMs - nowMs % kMinuteMs; // the minutes before it have ended
    // A wall clock set back summarises again from the new now on.
    std::int64_t through = std::min(progress(QStringLiteral("minutes_through")), ended);
    std::int64_t first = ended;
    QSqlQuery q(d);
    q.prepare(QStringLiteral("SELECT MIN(at) FROM samples WHERE server = ? AND at >= ?"));
    for (int server = 0; server < HistoryView::kServers; ++server) {
        q.bindValue(0, server);
        q.bindValue(1, qint64(through));
        if (q.exec() && q.next() && !q.value(0).isNull())
            first = std::min<std::int64_t>(first, q.value(0).toLongLong());
    }
    // Hours without a sample (the launcher was not running) are skipped at once.
    const std::int64_t from = first - first % kMinuteMs;
    const std::int64_t to = std::min(ended, from + kSummarisedPerRunMs);
    if (from < to) {
        done.minutesSummarised = summarise(from, to);
        done.more = to < ended;
    }
    through = std::max(through, std::max(from, to));
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO progress VALUES ('minutes_through', ?)"));
    q.bindValue(0, qint64(through));
    q.exec();

    // Samples not yet summarised are kept, however old, until they are.
    const std::int64_t samplesBefore = std::min(nowMs - kFullRateKeptMs, through);
    const std::int64_t minutesBefore = nowMs - kMinutesKeptMs;
    int samplesBudget = budget;
    int minutesBudget = budget;
    for (int server = 0; server < HistoryView::kServers; ++server) {
        const int samples =
            dropOlder(QStringLiteral("samples"), server, samplesBefore, samplesBudget);
        samplesBudget -= samples;
        done.samplesDropped += samples;
        const int minutes =
            dropOlder(QStringLiteral("minutes"), server, minutesBefore, minutesBudget);
        minutesBudget -= minutes;
        done.minutesDropped += minutes;
    }
    q.prepare(QStringLiteral("DELETE FROM timeline WHERE rowid IN (SELECT rowid FROM timeline "
                             "WHERE at < ? ORDER BY at LIMIT ?)"));
    q.bindValue(0, qint64(minutesBefore));
    q.bindValue(1, budget);
    if (q.exec())
        done.entriesDropped = q.numRowsAffected();
    done.more =
        done.more || samplesBudget <= 0 || minutesBudget <= 0 || done.entriesDropped >= budget;
    if (!d.commit()) {
        error_ = d.lastError().text();
        d.rollback();
    }
    return done;
}

int HistoryStore::summarise(std::int64_t fromMs, std::int64_t toMs) {
    QSqlDatabase d = db();
    QSqlQuery read(d);
    read.setForwardOnly(true);
    read.prepare(QStringLiteral("SELECT at, cpu, memory, threads, files, uptime, players FROM "
                                "samples WHERE server = ? AND at >= ? AND at < ? ORDER BY at"));
    QList<HistorySample> summaries;
    for (int server = 0; server < HistoryView::kServers; ++server) {
        read.bindValue(0, server);
        read.bindValue(1, qint64(fromMs));
        read.bindValue(2, qint64(toMs));
        if (!read.exec())
            continue;
        MinuteSummary minute;
        std::int64_t minuteMs = 0;
        while (read.next()) {
            const HistorySample s = ReadSample(read, server);
            const std::int64_t at = s.atMs - s.atMs % kMinuteMs;
            if (!minute.empty() && at != minuteMs)
                summaries << minute.take(minuteMs);
            minuteMs = at;
            minute.add(s);
        }
        if (!minute.empty())
            summaries << minute.take(minuteMs);
    }
    QSqlQuery write(d);
    write.prepare(QStringLiteral("INSERT OR REPLACE INTO minutes VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const HistorySample& s : summaries) {
        BindSample(write, s);
        write.exec();
    }
    return static_cast<int>(summaries.size());
}

// Drops the server's oldest rows of table from before beforeMs, at most budget of them.
int HistoryStore::dropOlder(const QString& table, int server, std::int64_t beforeMs, int budget) {
    if (budget <= 0)
        return 0;
    QSqlQuery q(db());
    q.prepare(QStringLiteral("SELECT at FROM %1 WHERE server = ? AND at < ? ORDER BY at "
                             "LIMIT 1 OFFSET ?")
                  .arg(table));
    q.bindValue(0, server);
    q.bindValue(1, qint64(beforeMs));
    q.bindValue(2, budget);
    std::int64_t cutoff = beforeMs;
    if (q.exec() && q.next())
        cutoff = q.value(0).toLongLong(); // more than the budget is due: the oldest budget rows
    q.prepare(QStringLiteral("DELETE FROM %1 WHERE server = ? AND at < ?").arg(table));
    q.bindValue(0, server);
    q.bindValue(1, qint64(cutoff));
    return q.exec() ? q.numRowsAffected() : 0;
}

namespace {

QList<HistorySample> ReadSamples(const QSqlDatabase& d, const QString& table, int server,
                                 std::int64_t fromMs) {
    QSqlQuery q(d);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT at, cpu, memory, threads, files, uptime, players FROM %1 "
                             "WHERE server = ? AND at >= ? ORDER BY at")
                  .arg(table));
    q.bindValue(0, server);
    q.bindValue(1, qint64(fromMs));
    QList<HistorySample> read;
    if (q.exec())
        while (q.next())
            read << ReadSample(q, server);
    return read;
}

} // namespace

QList<HistorySample> HistoryStore::samples(int server, std::int64_t fromMs) const {
    return ReadSamples(db(), QStringLiteral("samples"), server, fromMs);
}

QList<HistorySample> HistoryStore::minutes(int server, std::int64_t fromMs) const {
    return ReadSamples(db(), QStringLiteral("minutes"), server, fromMs);
}

QList<TimelineEntry> HistoryStore::timeline(std::int64_t fromMs, int limit) const {
    QSqlQuery q(db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT at, server, kind, how, report FROM timeline WHERE at >= ? "
                             "ORDER BY at DESC, rowid DESC LIMIT ?"));
    q.bindValue(0, qint64(fromMs));
    q.bindValue(1, limit);
    QList<TimelineEntry> read;
    if (!q.exec())
        return read;
    while (q.next()) {
        const std::optional<TimelineEntry::Kind> kind =
            TimelineEntry::KindNamed(q.value(2).toString());
        if (!kind)
            continue; // written by a later launcher
        read << TimelineEntry{q.value(0).toLongLong(), q.value(1).toInt(), *kind,
                              q.value(3).toString(), q.value(4).toString()};
    }
    return read;
}

HistoryView HistoryStore::view(std::int64_t nowMs) const {
    HistoryView v;
    for (int server = 0; server < HistoryView::kServers; ++server) {
        v.hour[server] = samples(server, nowMs - kHourMs);
        v.day[server] = minutes(server, nowMs - kDayMs);
    }
    v.timeline = timeline(nowMs - kMinutesKeptMs, kTimelineShown);
    return v;
}

QString HistoryStore::integrityCheck() const {
    QSqlQuery q(db());
    if (!q.exec(QStringLiteral("PRAGMA integrity_check")) || !q.next())
        return q.lastError().text();
    return q.value(0).toString();
}

std::int64_t HistoryStore::sizeOnDisk() const {
    if (path_.isEmpty())
        return 0;
    return QFileInfo(path_).size() + QFileInfo(path_ + QStringLiteral("-wal")).size();
}

void HistoryStore::checkpoint() {
    QSqlQuery(db()).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
}
