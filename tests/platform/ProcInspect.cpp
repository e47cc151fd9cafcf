#include "ProcInspect.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace proc {

namespace {

QString Link(const QString& path) {
    return QFileInfo(path).symLinkTarget();
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<QByteArray> NulSeparated(const QByteArray& data) {
    QList<QByteArray> words = data.split('\0');
    if (!words.isEmpty() && words.last().isEmpty())
        words.removeLast();
    return words;
}

} // namespace

QString Exe(int pid) {
    return Link(QStringLiteral("/proc/%1/exe").arg(pid));
}

QString Cwd(int pid) {
    return Link(QStringLiteral("/proc/%1/cwd").arg(pid));
}

QList<QByteArray> Cmdline(int pid) {
    return NulSeparated(ReadAll(QStringLiteral("/proc/%1/cmdline").arg(pid)));
}

QList<QByteArray> Environment(int pid) {
    return NulSeparated(ReadAll(QStringLiteral("/proc/%1/environ").arg(pid)));
}

QList<int> Threads(int pid) {
    QList<int> tids;
    const QStringList names =
        QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names)
        tids << name.toInt();
    return tids;
}

int NiceOfThread(int pid, int tid) {
    const QByteArray stat = ReadAll(QStringLiteral("/proc/%1/task/%2/stat").arg(pid).arg(tid));
    const int close = stat.lastIndexOf(')');
    if (close < 0)
        return 99;
    // Fields after the name start with the state (field 3); nice is field 19.
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return fields.size() > 16 ? fields[16].toInt() : 99;
}

QList<QString> OpenFileTargets(int pid) {
    QList<QString> targets;
    const QString folder = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString& fd : QDir(folder).entryList(QDir::System | QDir::NoDotAndDotDot))
        targets << Link(folder + u'/' + fd);
    return targets;
}

quint64 SignalMask(int pid, const char* field) {
    const QByteArray status = ReadAll(QStringLiteral("/proc/%1/status").arg(pid));
    const QByteArray key = QByteArray("\n") + field + ":\t";
    const qsizetype at = status.indexOf(key);
    if (at < 0)
        return ~0ULL;
    const qsizetype from = at + key.size();
    return status.mid(from, status.indexOf('\n', from) - from).toULongLong(nullptr, 16);
}

bool CanRaisePriority() {
    const pid_t child = fork();
    if (child == 0)
        _exit(setpriority(PRIO_PROCESS, 0, -1) == 0 ? 0 : 1);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace proc
