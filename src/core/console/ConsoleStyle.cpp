#include "ConsoleStyle.h"

#include <algorithm>

namespace {

constexpr char16_t kEsc = 0x1b;
constexpr char16_t kBel = 0x07;
constexpr int kNumberCap = 100000; // more digits than any colour needs, and no overflow

// The parameters of one SGR sequence, as numbers; an empty one counts as 0.
std::vector<int> SgrNumbers(QStringView parameters) {
    std::vector<int> numbers{0};
    for (const QChar c : parameters) {
        if (c == u';' || c == u':')
            numbers.push_back(0);
        else if (c.isDigit())
            numbers.back() = std::min(numbers.back() * 10 + (c.unicode() - u'0'), kNumberCap);
    }
    return numbers;
}

// An extended colour (38 or 48) from its parameters at at: "5;n" or "2;r;g;b". The index of the
// next parameter; colour is left alone when the parameters are short or out of range.
std::size_t ExtendedColour(const std::vector<int>& n, std::size_t at, ConsoleColour& colour) {
    if (at < n.size() && n[at] == 5) {
        if (at + 1 < n.size() && n[at + 1] <= 255)
            colour = {ConsoleColour::Indexed, static_cast<std::uint32_t>(n[at + 1])};
        return at + 2;
    }
    if (at < n.size() && n[at] == 2) {
        if (at + 3 < n.size() && n[at + 1] <= 255 && n[at + 2] <= 255 && n[at + 3] <= 255)
            colour = {ConsoleColour::Rgb,
                      static_cast<std::uint32_t>((n[at + 1] << 16) | (n[at + 2] << 8) | n[at + 3])};
        return at + 4;
    }
    return n.size(); // the rest cannot be read
}

enum class Sequence { None, Sgr, Other };

// The escape sequence that starts at at (an ESC): where it ends, and whether it is an SGR one
// (whose parameters are then in sgr). A sequence cut short by a line end or another ESC ends
// there; a lone ESC is a sequence of one character.
qsizetype SequenceEnd(QStringView c, qsizetype at, Sequence& kind, QStringView& sgr) {
    kind = Sequence::Other;
    qsizetype i = at + 1;
    if (i >= c.size())
        return i;
    const char16_t introducer = c[i].unicode();
    if (introducer == u'[') {
        qsizetype j = i + 1;
        bool numbersOnly = true;
        for (; j < c.size() && c[j].unicode() >= 0x20 && c[j].unicode() <= 0x3f; ++j)
            numbersOnly = numbersOnly && (c[j].isDigit() || c[j] == u';' || c[j] == u':');
        if (j < c.size() && c[j].unicode() >= 0x40 && c[j].unicode() <= 0x7e) {
            if (c[j] == u'm' && numbersOnly) {
                kind = Sequence::Sgr;
                sgr = c.mid(i + 1, j - i - 1);
            }
            return j + 1;
        }
        return j;
    }
    if (introducer == u']' || introducer == u'P' || introducer == u'_' || introducer == u'^' ||
        introducer == u'X') {
        // A string, ended by BEL or ESC '\'.
        for (qsizetype j = i + 1; j < c.size(); ++j) {
            const char16_t u = c[j].unicode();
            if (u == kBel)
                return j + 1;
            if (u == kEsc)
                return j + 1 < c.size() && c[j + 1] == u'\\' ? j + 2 : j;
            if (u == u'\n')
                return j;
        }
        return c.size();
    }
    while (i < c.size() && c[i].unicode() >= 0x20 && c[i].unicode() <= 0x2f)
        ++i; // intermediates, as in ESC ( B
    if (i < c.size() && c[i].unicode() >= 0x30 && c[i].unicode() <= 0x7e)
        ++i;
    return i;
}

// Characters that are taken out of the text, besides escape sequences.
bool IsDropped(char16_t u) {
    return (u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r') || u == 0x7f ||
           (u >= 0x80 && u <= 0x9f);
}

// Characters the pane would take for a line break of its own; they become spaces.
bool IsForeignBreak(char16_t u) {
    return u == u'\r' || u == 0x2028 || u == 0x2029;
}

class Builder {
public:
    Builder(StyledText& out, int maxLineChars, int maxRuns)
        : out_(out), maxLineChars_(maxLineChars), maxRuns_(static_cast<std::size_t>(maxRuns)) {}

    void text(QStringView piece, const ConsoleStyle& style) {
        const qsizetype room = std::max<qsizetype>(0, maxLineChars_ - lineChars_);
        const qsizetype kept = std::min(room, piece.size());
        lost_ += piece.size() - kept;
        lineChars_ += piece.size();
        if (kept == 0)
            return;
        const qsizetype start = out_.text.size();
        out_.text += piece.left(kept);
        if (style.isPlain())
            return;
        std::vector<StyleRun>& runs = out_.runs;
        if (!runs.empty() && runs.back().style == style &&
            runs.back().start + runs.back().length == start) {
            runs.back().length += kept;
            return;
        }
        runs.push_back({start, kept, style});
        if (runs.size() >= 2 * maxRuns_ && maxRuns_ > 0)
            runs.erase(runs.begin(), runs.end() - static_cast<qsizetype>(maxRuns_));
    }
    void lineEnd(bool last) {
        if (lost_ > 0)
            out_.text += QStringLiteral(" [… %1 more characters]").arg(lost_);
        if (!last)
            out_.text += u'\n';
        lineChars_ = lost_ = 0;
    }
    void finish() {
        std::vector<StyleRun>& runs = out_.runs;
        if (runs.size() > maxRuns_)
            runs.erase(runs.begin(), runs.end() - static_cast<qsizetype>(maxRuns_));
    }

private:
    StyledText& out_;
    qsizetype maxLineChars_;
    std::size_t maxRuns_;
    qsizetype lineChars_ = 0;
    qsizetype lost_ = 0;
};

} // namespace

void ApplySgr(QStringView parameters, ConsoleStyle& style) {
    const std::vector<int> n = SgrNumbers(parameters);
    for (std::size_t i = 0; i < n.size();) {
        const int code = n[i++];
        if (code == 0)
            style = ConsoleStyle{};
        else if (code == 1)
            style.bold = true;
        else if (code == 22)
            style.bold = false;
        else if (code == 4 || code == 21)
            style.underline = true;
        else if (code == 24)
            style.underline = false;
        else if (code >= 30 && code <= 37)
            style.foreground = {ConsoleColour::Indexed, static_cast<std::uint32_t>(code - 30)};
        else if (code >= 90 && code <= 97)
            style.foreground = {ConsoleColour::Indexed, static_cast<std::uint32_t>(code - 82)};
        else if (code >= 40 && code <= 47)
            style.background = {ConsoleColour::Indexed, static_cast<std::uint32_t>(code - 40)};
        else if (code >= 100 && code <= 107)
            style.background = {ConsoleColour::Indexed, static_cast<std::uint32_t>(code - 92)};
        else if (code == 39)
            style.foreground = {};
        else if (code == 49)
            style.background = {};
        else if (code == 38)
            i = ExtendedColour(n, i, style.foreground);
        else if (code == 48)
            i = ExtendedColour(n, i, style.background);
    }
}

StyledText StyledPaneText(QStringView c, int maxLines, int maxLineChars, int maxRuns) {
    qsizetype start = c.size();
    for (int lines = 0; lines < maxLines && start > 0; ++lines) {
        const qsizetype nl = c.lastIndexOf(u'\n', start - 1);
        start = nl < 0 ? 0 : nl;
    }
    if (start > 0)
        ++start; // just past the line break before the first line kept

    // The lines not shown still set the style in which the first shown one begins.
    ConsoleStyle style;
    Sequence kind = Sequence::None;
    QStringView sgr;
    for (qsizetype i = c.left(start).indexOf(QChar(kEsc)); i >= 0 && i < start;
         i = c.left(start).indexOf(QChar(kEsc), i)) {
        i = SequenceEnd(c, i, kind, sgr);
        if (kind == Sequence::Sgr)
            ApplySgr(sgr, style);
    }

    StyledText out;
    out.text.reserve(c.size() - start);
    Builder build(out, maxLineChars, maxRuns);
    qsizetype piece = start;
    for (qsizetype i = start; i < c.size();) {
        const char16_t u = c[i].unicode();
        if (u != kEsc && u != u'\n' && !IsDropped(u) && !IsForeignBreak(u)) {
            ++i;
            continue;
        }
        build.text(c.mid(piece, i - piece), style);
        if (u == kEsc) {
            i = SequenceEnd(c, i, kind, sgr);
            if (kind == Sequence::Sgr)
                ApplySgr(sgr, style);
        } else if (u == u'\n') {
            build.lineEnd(false);
            ++i;
        } else {
            if (IsForeignBreak(u))
                build.text(u" ", style);
            ++i;
        }
        piece = i;
    }
    build.text(c.mid(piece), style);
    build.lineEnd(true);
    build.finish();
    return out;
}

std::vector<StyleRun> RunsWithin(const std::vector<StyleRun>& runs, qsizetype from, qsizetype to) {
    std::vector<StyleRun> within;
    auto it = std::partition_point(runs.begin(), runs.end(), [&](const StyleRun& run) {
        return run.start + run.length <= from;
    });
    for (; it != runs.end() && it->start < to; ++it) {
        const qsizetype begin = std::max(it->start, from);
        const qsizetype end = std::min(it->start + it->length, to);
        within.push_back({begin - from, end - begin, it->style});
    }
    return within;
}
