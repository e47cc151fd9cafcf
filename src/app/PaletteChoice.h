#pragma once

// CORVANE_PALETTE=dark gives the launcher a dark palette (on the Fusion style, which draws with
// the palette alone), whatever the desktop's; unset, or any other value, keeps the desktop's.
void UsePaletteFromEnvironment();
