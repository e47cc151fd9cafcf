#include "HistoryRecorder.h"

#include "Clock.h"
#include "CrashMonitor.h"
#include "HistoryWriter.h"
#include "InstallationKey.h"
#include "LauncherCore.h"
#include "LauncherKeys.h"

#include <QDir>
#include <QThread>

const QString HistoryRecorder::kWriteSecondsKey =
    QString::fromLatin1(LauncherKeys::kHistoryWriteSeconds.name);

HistoryRecorder::HistoryRecorder(LauncherCore& core, const QString& folder, QObject* parent)
    : HistoryRecorder(core, std::function<QString()>([folder] { return folder; }), parent) {
    open();
}

HistoryRecorder::HistoryRecorder(LauncherCore& core, std::function<QString()> folder,
                                 QObject* parent)
    : QObject(parent), core_(core), folder_(std::move(folder)), thread_(new QThread(this)),
      writer_(new HistoryWriter),
      writeEveryMs_(1000 * core.settings().ReadNumber(LauncherKeys::kHistoryWriteSeconds)) {
    qRegisterMetaType<HistoryView>();
    qRegisterMetaType<QList<HistorySample>>();
    qRegisterMetaType<TimelineEntry>();
    writer_->moveToThread(thread_);
    connect(thread_, &QThread::finished, writer_, &QObject::deleteLater);
    connect(writer_, &HistoryWriter::problem, this,
            [this](const QString& text) { core_.log().note(text); });
    connect(writer_, &HistoryWriter::viewRead, this, &HistoryRecorder::viewRead);
    thread_->setObjectName(QStringLiteral("history"));
    thread_->start();

    connect(&core_.resources(), &ResourceSampler::sampled, this, &HistoryRecorder::takeSample);
    for (int i = 0; i < HistoryView::kServers; ++i) {
        const ServerSupervisor& s = core_.fleet().supervisor(i);
        servers_[i].state = s.state();
        connect(&s, &ServerSupervisor::stateChanged, this, &HistoryRecorder::stateChanged);
    }
    connect(&core_.fleet().monitor(), &CrashMonitor::serverCrashed, this,
            [this](int server, qint64) { crashed(server); });
}

HistoryRecorder::~HistoryRecorder() {
    close();
    thread_->quit();
    thread_->wait();
}

QString HistoryRecorder::KeptFolder(LauncherCore& core) {
    if (core.settings().Read(LauncherKeys::kKeepHistory).trimmed() != QStringLiteral("1"))
        return QString();
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!state.startsWith(u'/'))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/corvane-launcher");
}

// The folder is settled at the first write or read: nothing is made before.
void HistoryRecorder::open() {
    if (!folder_)
        return;
    const QString folder = std::exchange(folder_, {})();
    const QString fileName = FileName(core_.services().serverFolder);
    if (!folder.isEmpty())
        filePath_ = folder + u'/' + fileName;
    QMetaObject::invokeMethod(writer_,
                              [w = writer_, folder, fileName] { w->open(folder, fileName); });
}

bool HistoryRecorder::inMemory() {
    open();
    return filePath_.isEmpty();
}

void HistoryRecorder::close() {
    if (closed_)
        return;
    // What was taken is written before the file closes; never written nor read, nothing is
    // made for it now.
    if (!folder_ || !gathered_.isEmpty())
        handOver(core_.services().clock->EpochMs(), false);
    closed_ = true;
    if (folder_)
        return;
    QMetaObject::invokeMethod(
        writer_, [w = writer_] { w->close(); }, Qt::BlockingQueuedConnection);
}

QString HistoryRecorder::FileName(const QString& serverFolder) {
    return QStringLiteral("history-") + InstallationKey(serverFolder) + QStringLiteral(".sqlite");
}

