#include "modTrayIcon.h"

#include "DesktopServices.h"
#include "clsTrayIcon.h"

namespace modTrayIcon {

std::shared_ptr<clsTrayIcon> TrayIconObject;
WindowProc OldWndProc = nullptr;

std::int32_t TrayWndProc(WindowHandle hWnd, std::int32_t uMsg, std::int32_t wParam,
                         std::int32_t lParam) {
    if (uMsg == clsTrayIcon::kCallbackMessage && lParam >= WM_LBUTTONDOWN &&
        lParam <= WM_MBUTTONDBLCLK) {
        // Held for the event: a handler may create a newer instance meanwhile.
        const std::shared_ptr<clsTrayIcon> target = TrayIconObject;
        if (target)
            RaiseMouseEvent(*target, lParam);
        return 0;
    }
    return CurrentWindowProcedures().CallWindowProc(OldWndProc, hWnd, uMsg, wParam, lParam);
}

void RaiseMouseEvent(clsTrayIcon& target, std::int32_t lParam) {
    switch (lParam) {
    case WM_LBUTTONDOWN:
        emit target.LeftButtonDown();
        break;
    case WM_LBUTTONUP:
        emit target.LeftButtonUp();
        break;
    case WM_LBUTTONDBLCLK:
        emit target.LeftButtonDoubleClick();
        break;
    case WM_RBUTTONDOWN:
        emit target.RightButtonDown();
        break;
    case WM_RBUTTONUP:
        emit target.RightButtonUp();
        break;
    case WM_RBUTTONDBLCLK:
        emit target.RightButtonDoubleClick();
        break;
    case WM_MBUTTONDOWN:
        emit target.MiddleButtonDown();
        break;
    case WM_MBUTTONUP:
        emit target.MiddleButtonUp();
        break;
    case WM_MBUTTONDBLCLK:
        emit target.MiddleButtonDoubleClick();
        break;
    default:
        break;
    }
}

} // namespace modTrayIcon
