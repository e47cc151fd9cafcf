#include "WebAudit.h"

#include "RotatingLogFile.h"

#include <QJsonObject>

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
