#pragma once

#include <cstdint>

// Opaque handles of the desktop services. They are plain 32-bit numbers; 0 stands for none.
using WindowHandle = std::int32_t;
using IconHandle = std::int32_t;

// A window procedure: it gets every message sent to a window (window handle, message number,
// wParam, lParam) and returns the message's 32-bit result.
using WindowProc = std::int32_t (*)(WindowHandle hWnd, std::int32_t uMsg, std::int32_t wParam,
                                    std::int32_t lParam);

// Window message numbers that reach a window from the notification area.
inline constexpr std::int32_t WM_USER = 0x0400;
inline constexpr std::int32_t WM_MOUSEMOVE = 512;
inline constexpr std::int32_t WM_LBUTTONDOWN = 513;
inline constexpr std::int32_t WM_LBUTTONUP = 514;
inline constexpr std::int32_t WM_LBUTTONDBLCLK = 515;
inline constexpr std::int32_t WM_RBUTTONDOWN = 516;
inline constexpr std::int32_t WM_RBUTTONUP = 517;
inline constexpr std::int32_t WM_RBUTTONDBLCLK = 518;
inline constexpr std::int32_t WM_MBUTTONDOWN = 519;
inline constexpr std::int32_t WM_MBUTTONUP = 520;
inline constexpr std::int32_t WM_MBUTTONDBLCLK = 521;
