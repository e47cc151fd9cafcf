#pragma once

#include <QString>

// Where the text shown before and the fresh text overlap: a line start in shown from which the
// rest of shown begins fresh, so that the pane can drop the lines before it and append what
// follows instead of laying everything out again. -1 when no such place is found cheaply.
qsizetype OverlapStart(const QString& shown, const QString& fresh);
