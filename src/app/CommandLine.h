#pragma once

#include <QString>
#include <QStringList>

// What the command line asks for. Parsed before any window exists, so that --help, --version and
// a mistyped option answer on the terminal without a display.
struct CommandLine {
    // True when the program has already answered (help, version, an error) and ends now.
    bool exitNow = false;
    int exitCode = 0;
    // What to print before ending: to standard output for help and version, to standard error
    // for an error.
    QString output;
    bool outputIsError = false;
    // --server-dir, as given; empty when not given.
    QString serverDir;
    // --start: the servers are started once the window is up, as its Start button starts them.
    bool start = false;
};

// The program whose command line it is: its name, what --help says of it and of --start, and
// whether it runs without --server-dir.
struct CommandLineProgram {
    const char* name;
    QString description;
    QString startHelp;
    bool serverDirRequired = false;
};

// Parses the arguments after the program name. Qt's own options (-platform, -display, ...) are
// accepted and left to QApplication.
CommandLine ParseCommandLine(const QStringList& arguments, const CommandLineProgram& program);
// The desktop launcher's.
CommandLine ParseCommandLine(const QStringList& arguments);

// Prints what the parse produced to the stream it belongs on.
void PrintCommandLineOutput(const CommandLine& commandLine);

// The same, on main's own arguments.
CommandLine ParseCommandLineArguments(int argc, char* argv[]);
