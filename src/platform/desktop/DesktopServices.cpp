#include "DesktopServices.h"

namespace {
NotificationArea* replacementArea = nullptr;
}

NotificationArea& CurrentNotificationArea() {
    return replacementArea != nullptr ? *replacementArea : PlatformNotificationArea();
}

void SetNotificationArea(NotificationArea* area) {
    replacementArea = area;
}

WindowProcedures& CurrentWindowProcedures() {
    return PlatformWindowProcedures();
}

bool DesktopHasNotificationArea() {
    return CurrentNotificationArea().IsAvailable();
}
