#pragma once

#include <QDir>
#include <QFile>

// What /proc tells about a process, for checks in tests.
namespace proc {

inline QByteArray Read(int pid, const QString& file) {
    QFile f(QStringLiteral("/proc/%1/").arg(pid) + file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
inline QString Link(int pid, const QString& link) {
    return QFileInfo(QStringLiteral("/proc/%1/").arg(pid) + link).symLinkTarget();
}
inline QString Exe(int pid) {
    return Link(pid, "exe");
}
inline QString Cwd(int pid) {
    return Link(pid, "cwd");
}
// Targets of its descriptors.
inline QStringList Descriptors(int pid) {
    QStringList targets;
    for (const QString& fd : QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::System))
        targets << Link(pid, "fd/" + fd);
    targets.sort();
    return targets;
}
// Each thread's nice value.
inline QList<int> Nices(int pid) {
    QList<int> nices;
    for (const QString& tid : QDir(QStringLiteral("/proc/%1/task").arg(pid))
                                  .entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray stat = Read(pid, "task/" + tid + "/stat");
        nices << stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(16, "99").toInt();
    }
    return nices;
}

} // namespace proc
