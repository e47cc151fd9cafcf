#include "SectionKeys.h"

namespace SectionKeys {

namespace {

// One row a key; keep one line each.
constexpr SectionKey kServer[] = {
    {"program", "path", ""},
    {"arguments", "words", ""},
    {"environment", "NAME=value", ""},
    {"working folder", "path", ""},
    {"close request", "close request", "SIGTERM"},
    {"stop", "stop step", ""},
    {"save confirmation", "pattern", ""},
    {"kill after stop", "yes or no", "no"},
    {"console answers", "pattern", ""},
    {"ready", "readiness", "settle"},
    {"if not ready", "go on or stop", "go on"},
    {"probe", "probe", ""},
    {"expected exit", "exit statuses", ""},
    {"players", "pattern", ""},
    {"player joins", "pattern", ""},
    {"player leaves", "pattern", ""},
    {"memory limit", "memory limit", ""},
    {"backup path", "path", ""},
    {"backup folder", "path", "backups/<program>"},
    {"keep backups", "count", ""},
    {"keep backups size", "size", ""},
    {"save command", "line", ""},
};

constexpr SectionKey kAlerts[] = {
    {"back up after", "seconds", "60"},
    {"summary every", "seconds", "600"},
    {"queue limit", "count", "500"},
};

constexpr SectionKey kAlertEndpoint[] = {
    {"url", "address", ""},       {"url file", "path", ""}, {"format", "format", "json"},
    {"headers file", "path", ""}, {"ca file", "path", ""},
};

constexpr SectionKey kSchedule[] = {
    {"servers", "servers", "all"}, {"task", "task", ""},
    {"at", "time of day", ""},     {"days", "days", "daily"},
    {"cron", "cron fields", ""},   {"command", "line", ""},
    {"warn", "warning", ""},       {"if missed", "skip or run", "skip"},
};

constexpr SectionKey kWeb[] = {
    {"address", "address", "127.0.0.1"}, {"port", "port", "18740"},
    {"certificate file", "path", ""},    {"key file", "path", ""},
    {"trusted proxy", "address", ""},    {"origin", "address", ""},
};

constexpr SectionKey kUserSettings[] = {
    {kAutoRestart, "0, 1 or 2", "1"},
    {kMinimizeToTray, "0, 1 or 2", "1"},
    {kUpdateServerMessage, "0, 1 or 2", "1"},
    {kUpdateInterval, "seconds", "5"},
    {kLogServerMessages, "0, 1 or 2", "0"},
    {kReportServerStatus, "0, 1 or 2", "0"},
    {kServerFolder, "path", ""},
    {kWindowGrow, "0 or 1", "0"},
    {kAdvancedFeatures, "0 or 1", "0"},
};

} // namespace

std::span<const SectionKey> Server() {
    return kServer;
}
std::span<const SectionKey> Alerts() {
    return kAlerts;
}
std::span<const SectionKey> AlertEndpoint() {
    return kAlertEndpoint;
}
std::span<const SectionKey> Schedule() {
    return kSchedule;
}
std::span<const SectionKey> Web() {
    return kWeb;
}
std::span<const SectionKey> UserSettings() {
    return kUserSettings;
}

bool Takes(std::span<const SectionKey> keys, const QString& key) {
    for (const SectionKey& row : keys)
        if (key.compare(QLatin1String(row.name), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace SectionKeys
