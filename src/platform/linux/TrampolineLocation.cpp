#include "TrampolineLocation.h"

#include <QDir>
#include <QFileInfo>

#ifndef CORVANE_TRAMPOLINE_FROM_BINDIR
#define CORVANE_TRAMPOLINE_FROM_BINDIR "../libexec/corvane-launcher"
#endif

QString LocateTrampoline(const QString& programFolder) {
    const QString beside = programFolder + QStringLiteral("/corvane-exec");
    if (QFileInfo(beside).isExecutable())
        return beside;
    const QString installed =
        QDir::cleanPath(programFolder + QStringLiteral("/" CORVANE_TRAMPOLINE_FROM_BINDIR) +
                        QStringLiteral("/corvane-exec"));
    if (QFileInfo(installed).isExecutable())
        return installed;
    // Neither: a launch then fails, and says it could not run this path.
    return beside;
}
