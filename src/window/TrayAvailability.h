#pragma once

// Whether the desktop offers a notification area for the launcher's icon right now.
bool desktopHasNotificationArea();
