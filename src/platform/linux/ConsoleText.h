#pragma once

#include <QString>
#include <string_view>

// The text of a console as tmux prints it, made ready for the message pane: decoded, with the
// blank lines below the last printed line (the unused rest of the screen) dropped, and only its
// last maxLines lines.
QString ConsoleTextFromCapture(std::string_view capture, int maxLines = 0);
