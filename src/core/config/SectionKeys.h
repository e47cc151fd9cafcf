#pragma once

#include <QString>
#include <span>

// The keys each section of the installation's file takes besides [Launcher] (whose rows are in
// LauncherKeys.h), and the user's own keys of the settings' [Settings] section: one row a key. The
// parser accepts a key by these rows, so that any other is named with its line, and the manual's
// tables are checked against them.
struct SectionKey {
    const char* name;     // lower case, one blank between words; any case in the file
    const char* type;     // what its value is
    const char* fallback; // its default, as the manual writes it; "" for none
};

namespace SectionKeys {

// [Login Server], [Char Server] and [Map Server].
std::span<const SectionKey> Server();
// [Alerts].
std::span<const SectionKey> Alerts();
// [Alert <name>].
std::span<const SectionKey> AlertEndpoint();
// [Schedule <name>].
std::span<const SectionKey> Schedule();
// [Web].
std::span<const SectionKey> Web();
// The user settings' [Settings] keys that are not the installation's too: the persisted options and
// the remembered server folder (written as shown, read in any case).
std::span<const SectionKey> UserSettings();

inline constexpr const char* kAutoRestart = "AutoRestart";
inline constexpr const char* kMinimizeToTray = "MinimizeToTray";
inline constexpr const char* kUpdateServerMessage = "UpdateServerMessage";
inline constexpr const char* kUpdateInterval = "ServerMessage Update Interval";
inline constexpr const char* kLogServerMessages = "LogServerMessages";
inline constexpr const char* kReportServerStatus = "Report Server Status";
inline constexpr const char* kServerFolder = "ServerFolder";
// The opt-ins the options tab's menu writes.
inline constexpr const char* kWindowGrow = "Window Grow";
inline constexpr const char* kAdvancedFeatures = "Advanced Features";

// Whether the rows hold the key as the parser has it (lower case, blanks simplified).
bool Takes(std::span<const SectionKey> keys, const QString& key);

} // namespace SectionKeys
