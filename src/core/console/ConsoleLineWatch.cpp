#include "ConsoleLineWatch.h"

#include "PaneText.h"
#include "modAPIs.h"

namespace {

// What a capture gives: a single space stands for no console at all.
QString Captured(modAPIs& apis, const QString& title) {
    const QString text = apis.GetConsoleText(title);
    return text == QStringLiteral(" ") ? QString() : text;
}

} // namespace

ConsoleLineWatch::ConsoleLineWatch(modAPIs& apis, const QString& title, From from)
    : apis_(apis), title_(title), last_(from == From::Now ? Captured(apis, title) : QString()) {}

QStringList ConsoleLineWatch::newLines() {
    const QString now = Captured(apis_, title_);
    // A capture need not end with a line break after its last line, so whether that line is
    // whole shows only at the next look: a break after it, a line grown longer, or the same.
    const bool lastOpen = !last_.isEmpty() && !last_.endsWith(u'\n');
    // Where the text not seen at the last look begins: after what the last look ended with. When
    // the lines scrolled so far that only the last one is left, it is found followed by a break.
    qsizetype overlap = OverlapStart(last_, now);
    qsizetype from = overlap < 0 ? 0 : last_.size() - overlap;
    if (overlap < 0 && lastOpen && (overlap = OverlapStart(last_ + u'\n', now)) >= 0)
        from = last_.size() + 1 - overlap;
    if (lastOpen && from > 0 && from < now.size() && now[from] == u'\n' && now[from - 1] != u'\n')
        ++from; // the last line was whole
    else if (lastOpen && from >= now.size())
        from = now.size(); // nothing new
    // A line that has grown since is looked at whole, unless it was there before the watch.
    else if (from > 0 && from <= now.size() && now[from - 1] != u'\n' && !atStart_)
        from = now.lastIndexOf(u'\n', from - 1) + 1;
    QStringList lines = QStringView(now).mid(std::min(from, now.size())).toString().split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    last_ = now;
    atStart_ = false;
    return lines;
}
