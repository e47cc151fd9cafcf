#include "AlertQueue.h"

#include "CheckedFolder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <algorithm>

namespace {

constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;

} // namespace

AlertQueue::AlertQueue(std::unique_ptr<CheckedFolder> folder, QString fileName, int limit)
    : folder_(std::move(folder)), fileName_(std::move(fileName)), limit_(std::max(1, limit)) {}

AlertQueue::~AlertQueue() = default;

QString AlertQueue::load() {
    QMutexLocker lock(&mutex_);
    entries_.clear();
    if (!folder_)
        return {};
    QByteArray data;
    QString why;
    if (!folder_->readAll(fileName_, kMaxFileBytes, &data, &why))
        return why;
    if (data.isEmpty())
        return {};
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (!document.isObject())
        return QStringLiteral("it is no queue of alerts (%1)").arg(error.errorString());
    for (const auto& item : document.object().value(QStringLiteral("alerts")).toArray()) {
        const QJsonObject object = item.toObject();
        const auto alert = Alert::fromJson(object.value(QStringLiteral("alert")).toObject());
        QStringList to;
        for (const auto& name : object.value(QStringLiteral("to")).toArray())
            to << name.toString();
        if (alert && !to.isEmpty())
            entries_.push_back(Entry{*alert, to});
    }
    trim();
    return {};
}

void AlertQueue::setLimit(int limit) {
    QMutexLocker lock(&mutex_);
    limit_ = std::max(1, limit);
    if (trim() > 0)
        save();
}

int AlertQueue::trim() {
    int dropped = 0;
    while (static_cast<int>(entries_.size()) > limit_) {
        entries_.pop_front();
        ++dropped;
    }
    return dropped;
}

int AlertQueue::add(const Alert& alert, const QStringList& endpoints) {
    if (endpoints.isEmpty())
        return 0;
    QMutexLocker lock(&mutex_);
    entries_.push_back(Entry{alert, endpoints});
    const int dropped = trim();
    save();
    return dropped;
}

std::optional<Alert> AlertQueue::next(const QString& endpoint) const {
    QMutexLocker lock(&mutex_);
    for (const Entry& e : entries_)
        if (e.to.contains(endpoint))
            return e.alert;
    return std::nullopt;
}

void AlertQueue::done(const QString& id, const QString& endpoint) {
    QMutexLocker lock(&mutex_);
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [&](const Entry& e) { return e.alert.id == id; });
    if (it == entries_.end() || !it->to.removeOne(endpoint))
        return;
    if (it->to.isEmpty())
        entries_.erase(it);
    save();
}

int AlertQueue::waiting(const QString& endpoint) const {
    QMutexLocker lock(&mutex_);
    return static_cast<int>(std::count_if(entries_.begin(), entries_.end(),
                                          [&](const Entry& e) { return e.to.contains(endpoint); }));
}

bool AlertQueue::empty() const {
    QMutexLocker lock(&mutex_);
    return entries_.empty();
}

void AlertQueue::keepOnly(const QStringList& endpoints) {
    QMutexLocker lock(&mutex_);
    const std::size_t before = entries_.size();
    bool changed = false;
    for (Entry& e : entries_) {
        const qsizetype count = e.to.size();
        e.to.removeIf([&](const QString& name) { return !endpoints.contains(name); });
        changed = changed || e.to.size() != count;
    }
    std::erase_if(entries_, [](const Entry& e) { return e.to.isEmpty(); });
    if (changed || entries_.size() != before)
        save();
}

QString AlertQueue::saveProblem() const {
    QMutexLocker lock(&mutex_);
    return saveProblem_;
}

// Under the lock.
void AlertQueue::save() {
    if (!folder_)
        return;
    QJsonArray alerts;
    for (const Entry& e : entries_) {
        QJsonObject object;
        object.insert(QStringLiteral("alert"), e.alert.toJson());
        object.insert(QStringLiteral("to"), QJsonArray::fromStringList(e.to));
        alerts.append(object);
    }
    QJsonObject document;
    document.insert(QStringLiteral("alerts"), alerts);
    QString why;
    if (!folder_->replace(fileName_, QJsonDocument(document).toJson(QJsonDocument::Compact), &why))
        saveProblem_ = why.isEmpty() ? QStringLiteral("it cannot be written") : why;
    else
        saveProblem_.clear();
}
