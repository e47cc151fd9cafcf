#include "ActionAudit.h"

#include "Clock.h"
#include "CommandLineText.h"

#include <QDateTime>

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

ActionAudit::ActionAudit(Clock& clock, QObject* parent) : QObject(parent), clock_(clock) {}

void ActionAudit::record(AuditEntry entry) {
    if (entry.epochMs == 0)
        entry.epochMs = clock_.EpochMs();
    emit recorded(entry);
}

void ActionAudit::record(const QString& surface, const QString& who, const QString& from,
                         const QString& what, const QString& outcome) {
    record(AuditEntry{0, surface, who, from, what, outcome});
}

void ActionAudit::recordLocal(const QString& surface, const QString& what, const QString& outcome) {
    const QString user = qEnvironmentVariable("USER");
    record(surface, user.isEmpty() ? QStringLiteral("-") : user, QStringLiteral("this desktop"),
           what, outcome);
}
