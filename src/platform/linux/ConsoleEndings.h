#pragma once

#include "../ConsoleEnding.h"
#include "TmuxClient.h"

// The consoles are kept after their process ends (tmux's remain-on-exit), so that the launcher can
// learn how a server ended and read its last lines before it closes the console.

// How the process of the console titled title ended, with its last lines.
ConsoleEnding ExamineConsoleEnding(const TmuxClient& tmux, const QString& title, int lines);

// Closes the console titled title when its process has ended. True when one was closed.
bool CloseEndedConsoleOf(const TmuxClient& tmux, const QString& title);

// "exit status 3" for a process that exited, "killed by signal 9 (SIGKILL)" for one a signal ended.
QString DescribeEnding(const std::string& exitStatus, const std::string& signal);
