#include "ServerFolder.h"

#include "ServerTable.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString absoluteFolder(const QString& folder) {
    QString path = QDir::cleanPath(QDir(folder).absolutePath());
    if (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

bool holdsAllServers(const QString& folder) {
    return !folder.isEmpty() && MissingServerPrograms(folder).isEmpty();
}

bool holdsAnyServer(const QString& folder) {
    return !folder.isEmpty() && MissingServerPrograms(folder).size() < ServerTable::kCount;
}

// The file that a bare program name was found as, the way a shell searches PATH.
QString searchProgram(const QString& name, const QString& searchPath) {
    for (const QString& entry : searchPath.split(u':')) {
        const QFileInfo candidate(QDir(entry.isEmpty() ? QStringLiteral(".") : entry), name);
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.filePath();
    }
    return QString();
}

} // namespace

QString LinkFolder(const QString& invokedAs, const QString& searchPath) {
    if (invokedAs.isEmpty())
        return QString();
    const QString path =
        invokedAs.contains(u'/') ? invokedAs : searchProgram(invokedAs, searchPath);
    if (path.isEmpty() || !QFileInfo(path).isSymLink())
        return QString();
    // The link's own folder, not its target's: the link is what the operator put there.
    return absoluteFolder(QFileInfo(path).path());
}

QStringList MissingServerPrograms(const QString& folder) {
    QStringList missing;
    for (const QString& file : ServerTable::programFiles()) {
        if (!QFileInfo(folder + file).isFile())
            missing << file.mid(1);
    }
    return missing;
}

ServerFolder ResolveServerFolder(const ServerFolderInputs& inputs,
                                 const std::function<QString(const QString&)>& askOperator) {
    if (!inputs.serverDirOption.isEmpty())
        return {absoluteFolder(inputs.serverDirOption), ServerFolderSource::Option};
    const QString link = LinkFolder(inputs.invokedAs, inputs.searchPath);
    if (!link.isEmpty())
        return {link, ServerFolderSource::Link};
    const QString own = absoluteFolder(inputs.programFolder);
    if (holdsAnyServer(own))
        return {own, ServerFolderSource::OwnFolder};
    if (holdsAllServers(inputs.rememberedFolder))
        return {absoluteFolder(inputs.rememberedFolder), ServerFolderSource::Remembered};
    const QString startIn =
        inputs.rememberedFolder.isEmpty() ? QDir::homePath() : inputs.rememberedFolder;
    const QString chosen = askOperator ? askOperator(startIn) : QString();
    if (!chosen.isEmpty())
        return {absoluteFolder(chosen), ServerFolderSource::Chosen};
    return {QString(), ServerFolderSource::Cancelled};
}

QString NoServerFolderMessage(const QString& programFolder) {
    return QStringLiteral("no server folder was chosen, and ") + absoluteFolder(programFolder) +
           QStringLiteral(" holds none of login-server, char-server and map-server; start the "
                          "launcher with --server-dir FOLDER, or through a link in the server "
                          "folder");
}
