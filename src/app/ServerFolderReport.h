#pragma once

#include "ServerFolder.h"

class frmMain;

// Tells in the launcher log, at start-up, which server folder the launcher uses when it is not
// simply its own folder, and names each server program that folder lacks.
void ReportServerFolder(frmMain& window, const ServerFolder& serverFolder);
