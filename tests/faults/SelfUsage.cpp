#include "SelfUsage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#if defined(__SANITIZE_ADDRESS__)
#include <cstddef>
// From the sanitizer runtime (its header is not always installed).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace self {

QStringList DescriptorTargets() {
    QStringList targets;
    const QString folder = QStringLiteral("/proc/self/fd");
    for (const QString& fd : QDir(folder).entryList(QDir::Files | QDir::System))
        targets << QFileInfo(folder + QLatin1Char('/') + fd).symLinkTarget();
    targets.sort();
    return targets;
}

int OpenDescriptors() {
    return static_cast<int>(DescriptorTargets().size());
}

int Pidfds() {
    return static_cast<int>(DescriptorTargets().filter(QStringLiteral("[pidfd]")).size());
}

std::int64_t ResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

std::int64_t HeapOrResidentBytes() {
#if defined(__SANITIZE_ADDRESS__)
    return static_cast<std::int64_t>(__sanitizer_get_current_allocated_bytes());
#else
    return ResidentKb() * 1024;
#endif
}

} // namespace self
