#include "LoginLimiter.h"

#include "Clock.h"

#include <algorithm>

namespace {

QString AddressKey(const QString& address) {
    return QStringLiteral("a:") + address;
}

QString AccountKey(const QString& account) {
    return QStringLiteral("n:") + account;
}

} // namespace

std::int64_t LoginLimiter::waitMs(const QString& address, const QString& account) {
    const std::int64_t now = clock_.NowMs();
    return std::max(waitFor(AddressKey(address), now), waitFor(AccountKey(account), now));
}

void LoginLimiter::failed(const QString& address, const QString& account) {
    const std::int64_t now = clock_.NowMs();
    count(AddressKey(address), now);
    count(AccountKey(account), now);
}

void LoginLimiter::succeeded(const QString& address, const QString& account) {
    failures_.remove(AddressKey(address));
    failures_.remove(AccountKey(account));
}

std::int64_t LoginLimiter::waitFor(const QString& key, std::int64_t now) {
    const auto it = failures_.find(key);
    if (it == failures_.end())
        return 0;
    if (now - it->lastMs >= kForgetMs) {
        failures_.erase(it);
        return 0;
    }
    if (it->count < kFreeFailures)
        return 0;
    const int doublings = std::min(it->count - kFreeFailures, 6); // 2^6 s > the longest wait
    const std::int64_t wait =
        std::min<std::int64_t>(std::int64_t(1000) << doublings, kLongestWaitMs);
    return std::max<std::int64_t>(0, it->lastMs + wait - now);
}

void LoginLimiter::count(const QString& key, std::int64_t now) {
    if (!failures_.contains(key) && failures_.size() >= kMostKept) {
        // Full: what is old enough to be forgotten goes; failing that, the oldest.
        failures_.removeIf(
            [now](const auto& entry) { return now - entry.value().lastMs >= kForgetMs; });
        if (failures_.size() >= kMostKept) {
            auto oldest = failures_.cbegin();
            for (auto it = failures_.cbegin(); it != failures_.cend(); ++it)
                if (it->lastMs < oldest->lastMs)
                    oldest = it;
            failures_.remove(oldest.key());
        }
    }
    Failures& f = failures_[key];
    if (now - f.lastMs >= kForgetMs)
        f.count = 0;
    ++f.count;
    f.lastMs = now;
}
