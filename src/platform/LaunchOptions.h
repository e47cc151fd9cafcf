#pragma once

#include <QString>
#include <QStringList>

// How a server program is started, beyond its path: the words after it, variables over the
// launcher's environment ("NAME=value"), and the folder it runs in (empty: the program's own).
struct LaunchOptions {
    QStringList arguments;
    QStringList environment;
    QString workingFolder;
};
