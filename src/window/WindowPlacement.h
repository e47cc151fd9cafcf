#pragma once

class QWidget;
class WindowPlaces;

// Where the window opens and what is remembered of it when the launcher ends.
namespace WindowPlacement {

// Step by which windows of folders opened for the first time stand apart, down and to the right.
inline constexpr int kNewcomerStep = 32;

// The place remembered for the window's server folder, size and maximised state included. A
// folder without one opens centred on the screen, stepped down and right once for every folder
// opened for the first time before it (cycling after eight), so that launchers on different
// installations do not open exactly over each other.
void PlaceAtOpening(QWidget& window, WindowPlaces& places);

// Centred on the screen, as a window that remembers no place opens.
void Centre(QWidget& window);

} // namespace WindowPlacement
