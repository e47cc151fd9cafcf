#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringView>

// A pattern that is matched against what servers print: console text is the servers' own and may
// be anything, so each line is cut to kMaxLineChars before it is matched, and a match gives up
// (as no match) after kMatchSteps steps of the matcher, however the pattern backtracks. A line of
// the longest kind then costs some tens of microseconds at worst.
namespace ConsolePattern {

constexpr qsizetype kMaxLineChars = 256;
constexpr int kMatchSteps = 5000;

// The pattern, with the matcher's limit; invalid as the pattern is.
QRegularExpression Compile(const QString& pattern);
// The match of the line's first kMaxLineChars characters.
QRegularExpressionMatch Match(const QRegularExpression& pattern, QStringView line);

} // namespace ConsolePattern
