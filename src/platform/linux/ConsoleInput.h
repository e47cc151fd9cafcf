#pragma once

#include "TmuxClient.h"

#include <QString>
#include <QStringList>

// Types line into the console titled title, then Enter, as keys pressed at the console: tmux
// reads none of it as a key name or a command of its own. True when tmux took the keys.
bool TypeConsoleLine(const TmuxClient& tmux, const QString& title, const QString& line);

// Types each of lines as TypeConsoleLine does, all in one round trip to tmux, so that nothing
// else reaches the console between them. How many lines tmux took, counted from the first.
qsizetype TypeConsoleLines(const TmuxClient& tmux, const QString& title, const QStringList& lines);
