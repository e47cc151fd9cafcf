#pragma once

#include <QHash>
#include <QString>
#include <cstdint>

class Clock;

// Logins limited per address and per account name, so that passwords cannot be guessed quickly
// from one address or against one account from many. The first kFreeFailures failures of either
// within a quarter of an hour cost nothing; after them, each further try waits 1 s, then 2 s, 4 s,
// ... up to 60 s after the last failure. A try sooner is refused before its password is looked
// at. A right password clears both counts; a quarter of an hour without failures clears them too.
class LoginLimiter {
public:
    static constexpr int kFreeFailures = 5;
    static constexpr std::int64_t kLongestWaitMs = 60 * 1000;
    static constexpr std::int64_t kForgetMs = 15 * 60 * 1000;
    static constexpr int kMostKept = 10000; // addresses and names at once

    explicit LoginLimiter(Clock& clock) : clock_(clock) {}

    // Milliseconds until a login from that address to that account may be tried; 0: now.
    std::int64_t waitMs(const QString& address, const QString& account);
    void failed(const QString& address, const QString& account);
    void succeeded(const QString& address, const QString& account);

private:
    struct Failures {
        int count = 0;
        std::int64_t lastMs = 0;
    };
    std::int64_t waitFor(const QString& key, std::int64_t now);
    void count(const QString& key, std::int64_t now);

    Clock& clock_;
    QHash<QString, Failures> failures_; // "a:" address or "n:" account name
};
