#pragma once

#include <QString>

// What the message pane shows of a console, bounded whatever a server prints: the last maxLines
// lines, each cut after maxLineChars characters (a cut line says how much it lost), and no
// character the pane would read as a line break of its own.
QString BoundedPaneText(const QString& console, int maxLines, int maxLineChars);

// Where the text shown before and the fresh text overlap: a line start in shown from which the
// rest of shown begins fresh, so that the pane can drop the lines before it and append what
// follows instead of laying everything out again. -1 when no such place is found cheaply.
qsizetype OverlapStart(const QString& shown, const QString& fresh);
