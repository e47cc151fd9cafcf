#pragma once

#include <QString>
#include <QStringList>

// A paste for a server's console, split at its line breaks and judged line by line before any of
// it is sent. Each line is judged as a typed line is (CommandLineText::Refusal): when one of them
// cannot go, none goes. Empty lines are left out, as an empty typed line sends nothing; so a
// copied block's last line break adds no line of its own.
class PastedLines {
public:
    // The most lines one paste may send.
    static constexpr int kMaxLines = 100;

    explicit PastedLines(const QString& text);

    // The lines that would go, in order: none of them empty, none with a line break.
    const QStringList& lines() const { return lines_; }
    // How many empty lines the paste held, left out.
    int emptyLines() const { return emptyLines_; }
    // Whether the paste held a line break (\n, \r\n or \r) at all.
    bool hadLineBreak() const { return hadLineBreak_; }
    // Whether the operator must be asked first: the paste holds more than one line to send.
    bool needsConfirmation() const { return lines_.size() > 1; }

    // Why none of the lines can go; empty when all of them can.
    QString refusal() const { return refusal_; }

    // The question put to the operator: "Send 3 lines to the Map Server console?".
    QString question(const QString& serverName) const;
    // The lines as the operator checks them before they go: numbered, control characters shown as
    // their pictures, a line longer than a console takes cut with a mark, at most kMaxLines lines.
    QString preview() const;

private:
    QStringList lines_;
    int emptyLines_ = 0;
    bool hadLineBreak_ = false;
    QString refusal_;
};
