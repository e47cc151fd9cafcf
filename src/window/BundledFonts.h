#pragma once

// Registers the Tahoma faces that the fonts-wine package installs, so that the fixed layout reads
// as designed on systems without Tahoma. Missing files are skipped silently: the font matcher
// then picks the closest sans-serif face. Call once, after the application object exists and
// before the window is built.
void registerBundledFonts();
