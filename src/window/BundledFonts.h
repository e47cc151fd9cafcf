#pragma once

// Registers the Tahoma faces that the fonts-wine package installs, so that the fixed layout reads
// as designed on systems without Tahoma. Missing files are skipped silently: the font matcher
// then picks the closest sans-serif face. A bold file whose letters are no heavier than the
// regular ones is left out, so that Qt emboldens the regular face for bold text instead of
// drawing bold captions at regular weight. Call once, after the application object exists and
// before the window is built.
void registerBundledFonts();
