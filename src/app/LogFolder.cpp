#include "LogFolder.h"

#include "CheckedFolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryFile>

namespace {

// Empty when files can be made in the folder; else why. The folder is made first, private (with
// its parents when asked); one that is a link, another user's or open to others' writing is not
// used, so that nobody else can plant a file or a link where the launcher writes.
QString writeProblem(const QString& folder, bool makeParents) {
    QString why;
    if (!CheckedFolder::Open(folder, makeParents, &why))
        return why;
    QTemporaryFile probe(folder + QStringLiteral("/.write-test-XXXXXX"));
    if (!probe.open())
        return probe.errorString();
    return QString();
}

QString stateFolder() {
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.startsWith(u'/'))
        return state;
    return QDir::homePath() + QStringLiteral("/.local/state");
}

} // namespace

LogFolderChoice ChooseLogFolder(const QString& serverFolder) {
    const QString first = serverFolder + QStringLiteral("/logs");
    const QString problem = writeProblem(first, false);
    if (problem.isEmpty())
        return {first, QStringLiteral("> Logs are written to ") + first};

    const QByteArray hash =
        QCryptographicHash::hash(serverFolder.toUtf8(), QCryptographicHash::Sha256).toHex();
    const QString fallback = stateFolder() + QStringLiteral("/CorvaneLauncher/logs-") +
                             QString::fromLatin1(hash.left(10));
    const QString why = QStringLiteral("> The logs folder cannot be used (") + first +
                        QStringLiteral(": ") + problem + QStringLiteral("); ");
    const QString fallbackProblem = writeProblem(fallback, true);
    if (fallbackProblem.isEmpty())
        return {fallback, why + QStringLiteral("logs are written to ") + fallback};
    return {QString(), why + QStringLiteral("nor can ") + fallback + QStringLiteral(" (") +
                           fallbackProblem + QStringLiteral("); nothing is logged to disk.")};
}
