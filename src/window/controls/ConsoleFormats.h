#pragma once

#include "ConsoleStyle.h"

#include <QColor>
#include <QTextCharFormat>
#include <vector>

class QTextDocument;

// The colour that a console colour stands for, on a dark or a light background: the sixteen basic
// colours are toned for the background so that each stays readable, the others are as given.
QColor ConsoleColourValue(const ConsoleColour& colour, bool darkBackground);

// The character format for text in that style; the plain style gives the empty format.
QTextCharFormat ConsoleFormat(const ConsoleStyle& style, bool darkBackground);

// Gives the document's text from position offset on the formats of runs (their starts counted
// from offset), as one edit.
void ApplyConsoleRuns(QTextDocument* document, qsizetype offset, const std::vector<StyleRun>& runs,
                      bool darkBackground);
