#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Where the servers are: the folder whose login-server, char-server and map-server the launcher
// starts, and where each runs.
struct ServerFolderInputs {
    QString serverDirOption;  // --server-dir, empty when not given
    QString invokedAs;        // the program path as the launcher was started (argv[0])
    QString searchPath;       // PATH, to find a program started by its bare name
    QString programFolder;    // the folder of the launcher's own program file
    QString rememberedFolder; // the folder chosen in the dialog at an earlier start
};

enum class ServerFolderSource {
    Option,     // --server-dir
    Link,       // the folder of the symlink the launcher was started through
    OwnFolder,  // the launcher's own folder, which holds at least one of the servers
    Remembered, // chosen at an earlier start
    Chosen,     // chosen now, in the dialog
    Cancelled   // the dialog was cancelled: no folder, and the launcher ends
};

struct ServerFolder {
    QString folder; // absolute, without a trailing separator; empty when none was chosen
    ServerFolderSource source = ServerFolderSource::OwnFolder;
};

// Decides the server folder, in this order: --server-dir; the folder of the link the launcher
// was started through; the launcher's own folder when it holds any of the three servers; the
// remembered folder when it holds all three; else the operator is asked (askOperator gets a folder
// to start in and returns the chosen one, empty when cancelled: then there is no folder).
ServerFolder ResolveServerFolder(const ServerFolderInputs& inputs,
                                 const std::function<QString(const QString&)>& askOperator);

// The folder of the symlink through which the program was started, or empty when it was not
// started through one. invokedAs is argv[0]: a path, or a bare name found through searchPath.
QString LinkFolder(const QString& invokedAs, const QString& searchPath);

// Why the launcher ends when no server folder was chosen, with how to give it one.
QString NoServerFolderMessage(const QString& programFolder);

// The server program files (login-server, ...) that the folder lacks.
QStringList MissingServerPrograms(const QString& folder);
