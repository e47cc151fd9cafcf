#include "CrashBackoff.h"

#include <algorithm>

std::int64_t CrashBackoff::DelayOf(int n, const CrashBackoffSettings& settings) {
    std::int64_t delay = std::max<std::int64_t>(settings.firstDelayMs, 0);
    for (int i = 1; i < n && delay < settings.maxDelayMs; ++i)
        delay *= 2;
    return std::min(delay, settings.maxDelayMs);
}

bool CrashBackoff::forgiveIfStable(std::int64_t nowMs, const CrashBackoffSettings& settings) {
    if (!lastStartMs_ || nowMs - *lastStartMs_ < settings.stableMs)
        return false;
    const bool wasDelaying = keepsCrashing();
    crashesMs_.clear();
    delayedRelaunches_ = 0;
    return wasDelaying;
}

std::int64_t CrashBackoff::crashed(std::int64_t nowMs, const CrashBackoffSettings& settings) {
    forgiveIfStable(nowMs, settings);
    if (delayedRelaunches_ > 0)
        return DelayOf(++delayedRelaunches_, settings);
    while (!crashesMs_.empty() && nowMs - crashesMs_.front() >= settings.windowMs)
        crashesMs_.pop_front();
    crashesMs_.push_back(nowMs);
    if (static_cast<int>(crashesMs_.size()) <= settings.burst)
        return 0;
    crashesMs_.clear();
    return DelayOf(++delayedRelaunches_, settings);
}
