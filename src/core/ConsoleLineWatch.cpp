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
    // Where the text not seen at the last look begins: after what the last look ended with.
    const qsizetype overlap = OverlapStart(last_, now);
    qsizetype from = overlap < 0 ? 0 : last_.size() - overlap;
    // A line that has grown since is looked at whole, unless it was there before the watch.
    if (from > 0 && from <= now.size() && now[from - 1] != u'\n' && !atStart_)
        from = now.lastIndexOf(u'\n', from - 1) + 1;
    QStringList lines = QStringView(now).mid(std::min(from, now.size())).toString().split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    last_ = now;
    atStart_ = false;
    return lines;
}
