#include "ServerResources.h"

QString ServerResources::describe() const {
    if (!sampled)
        return QString();
    return QStringLiteral("CPU %1 %, %2 MB, %3 threads, %4 files")
        .arg(cpuPercent, 0, 'f', 1)
        .arg(residentBytes / (1024 * 1024))
        .arg(threads)
        .arg(openFiles);
}
