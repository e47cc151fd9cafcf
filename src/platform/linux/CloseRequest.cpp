#include "CloseRequest.h"

#include <csignal>

namespace {

const QString kConsolePrefix = QStringLiteral("console:");

} // namespace

CloseRequest CloseRequest::Default() {
    return CloseRequest{SIGTERM, QString()};
}

std::optional<CloseRequest> CloseRequest::FromText(const QString& text) {
    const QString word = text.trimmed();
    if (word == QLatin1String("SIGTERM"))
        return CloseRequest{SIGTERM, QString()};
    if (word == QLatin1String("SIGINT"))
        return CloseRequest{SIGINT, QString()};
    if (word == QLatin1String("SIGHUP"))
        return CloseRequest{SIGHUP, QString()};
    if (!text.startsWith(kConsolePrefix))
        return std::nullopt;
    const QString line = text.mid(kConsolePrefix.size());
    // One line, no control characters: it is typed, not pasted.
    if (line.trimmed().isEmpty())
        return std::nullopt;
    for (const QChar c : line) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return std::nullopt;
    }
    return CloseRequest{0, line};
}
