#include "ConsoleText.h"

QString ConsoleTextFromCapture(std::string_view capture, int maxLines) {
    // Drop the whole lines after the last one that holds something; that line keeps its own
    // trailing spaces.
    const std::size_t last = capture.find_last_not_of(" \t\r\n");
    if (last == std::string_view::npos)
        return QString();
    std::size_t lineEnd = capture.find('\n', last);
    if (lineEnd == std::string_view::npos)
        lineEnd = capture.size();
    std::size_t start = 0;
    if (maxLines > 0) {
        std::size_t pos = lineEnd;
        for (int lines = 0; lines < maxLines && pos > 0; ++lines) {
            const std::size_t nl = capture.rfind('\n', pos - 1);
            if (nl == std::string_view::npos) {
                pos = 0;
                break;
            }
            pos = nl;
        }
        start = pos == 0 ? 0 : pos + 1;
    }
    return QString::fromUtf8(capture.data() + start, static_cast<qsizetype>(lineEnd - start));
}
