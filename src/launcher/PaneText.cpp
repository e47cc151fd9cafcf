#include "PaneText.h"

namespace {

// Candidate places compared in full before giving up: a few, so that text made of one line
// repeated cannot make the search cost grow with the square of its size.
constexpr int kMaxCandidates = 8;

} // namespace

QString BoundedPaneText(const QString& console, int maxLines, int maxLineChars) {
    qsizetype start = console.size();
    for (int lines = 0; lines < maxLines && start > 0; ++lines) {
        const qsizetype nl = console.lastIndexOf(u'\n', start - 1);
        start = nl < 0 ? 0 : nl;
    }
    if (start > 0)
        ++start; // just past the line break before the first line kept
    QString out;
    out.reserve(console.size() - start);
    while (start <= console.size()) {
        qsizetype end = console.indexOf(u'\n', start);
        if (end < 0)
            end = console.size();
        const qsizetype length = end - start;
        if (length > maxLineChars) {
            out += QStringView(console).mid(start, maxLineChars);
            out += QStringLiteral(" [… %1 more characters]").arg(length - maxLineChars);
        } else {
            out += QStringView(console).mid(start, length);
        }
        if (end < console.size())
            out += u'\n';
        start = end + 1;
    }
    for (QChar& c : out) {
        if (c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return out;
}

qsizetype OverlapStart(const QString& shown, const QString& fresh) {
    if (shown.isEmpty())
        return -1;
    const qsizetype firstBreak = fresh.indexOf(u'\n');
    const QStringView firstLine =
        QStringView(fresh).left(firstBreak < 0 ? fresh.size() : firstBreak + 1);
    int tried = 0;
    for (qsizetype at = shown.indexOf(firstLine); at >= 0 && tried < kMaxCandidates;
         at = shown.indexOf(firstLine, at + 1)) {
        if (at > 0 && shown[at - 1] != u'\n')
            continue;
        ++tried;
        const qsizetype rest = shown.size() - at;
        if (rest <= fresh.size() && QStringView(shown).mid(at) == QStringView(fresh).left(rest))
            return at;
    }
    return -1;
}
