#pragma once

#include "DesktopHandles.h"

#include <QIcon>

// Icon handles for QIcons, so that a window can hand its pictures to the notification area as
// plain numbers. Registering the same icon (or a copy of it) again gives the same handle.

// A nonzero handle for icon; 0 for a null icon.
IconHandle RegisterIcon(const QIcon& icon);

// The icon behind a handle; a null icon for 0 or an unknown handle.
QIcon IconOfHandle(IconHandle hIcon);
