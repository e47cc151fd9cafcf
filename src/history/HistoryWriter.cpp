#include "HistoryWriter.h"

#include "HistoryStore.h"

HistoryWriter::HistoryWriter() = default;

HistoryWriter::~HistoryWriter() = default;

void HistoryWriter::open(const QString& folder, const QString& fileName) {
    QString why;
    store_ = HistoryStore::Open(folder, fileName, &why);
    if (store_ || folder.isEmpty())
        return;
    emit problem(QStringLiteral("The history is kept in memory only: ") + folder + u'/' + fileName +
                 QStringLiteral(" cannot be used (") + why + QStringLiteral(")."));
    store_ = HistoryStore::Open(QString(), fileName, &why);
}

void HistoryWriter::close() {
    if (store_)
        store_->checkpoint(); // the file alone then holds everything
    store_.reset();
}

void HistoryWriter::addSamples(const QList<HistorySample>& samples) {
    if (!store_)
        return;
    if (store_->addSamples(samples))
        lastProblem_.clear();
    else
        writeFailed();
}

void HistoryWriter::addEntry(const TimelineEntry& entry) {
    if (store_ && !store_->addEntry(entry))
        writeFailed();
}

// Told once until the writes succeed again, not at every sample.
void HistoryWriter::writeFailed() {
    const QString text = QStringLiteral("The history cannot be written (") + store_->lastError() +
                         QStringLiteral(").");
    if (text != lastProblem_)
        emit problem(text);
    lastProblem_ = text;
}

void HistoryWriter::compact(std::int64_t nowMs) {
    if (!store_)
        return;
    if (store_->compact(nowMs).more)
        QMetaObject::invokeMethod(
            this, [this, nowMs] { compact(nowMs); }, Qt::QueuedConnection);
}

void HistoryWriter::read(int request, std::int64_t nowMs) {
    emit viewRead(request, store_ ? store_->view(nowMs) : HistoryView());
}
