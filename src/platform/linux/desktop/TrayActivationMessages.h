#pragma once

#include <QSystemTrayIcon>
#include <cstdint>
#include <vector>

// The two ways a Linux desktop hosts tray icons, as far as clicks are concerned.
enum class TrayProtocol {
    // The X system tray: the icon is a window of ours, and Qt sees each press and double click.
    XEmbed,
    // The D-Bus StatusNotifierItem tray: the panel draws the icon and only tells us that the
    // operator activated it (its own idea of a click) or asked for its context menu.
    StatusNotifier,
};

// The mouse messages that one activation of a Qt tray icon stands for, in the order the window
// is sent them. Qt reports a click once, on the press, so a click becomes its down and up
// messages together; a double click becomes the double-click message alone. On a StatusNotifier
// tray an activation is what the panel makes of a click meant to open the program, and no double
// click ever arrives: it becomes the double-click message, which brings the window back.
std::vector<std::int32_t> MouseMessagesFor(QSystemTrayIcon::ActivationReason reason,
                                           TrayProtocol protocol);
