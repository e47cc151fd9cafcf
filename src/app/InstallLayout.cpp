#include "InstallLayout.h"

#include <QDir>
#include <QFileInfo>

#ifndef CORVANE_DATA_FROM_BINDIR
#define CORVANE_DATA_FROM_BINDIR "../share/corvane-launcher"
#endif

QString FindStatusIconFolder(const QString& programFolder) {
    const QString beside = programFolder + QStringLiteral("/launcherdata");
    if (QFileInfo(beside).isDir())
        return beside;
    const QString installed =
        QDir::cleanPath(programFolder + QStringLiteral("/") +
                        QStringLiteral(CORVANE_DATA_FROM_BINDIR) + QStringLiteral("/launcherdata"));
    if (QFileInfo(installed).isDir())
        return installed;
    // Neither: the pictures' absence is named in the log with the place they were expected.
    return beside;
}
