#pragma once

#include "NotificationArea.h"
#include "WindowProcedures.h"

// The desktop services in use by the whole process. The platform's own ones serve unless a test
// puts another notification area in place.

NotificationArea& CurrentNotificationArea();

// Puts area in place of the platform's notification area; nullptr brings the platform's back.
// The caller keeps area alive while it is in place.
void SetNotificationArea(NotificationArea* area);

WindowProcedures& CurrentWindowProcedures();

// Whether the desktop has a notification area to put an icon in.
bool DesktopHasNotificationArea();

// The platform's own services, one implementation file per operating system.
NotificationArea& PlatformNotificationArea();
WindowProcedures& PlatformWindowProcedures();
