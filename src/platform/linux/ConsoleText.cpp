#include "ConsoleText.h"

QString ConsoleTextFromCapture(std::string_view capture) {
    // Drop the whole lines after the last one that holds something; that line keeps its own
    // trailing spaces.
    const std::size_t last = capture.find_last_not_of(" \t\r\n");
    if (last == std::string_view::npos)
        return QString();
    std::size_t lineEnd = capture.find('\n', last);
    if (lineEnd == std::string_view::npos)
        lineEnd = capture.size();
    return QString::fromUtf8(capture.data(), static_cast<qsizetype>(lineEnd));
}
