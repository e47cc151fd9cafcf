#pragma once

#include "ServerFolder.h"

class LauncherLog;

// Tells in the launcher log, at start-up, which server folder the launcher uses when it is not
// simply its own folder, and names each server program that folder lacks.
void ReportServerFolder(LauncherLog& log, const ServerFolder& serverFolder);
