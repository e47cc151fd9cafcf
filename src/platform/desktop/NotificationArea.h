#pragma once

#include "DesktopHandles.h"

#include <QString>

#include <array>
#include <cstdint>

class QMenu;

// Operations of Shell_NotifyIcon.
inline constexpr std::int32_t NIM_ADD = 0;
inline constexpr std::int32_t NIM_MODIFY = 1;
inline constexpr std::int32_t NIM_DELETE = 2;

// Which fields of a NotifyIconData an operation takes.
inline constexpr std::int32_t NIF_MESSAGE = 1;
inline constexpr std::int32_t NIF_ICON = 2;
inline constexpr std::int32_t NIF_TIP = 4;

// One icon of the notification area, in the 88-byte layout of the ANSI record. An icon is known by
// its window and its uID. szTip holds text in the ANSI code page (see AnsiText.h), ended by a NUL.
struct NotifyIconData {
    std::int32_t cbSize = 0;
    WindowHandle hWnd = 0;
    std::int32_t uID = 0;
    std::int32_t uFlags = 0;
    std::int32_t uCallbackMessage = 0;
    IconHandle hIcon = 0;
    std::array<char, 64> szTip{};

    friend bool operator==(const NotifyIconData&, const NotifyIconData&) = default;
};
static_assert(sizeof(NotifyIconData) == 88, "the icon record is 88 bytes");

// The desktop's notification area (tray). Mouse activity on an icon is sent to the icon's window as
// the message uCallbackMessage, with wParam the uID and lParam the mouse message number
// (WM_MOUSEMOVE ... WM_MBUTTONDBLCLK), through the window's current procedure.
class NotificationArea {
public:
    virtual ~NotificationArea() = default;

    // Adds (NIM_ADD), changes (NIM_MODIFY) or removes (NIM_DELETE) an icon. Nonzero when done;
    // 0 when refused, for example an add for an icon that exists, or a change or removal of an
    // icon that does not.
    virtual std::int32_t Shell_NotifyIcon(std::int32_t dwMessage, const NotifyIconData& data) = 0;

    // Shows a desktop notification from the icon of hWnd and uID. Nonzero when handed to the
    // desktop; 0 when there is no such icon or nothing to show it with.
    virtual std::int32_t ShowNotification(WindowHandle hWnd, std::int32_t uID, const QString& title,
                                          const QString& text) {
        (void)hWnd, (void)uID, (void)title, (void)text;
        return 0;
    }

    // Whether the desktop shows a notification area at the moment.
    virtual bool IsAvailable() = 0;

    // The menu that the window pops up on a right click of its icon (hWnd, uID); nullptr for none.
    // Give it before adding the icon. A tray that passes right clicks on to the window ignores
    // it; a tray that asks an icon for its menu and shows the menu itself is given this one, so
    // that its items there run the window's own actions.
    virtual void SetIconMenu(WindowHandle /*hWnd*/, std::int32_t /*uID*/, QMenu* /*menu*/) {}

    // Lines shown under the icon's tip (hWnd, uID), for trays whose tips take more than the
    // record's one short line; empty for none. Takes effect at once on a shown icon, and on an
    // icon added later.
    virtual void SetTipDetails(WindowHandle /*hWnd*/, std::int32_t /*uID*/,
                               const QString& /*lines*/) {}
};
