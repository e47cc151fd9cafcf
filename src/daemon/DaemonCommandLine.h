#pragma once

#include <QString>
#include <QStringList>

// What corvane-launcherd was asked on its command line.
struct DaemonCommandLine {
    QString serverDir;  // --server-dir FOLDER
    bool start = false; // --start: the servers are started once the launcher is up
    bool exitNow = false;
    int exitCode = 0;
    QString output; // for exitNow: what to print (help or version on stdout, an error on stderr)
};

// arguments without the program's own name.
DaemonCommandLine ParseDaemonCommandLine(const QStringList& arguments);
