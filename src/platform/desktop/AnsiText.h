#pragma once

#include <QByteArray>
#include <QString>

// Text in the ANSI code page of the desktop's records: one byte per character, Latin-1; a
// character outside it becomes '?'.
QByteArray ToAnsi(const QString& text);

// The text of a NUL-ended ANSI field of at most size bytes.
QString FromAnsi(const char* field, qsizetype size);
