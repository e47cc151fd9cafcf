#pragma once

#include <QFont>

// The fonts of the main window. Sizes are in pixels, so that text keeps its designed place on a
// layout that is fixed in pixels whatever the screen's dots per inch.
namespace LayoutFonts {

inline constexpr int kPixelSize = 11; // 8.25 pt at 96 dots per inch

// Tahoma 8.25 pt, regular or bold: the window's font and that of most controls.
QFont tahoma(bool bold = false);

// Lucida Console 8.25 pt for the message pane; the system's fixed-width font where it is missing.
QFont console();

} // namespace LayoutFonts
