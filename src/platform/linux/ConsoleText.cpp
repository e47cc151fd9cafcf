#include "ConsoleText.h"

namespace {

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

} // namespace

QString ConsoleTextFromCapture(std::string_view capture, int maxLines) {
    return ConsoleTextFromPieces(
        QString::fromUtf8(capture.data(), static_cast<qsizetype>(capture.size())), maxLines);
}

QString ConsoleTextFromPieces(const QString& text, int maxLines) {
    // Drop the whole lines after the last one that holds something; that line keeps its own
    // trailing spaces.
    const QLatin1StringView pieceStart(kPieceStart);
    qsizetype last = text.size() - 1;
    while (last >= 0) {
        if (IsBlank(text[last]))
            --last;
        else if (QStringView(text).first(last + 1).endsWith(pieceStart))
            last -= pieceStart.size();
        else
            break;
    }
    if (last < 0)
        return QString();
    qsizetype lineEnd = text.indexOf(u'\n', last);
    if (lineEnd < 0)
        lineEnd = text.size();
    qsizetype start = 0;
    if (maxLines > 0) {
        qsizetype pos = lineEnd;
        for (int lines = 0; lines < maxLines && pos > 0; ++lines) {
            const qsizetype nl = text.lastIndexOf(u'\n', pos - 1);
            if (nl < 0) {
                pos = 0;
                break;
            }
            pos = nl;
        }
        start = pos == 0 ? 0 : pos + 1;
    }
    return text.mid(start, lineEnd - start);
}
