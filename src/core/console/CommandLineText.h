#pragma once

#include <QString>

// What the operator may type into a server's console from the launcher's command line. A control
// character would reach the console as a key (Ctrl-C ends the server, Ctrl-Z stops it), so none
// is ever sent: the field shows each as its visible picture (␃ for Ctrl-C) instead.
namespace CommandLineText {

// The longest line a console takes, in bytes (a terminal's line holds 4,096 with its Enter).
constexpr int kMaxLineBytes = 4095;

// The text with every control character replaced by its visible picture (U+2400 to U+2421).
QString ShowControlCharacters(const QString& text);
// Whether the text holds a control character, raw or shown as its picture.
bool HasControlCharacters(const QString& text);
// Why the line cannot go to a console, as "the line ..."; empty when it can.
QString Fault(const QString& line);
// The same, for the operator's note: "...: nothing sent"; empty when the line can go.
QString Refusal(const QString& line);

} // namespace CommandLineText
