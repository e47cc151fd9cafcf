#pragma once

#include "ConsoleProbe.h"

#include <QString>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

// The lines of one console kept from its earlier captures, so that a capture asks tmux only for
// the lines that scrolled into the history since, and for the screen: formatting thousands of
// lines with their colours is what a capture costs tmux.
//
// tmux never changes a line once it is in the history, unless the history is cleared, trimmed at
// its limit, or reflowed by a resize. The kept lines are built upon only while the probe shows
// the same pane, process, size and history limit (and the line limit is the same), a history no
// shorter than the kept part and below the size at which tmux trims it, and while the last kept
// line still reads as it did (the anchor: a history cleared and grown back past the kept part
// between two captures has another line there, unless the console printed the same line again).
// Otherwise the capture is a full one: the last lineLimit lines of the history and the screen.
//
// Line numbers are capture-pane's: 0 is the top of the screen, -1 the last line of the history.
// Lines are captured with -J: a line that ran on past the console's edge comes back whole. So
// the kept part ends only where a line of the history ended before the screen; a last line that
// runs on into the screen is captured again next time.
class ConsoleTail {
public:
    struct Plan {
        bool incremental = false;
        // This line and the one below it, without colours: the first must read as the anchor.
        std::optional<std::int64_t> anchor;
        // The history from this line to -1.
        std::optional<std::int64_t> historyFrom;
        // Lines -1 and 0, without colours: one joined line when -1 runs on into the screen.
        bool wrapProbe = false;
        // The history is captured on through the screen in one piece and nothing is kept: at
        // the size where tmux trims it, no later capture could build on kept lines.
        bool throughScreen = false;
    };

    // With colours, lines are captured with their SGR sequences (-e); each captured piece then
    // starts with an empty SGR sequence, as tmux starts every capture from the plain style.
    explicit ConsoleTail(bool colours) : colours_(colours) {}

    Plan plan(const ConsoleProbe& now, int lineLimit) const;

    // The capture-pane commands of plan for the pane target, in the order merge reads answers.
    std::vector<std::vector<std::string>> commands(const Plan& plan, const std::string& pane) const;

    // The console's text from the answers to commands(plan), taken while the console was as now
    // says: the kept lines, the new ones and the screen, less the blank lines below the last
    // printed one (without colours, only the last lineLimit lines). Keeps what it can for the
    // next capture. nullopt when the anchor no longer reads as kept: everything kept is
    // forgotten, and a full capture is due.
    std::optional<QString> merge(const Plan& plan, const ConsoleProbe& now, int lineLimit,
                                 const std::vector<std::string>& answers);

    void forget();

private:
    struct Piece {
        qsizetype chars = 0;
        qsizetype lines = 0;
    };
    QString decode(const std::string& capture) const;
    void keep(const QString& lines, int lineLimit);

    bool colours_;
    bool valid_ = false;
    ConsoleProbe console_; // where the kept lines come from
    int lineLimit_ = 0;
    std::int64_t keptEnd_ = 0; // the history lines before this one (from the top) are kept
    QString kept_;             // whole lines, each ending in '\n'
    std::deque<Piece> pieces_; // of kept_, oldest first: each starts in the plain style
    qsizetype keptLines_ = 0;
    std::string anchor_; // line keptEnd_ - 1, as the wrap probe read it
};
