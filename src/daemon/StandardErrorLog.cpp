#include "StandardErrorLog.h"

#include "LauncherLog.h"

#include <cstdio>

namespace {

void Print(const QString& line) {
    // Control characters already show as their pictures: a line is never split or coloured.
    const QByteArray text = line.toUtf8();
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

} // namespace

void CopyLogToStandardError(LauncherLog& log) {
    for (const QString& line : log.lines())
        Print(line);
    QObject::connect(&log, &LauncherLog::lineAdded, &log, &Print);
}
