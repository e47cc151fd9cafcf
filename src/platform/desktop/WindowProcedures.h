#pragma once

#include "DesktopHandles.h"

#include <cstdint>

class QWidget;

// Index of the window procedure for SetWindowLong.
inline constexpr std::int32_t GWL_WNDPROC = -4;

// The window procedures of the launcher's windows. Every message sent to a window goes to the
// procedure that is current at the moment of delivery; a procedure may be replaced by another,
// which then passes what it does not handle on to the one it replaced through CallWindowProc.
class WindowProcedures {
public:
    virtual ~WindowProcedures() = default;

    // The handle of a window. The first call for a window gives it a handle and its own default
    // procedure; later calls give the same handle. 0 for no window.
    virtual WindowHandle HandleOf(QWidget* window) = 0;

    // With nIndex GWL_WNDPROC, makes dwNewLong the window's procedure and returns the one it had.
    // Returns nullptr and changes nothing for an unknown window, another index or a null procedure.
    virtual WindowProc SetWindowLong(WindowHandle hWnd, std::int32_t nIndex,
                                     WindowProc dwNewLong) = 0;

    // Calls lpPrevWndFunc with the message and returns its result; 0 for a null procedure.
    virtual std::int32_t CallWindowProc(WindowProc lpPrevWndFunc, WindowHandle hWnd,
                                        std::int32_t uMsg, std::int32_t wParam,
                                        std::int32_t lParam) = 0;

    // Delivers a message to the window's current procedure at once and returns its result;
    // 0 for an unknown window.
    virtual std::int32_t SendMessage(WindowHandle hWnd, std::int32_t uMsg, std::int32_t wParam,
                                     std::int32_t lParam) = 0;
};
