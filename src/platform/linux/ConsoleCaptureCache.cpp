#include "ConsoleCaptureCache.h"

#include <charconv>

namespace {

// The stamp of the window's last output: the probe's last field; nullopt when there is none.
std::optional<std::int64_t> LastOutputSecond(const std::string& probe) {
    std::size_t end = probe.find_last_not_of(" \r\n");
    if (end == std::string::npos)
        return std::nullopt;
    const std::size_t start = probe.find_last_of(' ', end);
    const std::size_t from = start == std::string::npos ? 0 : start + 1;
    std::int64_t value = 0;
    const auto [ptr, error] = std::from_chars(probe.data() + from, probe.data() + end + 1, value);
    if (error != std::errc() || ptr != probe.data() + end + 1)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<QString> ConsoleCaptureCache::unchanged(const QString& title,
                                                      const std::string& probe,
                                                      int lineLimit) const {
    const auto found = kept_.constFind(title);
    if (found == kept_.constEnd() || !found->quietSinceCapture || found->probe != probe ||
        found->lineLimit != lineLimit)
        return std::nullopt;
    return found->text;
}

void ConsoleCaptureCache::remember(const QString& title, const std::string& probe, int lineLimit,
                                   std::int64_t captureStartSeconds, const QString& text) {
    const std::optional<std::int64_t> lastOutput = LastOutputSecond(probe);
    // Output in the capture's own second may have come after it: then the next probe, whatever it
    // says, is no proof, and the next tick captures again.
    const bool quiet = lastOutput.has_value() && *lastOutput < captureStartSeconds;
    kept_.insert(title, Kept{probe, lineLimit, quiet, text});
}
