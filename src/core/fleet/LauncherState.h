#pragma once

#include <cstdint>

// ServerState values; greater than Offline means servers are running. Also the index of the
// status picture shown for the state.
namespace LauncherState {
inline constexpr std::int16_t Offline = 0;
inline constexpr std::int16_t Online = 1;
inline constexpr std::int16_t Crashed = 2;
} // namespace LauncherState

// The codes ChangeLauncherState understands; any other code does nothing.
namespace Transition {
inline constexpr std::int32_t Offline = 10;
inline constexpr std::int32_t Online = 11;
inline constexpr std::int32_t ArmPriorityTimer = 12;
inline constexpr std::int32_t Minimised = 20;
inline constexpr std::int32_t Restored = 21;
inline constexpr std::int32_t DiskLoggingOn = 30;
inline constexpr std::int32_t DiskLoggingOff = 31;
inline constexpr std::int32_t CrashNoticeControlsOn = 32;
inline constexpr std::int32_t CrashNoticeControlsOff = 33;
inline constexpr std::int32_t Exit = 40;
inline constexpr std::int32_t RefreshTray = 50;
} // namespace Transition
