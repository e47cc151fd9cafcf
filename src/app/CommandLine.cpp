#include "CommandLine.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <cstdio>

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "0"
#endif

namespace {

constexpr int kUsageError = 2;

// Options QApplication itself understands. They pass through untouched; QApplication takes them.
void acceptQtOptions(QCommandLineParser& parser) {
    const char* const withValue[] = {"platform",      "platformpluginpath",
                                     "platformtheme", "plugin",
                                     "display",       "geometry",
                                     "style",         "stylesheet",
                                     "title",         "qwindowgeometry",
                                     "qwindowicon",   "qwindowtitle",
                                     "session",       "name"};
    for (const char* name : withValue) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

QString usage(const QCommandLineParser& parser, const char* program) {
    // The parser's own text starts with the path the program was started by; the name reads
    // better.
    QString text = parser.helpText();
    const qsizetype end = text.indexOf(u'\n');
    const qsizetype options = text.indexOf(QStringLiteral("[options]"));
    if (end > 0 && options > 0 && options < end)
        text.replace(0, options, QStringLiteral("Usage: %1 ").arg(QLatin1String(program)));
    return text;
}

} // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
    static const CommandLineProgram desktop{
        "corvane-launcher",
        QStringLiteral(
            "Opens a window from which the operator starts the login, char and map servers of a "
            "game-server installation in hidden consoles; it restarts a server that crashes, "
            "shows what each prints and stops them on request.\n\n"
            "The server folder is, in this order: the folder given by --server-dir; the folder "
            "of the link the launcher was started through; the launcher's own folder when it "
            "holds the three servers; the folder chosen once in a folder dialog."),
        QStringLiteral("Starts the servers once the window is up, as its Start button does. When "
                       "a launcher already runs on the folder, its window comes to the front and "
                       "nothing more is started.")};
    return ParseCommandLine(arguments, desktop);
}

CommandLine ParseCommandLine(const QStringList& arguments, const CommandLineProgram& program) {
    const char* const name = program.name;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(program.description);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption serverDir(
        QStringLiteral("server-dir"),
        QStringLiteral("Uses <folder> as the server folder, the one that holds login-server, "
                       "char-server and map-server."),
        QStringLiteral("folder"));
    parser.addOption(serverDir);
    const QCommandLineOption start(QStringLiteral("start"), program.startHelp);
    parser.addOption(start);
    acceptQtOptions(parser);

    CommandLine result;
    QStringList withProgram = arguments;
    withProgram.prepend(QLatin1String(name));
    if (!parser.parse(withProgram)) {
        result.exitNow = true;
        result.exitCode = kUsageError;
        result.outputIsError = true;
        result.output =
            QStringLiteral("%1: %2 (try --help)\n").arg(QLatin1String(name), parser.errorText());
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.exitNow = true;
        result.exitCode = kUsageError;
        result.outputIsError = true;
        result.output = QStringLiteral("%1: unexpected argument '%2' (try --help)\n")
                            .arg(QLatin1String(name), parser.positionalArguments().first());
        return result;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        result.exitNow = true;
        result.output = usage(parser, name);
        return result;
    }
    if (parser.isSet(version)) {
        result.exitNow = true;
        result.output =
            QStringLiteral("%1 %2\n").arg(QLatin1String(name), QLatin1String(CORVANE_VERSION));
        return result;
    }
    result.start = parser.isSet(start);
    if (program.serverDirRequired && !parser.isSet(serverDir)) {
        result.exitNow = true;
        result.exitCode = kUsageError;
        result.outputIsError = true;
        result.output =
            QStringLiteral("%1: --server-dir is required (try --help)\n").arg(QLatin1String(name));
    } else if (parser.isSet(serverDir)) {
        result.serverDir = parser.value(serverDir);
        if (result.serverDir.isEmpty()) {
            result.exitNow = true;
            result.exitCode = kUsageError;
            result.outputIsError = true;
            result.output = QStringLiteral("%1: --server-dir needs a folder (try --help)\n")
                                .arg(QLatin1String(name));
        } else if (!QFileInfo(result.serverDir).isDir()) {
            result.exitNow = true;
            result.exitCode = kUsageError;
            result.outputIsError = true;
            result.output = QStringLiteral("%1: --server-dir: %2 is not a folder\n")
                                .arg(QLatin1String(name), result.serverDir);
        }
    }
    return result;
}

void PrintCommandLineOutput(const CommandLine& commandLine) {
    if (commandLine.output.isEmpty())
        return;
    const QByteArray bytes = commandLine.output.toLocal8Bit();
    std::FILE* stream = commandLine.outputIsError ? stderr : stdout;
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

CommandLine ParseCommandLineArguments(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return ParseCommandLine(arguments);
}
