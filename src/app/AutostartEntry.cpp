#include "AutostartEntry.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace AutostartEntry {

namespace {

QString autostartFolder() {
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative value is to be ignored, as if it were not set.
    const QString base = !config.isEmpty() && QDir::isAbsolutePath(config)
                             ? config
                             : QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart");
}

bool hasControlCharacter(const QString& text) {
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control)
            return true;
    return false;
}

} // namespace

QString FilePath(const QString& serverFolder) {
    const QByteArray hash =
        QCryptographicHash::hash(serverFolder.toUtf8(), QCryptographicHash::Sha256).toHex();
    return autostartFolder() + QStringLiteral("/org.corvane.CorvaneLauncher-") +
           QString::fromLatin1(hash.left(12)) + QStringLiteral(".desktop");
}

QString ExecArgument(const QString& argument) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quoted = argument.isEmpty();
    for (const QChar c : argument)
        quoted = quoted || reserved.contains(c);
    QString exec;
    for (const QChar c : argument) {
        if (c == u'%')
            exec += QStringLiteral("%%");
        else if (quoted && (c == u'"' || c == u'`' || c == u'$' || c == u'\\'))
            exec += u'\\' + QString(c);
        else
            exec += c;
    }
    if (quoted)
        exec = u'"' + exec + u'"';
    // The Exec value is a string of the key file, whose own escape is the backslash.
    exec.replace(u'\\', QStringLiteral("\\\\"));
    return exec;
}

QString Text(const QString& program, const QString& serverFolder) {
    if (hasControlCharacter(program) || hasControlCharacter(serverFolder))
        return QString();
    // A string of the key file, whose own escape is the backslash.
    const auto keyFileString = [](QString text) {
        return text.replace(u'\\', QStringLiteral("\\\\"));
    };
    const QString name = keyFileString(QFileInfo(serverFolder).fileName());
    // A desktop skips an entry whose TryExec program is gone, so a launcher removed without its
    // entry starts nothing at the next login instead of failing there unseen.
    const QString tryExec = keyFileString(program);
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Corvane Launcher (") +
           name +
           QStringLiteral(")\n"
                          "Comment=Starts the game servers at login\n"
                          "TryExec=") +
           tryExec +
           QStringLiteral("\n"
                          "Exec=") +
           ExecArgument(program) + QStringLiteral(" --server-dir ") + ExecArgument(serverFolder) +
           QStringLiteral(" --start\n"
                          "Icon=org.corvane.CorvaneLauncher\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n");
}

bool Exists(const QString& serverFolder) {
    return QFileInfo::exists(FilePath(serverFolder));
}

bool Write(const QString& program, const QString& serverFolder, QString* error) {
    const QString text = Text(program, serverFolder);
    if (text.isEmpty()) {
        *error = QStringLiteral("the server folder's name holds a line break or another control "
                                "character, which a desktop entry cannot carry");
        return false;
    }
    const QString path = FilePath(serverFolder);
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("cannot make the folder ") + QFileInfo(path).absolutePath();
        return false;
    }
    QSaveFile file(path);
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) || !file.commit()) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

bool Remove(const QString& serverFolder, QString* error) {
    QFile file(FilePath(serverFolder));
    if (!file.exists() || file.remove())
        return true;
    *error = file.fileName() + QStringLiteral(": ") + file.errorString();
    return false;
}

} // namespace AutostartEntry
