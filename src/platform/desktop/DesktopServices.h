#pragma once

// The desktop services of the platform layer: the notification area and the window procedures
// through which its mouse messages reach a window.
