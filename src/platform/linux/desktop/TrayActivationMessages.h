#pragma once

#include <QSystemTrayIcon>
#include <cstdint>
#include <vector>

// The mouse messages that one activation of a Qt tray icon stands for, in the order the window
// is sent them. Qt reports a click once, on the press, so a click becomes its down and up
// messages together; a double click becomes the double-click message alone.
std::vector<std::int32_t> MouseMessagesFor(QSystemTrayIcon::ActivationReason reason);
