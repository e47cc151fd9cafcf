#include "HttpRequestHead.h"

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
