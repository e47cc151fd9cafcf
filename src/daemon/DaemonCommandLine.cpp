#include "DaemonCommandLine.h"

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "0"
#endif

namespace {

const QString kUsage = QStringLiteral(
    "Usage: corvane-launcherd --server-dir FOLDER [--start]\n"
    "Runs the launcher of the servers in FOLDER without a desktop: it starts them in order,\n"
    "relaunches any that crashed and stops them safely on SIGTERM or SIGINT.\n"
    "  --server-dir FOLDER  the folder of the login, char and map servers (required)\n"
    "  --start              start the servers once the launcher is up\n"
    "  --help               this text\n"
    "  --version            the launcher's version\n");

DaemonCommandLine Fail(const QString& why) {
    DaemonCommandLine line;
    line.exitNow = true;
    line.exitCode = 2;
    line.output = QStringLiteral("corvane-launcherd: ") + why + QStringLiteral("\n") + kUsage;
    return line;
}

} // namespace

DaemonCommandLine ParseDaemonCommandLine(const QStringList& arguments) {
    DaemonCommandLine line;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            line.exitNow = true;
            line.output = kUsage;
            return line;
        }
        if (argument == QLatin1String("--version")) {
            line.exitNow = true;
            line.output = QStringLiteral("corvane-launcherd " CORVANE_VERSION "\n");
            return line;
        }
        if (argument == QLatin1String("--start")) {
            line.start = true;
        } else if (argument == QLatin1String("--server-dir") ||
                   argument.startsWith(QLatin1String("--server-dir="))) {
            const bool inline_ = argument.contains(u'=');
            if (!inline_ && i + 1 >= arguments.size())
                return Fail(QStringLiteral("--server-dir needs a folder"));
            const QString folder = inline_ ? argument.section(u'=', 1) : arguments[++i];
            if (folder.isEmpty())
                return Fail(QStringLiteral("--server-dir needs a folder"));
            if (!line.serverDir.isEmpty())
                return Fail(QStringLiteral("--server-dir is given twice"));
            line.serverDir = folder;
        } else {
            return Fail(QStringLiteral("unknown argument: ") + argument);
        }
    }
    if (line.serverDir.isEmpty())
        return Fail(QStringLiteral("--server-dir is required"));
    return line;
}
