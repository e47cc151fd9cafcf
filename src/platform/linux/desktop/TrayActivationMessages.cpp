#include "TrayActivationMessages.h"

#include "DesktopHandles.h"

std::vector<std::int32_t> MouseMessagesFor(QSystemTrayIcon::ActivationReason reason,
                                           TrayProtocol protocol) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        if (protocol == TrayProtocol::StatusNotifier)
            return {WM_LBUTTONDBLCLK};
        return {WM_LBUTTONDOWN, WM_LBUTTONUP};
    case QSystemTrayIcon::DoubleClick:
        return {WM_LBUTTONDBLCLK};
    case QSystemTrayIcon::Context:
        return {WM_RBUTTONDOWN, WM_RBUTTONUP};
    case QSystemTrayIcon::MiddleClick:
        return {WM_MBUTTONDOWN, WM_MBUTTONUP};
    case QSystemTrayIcon::Unknown:
        break;
    }
    return {};
}
