#pragma once

#include <QString>
#include <utility>

// The outcome of an operation of the platform that can fail: done, or failed with the reason in
// words for the operator's log.
class OsResult {
public:
    static OsResult Done() { return OsResult(); }
    static OsResult Failed(QString why) {
        OsResult result;
        result.failed_ = true;
        result.error_ = why.isEmpty() ? QStringLiteral("no reason was given") : std::move(why);
        return result;
    }

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    // Empty when done.
    const QString& error() const { return error_; }

private:
    OsResult() = default;
    bool failed_ = false;
    QString error_;
};
