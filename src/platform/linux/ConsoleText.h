#pragma once

#include <QString>
#include <string_view>

// Where a capture pieced together from several starts a piece: the empty SGR sequence, which
// sets the plain style again (tmux starts every capture in it) and which tmux itself never
// writes.
inline constexpr char kPieceStart[] = "\x1b[m";

// The text of a console as tmux prints it, made ready for the message pane: decoded, with the
// blank lines below the last printed line (the unused rest of the screen) dropped, and only its
// last maxLines lines.
QString ConsoleTextFromCapture(std::string_view capture, int maxLines = 0);

// The same for text pieced together from captures: a piece start counts as blank.
QString ConsoleTextFromPieces(const QString& text, int maxLines = 0);
