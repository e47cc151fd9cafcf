#pragma once

#include "TmuxClient.h"

#include <QString>

// Types line into the console titled title, then Enter, as keys pressed at the console: tmux
// reads none of it as a key name or a command of its own. True when tmux took the keys.
bool TypeConsoleLine(const TmuxClient& tmux, const QString& title, const QString& line);
