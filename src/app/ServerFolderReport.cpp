#include "ServerFolderReport.h"

#include "LauncherLog.h"

namespace {

QString howChosen(ServerFolderSource source) {
    switch (source) {
    case ServerFolderSource::Option:
        return QStringLiteral("given by --server-dir");
    case ServerFolderSource::Link:
        return QStringLiteral("the folder of the link the launcher was started through");
    case ServerFolderSource::Remembered:
        return QStringLiteral("chosen at an earlier start");
    case ServerFolderSource::Chosen:
        return QStringLiteral("chosen now");
    case ServerFolderSource::OwnFolder:
    case ServerFolderSource::Cancelled:
        break;
    }
    return QString();
}

} // namespace

void ReportServerFolder(LauncherLog& log, const ServerFolder& serverFolder,
                        const QStringList& missing) {
    const QString how = howChosen(serverFolder.source);
    if (!how.isEmpty())
        log.note(QStringLiteral("Server folder: ") + serverFolder.folder + QStringLiteral(" (") +
                 how + QStringLiteral(")"));
    for (const QString& program : missing)
        log.note(program.startsWith(u'/')
                     ? QStringLiteral("The program ") + program +
                           QStringLiteral(" is not there; Start Servers will stop there.")
                     : QStringLiteral("The server folder ") + serverFolder.folder +
                           QStringLiteral(" has no ") + program +
                           QStringLiteral("; Start Servers will stop there."));
}
