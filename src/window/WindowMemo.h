#pragma once

#include <QString>
#include <cstdint>

// What the window remembers across minimise and restore.
struct WindowMemo {
    std::int16_t iOutputValue = 0;   // the message-update box when the window was last minimised
    QString sCaption;                // the caption when the window was last minimised
    bool fSaved = false;             // set by every restore; the first restore puts nothing back
    std::int16_t fTrayIconAdded = 0; // -1 while a tray icon stands for the minimised window
};
