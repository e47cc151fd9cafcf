#pragma once

#include "DesktopHandles.h"

#include <cstdint>
#include <memory>

class clsTrayIcon;

// What connects the hooked window procedure to the tray component.
namespace modTrayIcon {

// The instance that receives the icon's events: the most recently created one.
extern std::shared_ptr<clsTrayIcon> TrayIconObject;

// The owning window's procedure as it was before ShowTrayIcon replaced it.
extern WindowProc OldWndProc;

// The procedure hooked into the owning window while the icon is shown. A mouse message of the
// icon (callback message, lParam WM_LBUTTONDOWN ... WM_MBUTTONDBLCLK) raises its event on
// TrayIconObject and answers 0; every other message goes on unchanged to OldWndProc.
std::int32_t TrayWndProc(WindowHandle hWnd, std::int32_t uMsg, std::int32_t wParam,
                         std::int32_t lParam);

// Raises on target the event of a mouse message of the icon; other numbers raise nothing.
void RaiseMouseEvent(clsTrayIcon& target, std::int32_t lParam);

} // namespace modTrayIcon
