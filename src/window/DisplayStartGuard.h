#pragma once

// The launcher needs a display for its window. Without one, Qt's platform plugin ends the program
// with an abort and a page of advice; this guard ends it instead with one line on stderr and exit
// status 1. Create it before the application object and call opened() once that object exists:
//
//     DisplayStartGuard display(argc, argv);
//     QApplication app(argc, argv);
//     display.opened();
class DisplayStartGuard {
public:
    // Exits at once when no display is named (no DISPLAY for X, no WAYLAND_DISPLAY for Wayland).
    // Otherwise holds back Qt's messages until opened(), so that a display that cannot be opened
    // is reported in one line too.
    DisplayStartGuard(int argc, char** argv);
    ~DisplayStartGuard();
    DisplayStartGuard(const DisplayStartGuard&) = delete;
    DisplayStartGuard& operator=(const DisplayStartGuard&) = delete;

    // The application object is up: the messages held back are let through.
    void opened();
};
