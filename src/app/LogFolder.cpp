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

// The folder as chosen, set up for the group to read when one is named.
LogFolderChoice withReaders(LogFolderChoice choice, const QString& readers) {
    QString why;
    if (choice.folder.isEmpty() || CheckedFolder::LetGroupRead(choice.folder, readers, &why))
        return readers.isEmpty() || choice.folder.isEmpty()
                   ? choice
                   : LogFolderChoice{choice.folder, choice.note +
                                                        QStringLiteral(", readable by group ") +
                                                        readers};
    choice.note += QStringLiteral("; they stay private: ") + why;
    return choice;
}

} // namespace

LogFolderChoice ChooseLogFolder(const QString& serverFolder, const QString& readers) {
    const QString first = serverFolder + QStringLiteral("/logs");
    const QString problem = writeProblem(first, false);
    if (problem.isEmpty())
        return withReaders({first, QStringLiteral("> Logs are written to ") + first}, readers);

    const QByteArray hash =
        QCryptographicHash::hash(serverFolder.toUtf8(), QCryptographicHash::Sha256).toHex();
    const QString fallback = stateFolder() + QStringLiteral("/CorvaneLauncher/logs-") +
                             QString::fromLatin1(hash.left(10));
    const QString why = QStringLiteral("> The logs folder cannot be used (") + first +
                        QStringLiteral(": ") + problem + QStringLiteral("); ");
    const QString fallbackProblem = writeProblem(fallback, true);
    if (fallbackProblem.isEmpty())
        return withReaders({fallback, why + QStringLiteral("logs are written to ") + fallback},
                           readers);
    return {QString(), why + QStringLiteral("nor can ") + fallback + QStringLiteral(" (") +
                           fallbackProblem + QStringLiteral("); nothing is logged to disk.")};
}
