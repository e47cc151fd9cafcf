#include "PaneText.h"

namespace {

// Candidate places compared in full before giving up: a few, so that text made of one line
// repeated cannot make the search cost grow with the square of its size.
constexpr int kMaxCandidates = 8;

} // namespace

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
