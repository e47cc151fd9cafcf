#pragma once

#include "ServerFolder.h"

class LauncherLog;

// Tells in the launcher log, at start-up, which server folder the launcher uses when it is not
// simply its own folder, and names each server program that is not there (missing, as the fleet
// knows it: the folder's own file, or the installation's program).
void ReportServerFolder(LauncherLog& log, const ServerFolder& serverFolder,
                        const QStringList& missing);