void HistoryRecorder::takeSample() {
    const std::int64_t now = core_.services().clock->EpochMs();
    QList<HistorySample> rows;
    for (int i = 0; i < HistoryView::kServers; ++i) {
        const ServerResources& r = core_.resources().latest(i);
        if (!r.sampled)
            continue;
        HistorySample s{i,         now,         r.cpuPercent, r.residentBytes,
                        r.threads, r.openFiles, r.uptimeMs,   std::nullopt};
        s.players = playerCount_ ? playerCount_(i) : core_.players().players(i);
        rows << s;
    }
    if (!rows.isEmpty()) {
        gathered_ << rows;
        emit sampled(rows);
    }
    // A clock set back starts the periods afresh.
    const bool compactionDue =
        now >= nextCompactionMs_ || nextCompactionMs_ - now > kCompactEveryMs;
    if (compactionDue)
        nextCompactionMs_ = now + kCompactEveryMs;
    // A sample of no running server ends the batch too: nothing more may come for a long while.
    if (compactionDue || rows.isEmpty() || now >= nextWriteMs_ ||
        nextWriteMs_ - now > writeEveryMs_)
        handOver(now, compactionDue);
}

void HistoryRecorder::handOver(std::int64_t now, bool compactionDue) {
    nextWriteMs_ = now + writeEveryMs_;
    if ((gathered_.isEmpty() && !compactionDue) || closed_)
        return;
    open();
    // One wake of the writer: the samples first, so that the compaction finds them.
    QMetaObject::invokeMethod(
        writer_, [w = writer_, rows = std::exchange(gathered_, {}), now, compactionDue] {
            if (!rows.isEmpty())
                w->addSamples(rows);
            if (compactionDue)
                w->compact(now);
        });
}

void HistoryRecorder::stateChanged(int server, ServerSupervisor::State state) {
    using State = ServerSupervisor::State;
    Followed& f = servers_[server];
    const State before = std::exchange(f.state, state);
    if (state == before)
        return; // its readiness changed, not its state
    const ServerSupervisor& s = core_.fleet().supervisor(server);
    switch (state) {
    case State::Running:
        add(server, f.crashed ? TimelineEntry::Kind::Relaunch : TimelineEntry::Kind::Start);
        f.crashed = false;
        break;
    case State::Stopped:
        f.crashed = false;
        // A stop of servers that were not running stops nothing.
        if (before != State::NotStarted && before != State::StartFailed)
            add(server, TimelineEntry::Kind::Stop);
        break;
    case State::StartFailed:
        add(server, TimelineEntry::Kind::StartFailed, s.lastStartError);
        break;
    default:
        break;
    }
}

void HistoryRecorder::crashed(int server) {
    const ServerSupervisor::CrashAccount& crash = core_.fleet().supervisor(server).lastCrash;
    servers_[server].crashed = true;
    add(server, crash.hung ? TimelineEntry::Kind::ProbeFailed : TimelineEntry::Kind::Crash,
        crash.how, crash.reportFile);
}

void HistoryRecorder::add(int server, TimelineEntry::Kind kind, const QString& how,
                          const QString& report) {
    const TimelineEntry entry{core_.services().clock->EpochMs(), server, kind, how, report};
    handOver(entry.atMs, false); // the writer wakes for the entry: the samples go along
    if (!closed_) {
        open();
        QMetaObject::invokeMethod(writer_, [w = writer_, entry] { w->addEntry(entry); });
    }
    emit entryAdded(entry);
}

void HistoryRecorder::load(QObject* receiver, std::function<void(const HistoryView&)> done) {
    const int request = ++nextRequest_;
    waiting_.insert(request, Waiting{receiver, std::move(done)});
    const std::int64_t now = core_.services().clock->EpochMs();
    handOver(now, false); // the view holds every sample taken so far
    open();
    QMetaObject::invokeMethod(writer_, [w = writer_, request, now] { w->read(request, now); });
}

void HistoryRecorder::viewRead(int request, const HistoryView& view) {
    const Waiting waiting = waiting_.take(request);
    if (waiting.receiver && waiting.done)
        waiting.done(view);
}

void HistoryRecorder::flush() {
    handOver(core_.services().clock->EpochMs(), false);
    QMetaObject::invokeMethod(
        writer_, [] {}, Qt::BlockingQueuedConnection);
}
