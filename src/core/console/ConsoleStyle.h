#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <vector>

// How a console draws a stretch of its text, as its server set it with SGR escape sequences.
struct ConsoleColour {
    enum Kind : std::uint8_t { Default, Indexed, Rgb };
    Kind kind = Default;
    std::uint32_t value = 0; // palette index 0..255, or 0xRRGGBB
    friend bool operator==(const ConsoleColour&, const ConsoleColour&) = default;
};

struct ConsoleStyle {
    ConsoleColour foreground, background;
    bool bold = false;
    bool underline = false;
    bool isPlain() const { return *this == ConsoleStyle{}; }
    friend bool operator==(const ConsoleStyle&, const ConsoleStyle&) = default;
};

// A stretch of text in one style that is not the plain one.
struct StyleRun {
    qsizetype start = 0;
    qsizetype length = 0;
    ConsoleStyle style;
    friend bool operator==(const StyleRun&, const StyleRun&) = default;
};

// Text for the message pane and the styled stretches of it, in order and never overlapping.
struct StyledText {
    QString text;
    std::vector<StyleRun> runs;
};

// Changes style as the SGR sequence with these parameters ("1;31", "38;5;208") asks. Parameters
// it does not know, or colours out of range, change nothing.
void ApplySgr(QStringView parameters, ConsoleStyle& style);

// What the message pane shows of a console whose text carries escape sequences: its last maxLines
// lines, each cut after maxLineChars characters (a cut line says how much it lost), with the
// colours and bold or underline of the SGR sequences as runs and every escape sequence, control
// character and line break of the pane's own taken out of the text. A line keeps the style that
// earlier lines left, also when those lines are not shown. At most maxRuns runs are kept: the
// newest ones, so that text with a colour change on every character costs a bounded amount.
StyledText StyledPaneText(QStringView console, int maxLines, int maxLineChars, int maxRuns);

// The runs of runs that fall within [from, to), clipped to it and moved by -from.
std::vector<StyleRun> RunsWithin(const std::vector<StyleRun>& runs, qsizetype from, qsizetype to);
