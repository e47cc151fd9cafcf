#include "TrayAvailability.h"

#include <QSystemTrayIcon>

bool desktopHasNotificationArea() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}
