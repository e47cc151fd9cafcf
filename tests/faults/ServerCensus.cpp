#include "ServerCensus.h"

#include "ProcInspect.h"

#include <QDir>

namespace census {

namespace {

const QString kDeleted = QStringLiteral(" (deleted)");

// The program of every process that can be read, without the marker of a deleted file.
QList<QPair<int, QString>> Programs() {
    QList<QPair<int, QString>> programs;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool isPid = false;
        const int pid = entry.toInt(&isPid);
        if (!isPid)
            continue;
        QString exe = proc::Exe(pid);
        if (exe.endsWith(kDeleted))
            exe.chop(kDeleted.size());
        if (!exe.isEmpty())
            programs.append({pid, exe});
    }
    return programs;
}

} // namespace

QList<int> RunningFrom(const QString& path) {
    QList<int> pids;
    for (const auto& [pid, exe] : Programs())
        if (exe == path)
            pids << pid;
    return pids;
}

QList<int> RunningIn(const QString& folder) {
    QList<int> pids;
    for (const auto& [pid, exe] : Programs())
        if (exe.startsWith(folder + QLatin1Char('/')))
            pids << pid;
    return pids;
}

QString StrangersOutside(const QString& folder) {
    QString found;
    for (const auto& [pid, exe] : Programs()) {
        const QString name = exe.section(QLatin1Char('/'), -1);
        if ((name == QLatin1String("login-server") || name == QLatin1String("char-server") ||
             name == QLatin1String("map-server")) &&
            !exe.startsWith(folder + QLatin1Char('/')))
            found += QString::number(pid) + QLatin1Char(' ') + exe + QLatin1Char('\n');
    }
    return found.isEmpty() ? QStringLiteral("none") : found;
}

} // namespace census
