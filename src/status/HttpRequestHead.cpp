#include "HttpRequestHead.h"

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <algorithm>

namespace {

constexpr qsizetype kMethodBytes = 20;

} // namespace

RequestLine JudgeRequestLine(const QByteArray& start) {
    const qsizetype end = start.indexOf('\n');
    if (end < 0) {
        // Bytes that cannot begin a method ("GET") need no more to be judged, nor a line too long.
        const QByteArray method = start.left(start.indexOf(' '));
        const bool methodLike = std::all_of(method.begin(), method.end(),
                                            [](char c) { return c >= 'A' && c <= 'Z'; }) &&
                                method.size() <= kMethodBytes;
        return methodLike && start.size() < kRequestLineBytes ? RequestLine::Incomplete
                                                              : RequestLine::Invalid;
    }
    static const QRegularExpression line(QStringLiteral("^[A-Z]{1,20} [!-~]+ HTTP/1\\.[01]\r?$"));
    return line.match(QString::fromLatin1(start.left(end))).hasMatch() ? RequestLine::Valid
                                                                       : RequestLine::Invalid;
}

bool WantsCloseAfterAnswer(const QByteArray& request) {
    const qsizetype headEnd = request.indexOf("\r\n\r\n");
    const QList<QByteArray> lines =
        request.left(headEnd < 0 ? request.size() : headEnd).split('\n');
    bool close = lines.first().trimmed().endsWith(" HTTP/1.0");
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed().toLower() != "connection")
            continue;
        // A list of options, in any case: "keep-alive", "close", "Upgrade", ...
        for (const QByteArray& option : line.mid(colon + 1).split(',')) {
            const QByteArray name = option.trimmed().toLower();
            if (name == "close")
                return true;
            if (name == "keep-alive")
                close = false;
        }
    }
    return close;
}
