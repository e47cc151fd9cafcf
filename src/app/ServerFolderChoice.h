#pragma once

#include "ServerFolder.h"

#include <QString>

struct CommandLine;
class SettingsStore;
class SingleInstance;

// The server folder of this start, from the command line, the way the program was started, its
// own folder and the settings; asks the operator in a folder dialog when none of these holds the
// servers, and remembers the choice.
ServerFolder ChooseServerFolder(const CommandLine& commandLine, SettingsStore& settings);

// The folder dialog of that choice: the folder chosen, or empty on Cancel. It writes nothing, not
// even the dialog's own memory of where it was.
QString AskForServerFolder(const QString& startIn);

// Makes this launcher the one for its server folder, or hands over to the launcher that already
// is. Returns the exit code to end with, or -1 to go on.
int ClaimServerFolder(SingleInstance& instance, const ServerFolder& serverFolder);
