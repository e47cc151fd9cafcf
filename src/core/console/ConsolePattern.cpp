#include "ConsolePattern.h"

#include <algorithm>

namespace ConsolePattern {

QRegularExpression Compile(const QString& pattern) {
    // PCRE2 takes a lower match limit from the pattern's start; it bounds the JIT's work too.
    return QRegularExpression(QStringLiteral("(*LIMIT_MATCH=%1)").arg(kMatchSteps) + pattern);
}

QRegularExpressionMatch Match(const QRegularExpression& pattern, QStringView line) {
    qsizetype size = std::min(line.size(), kMaxLineChars);
    if (size < line.size() && size > 0 && line[size - 1].isHighSurrogate())
        --size; // never half of a character
    return pattern.match(line.first(size));
}

} // namespace ConsolePattern
