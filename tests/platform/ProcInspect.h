#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What /proc tells about a process, for checks in tests.
namespace proc {

QString Exe(int pid);                           // target of the executable link
QString Cwd(int pid);                           // target of the working folder link
QList<QByteArray> Cmdline(int pid);             // argument words
QList<QByteArray> Environment(int pid);         // "NAME=value" entries
QList<int> Threads(int pid);                    // thread ids
int NiceOfThread(int pid, int tid);             // nice value; 99 when unreadable
QList<QString> OpenFileTargets(int pid);        // targets of its descriptors
quint64 SignalMask(int pid, const char* field); // e.g. "SigIgn": bit n-1 for signal n
bool CanRaisePriority();                        // whether this process may lower nice values

} // namespace proc
