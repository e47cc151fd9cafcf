#pragma once

class LauncherLog;

// Every line of the launcher log, from the ones already logged on, also goes to standard error:
// one line each, as journald keeps them under systemd.
void CopyLogToStandardError(LauncherLog& log);
