#include "WebAudit.h"

#include "CommandLineText.h"
#include "RotatingLogFile.h"

#include <QDateTime>
#include <QJsonObject>

namespace {

QString Shown(const QString& text) {
    return CommandLineText::ShowControlCharacters(text);
}

} // namespace

QString AuditEntry::line() const {
    return QStringLiteral("%1 %2 %3 from %4: %5 -> %6")
        .arg(QDateTime::fromMSecsSinceEpoch(epochMs, Qt::UTC).toString(Qt::ISODate), surface,
             Shown(who), Shown(from), Shown(what), Shown(outcome));
}

WebAudit::WebAudit(const QString& logsFolder, qint64 maxBytes, int kept) {
    if (!logsFolder.isEmpty())
        file_ = std::make_unique<RotatingLogFile>(logsFolder + QStringLiteral("/audit.log"),
                                                  maxBytes, kept);
}

WebAudit::~WebAudit() = default;

void WebAudit::record(AuditEntry entry) {
    if (file_ && !file_->appendLine(entry.line(), &fileProblem_))
        fileProblem_ = fileProblem_.isEmpty() ? QStringLiteral("not written") : fileProblem_;
    else
        fileProblem_.clear();
    entries_.append(std::move(entry));
    if (entries_.size() > kKeptInMemory)
        entries_.remove(0, entries_.size() - kKeptInMemory);
}

QJsonArray WebAudit::newest(int count) const {
    QJsonArray out;
    for (qsizetype i = qMax<qsizetype>(0, entries_.size() - count); i < entries_.size(); ++i) {
        const AuditEntry& e = entries_[i];
        out.append(QJsonObject{{QStringLiteral("time"), e.epochMs},
                               {QStringLiteral("surface"), e.surface},
                               {QStringLiteral("who"), e.who},
                               {QStringLiteral("from"), e.from},
                               {QStringLiteral("what"), e.what},
                               {QStringLiteral("outcome"), e.outcome}});
    }
    return out;
}
