#pragma once

// The steps of frmMain::buildControls, split by what they lay out.

#include "Twips.h"

#include <QSize>

class frmMain;

namespace frmMainLayout {

// The window's client area as designed: its only size unless the window may grow.
inline constexpr QSize kDesignedSize(Twips::toPixels(7620), Twips::toPixels(4875)); // 508 x 325

// The controls inside picContainer: the three frames and what they hold. picContainer exists.
void buildOptionsPane(frmMain& window);

// Stacking order within each container, front to back as designed.
void applyStacking(frmMain& window);

// How the controls follow the window's size; call once every control has its designed place.
void applyAnchors(frmMain& window);

// Keyboard focus order across the whole window, by the designed tab indices.
void applyTabOrder(frmMain& window);

} // namespace frmMainLayout
