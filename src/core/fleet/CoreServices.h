#pragma once

#include <QString>

class modAPIs;
class Clock;
class SettingsStore;

// What the launcher core needs from the world around it. The program passes the real ones; tests
// pass fakes, so that no server, clock or settings file of theirs is ever real by accident.
struct CoreServices {
    modAPIs* apis = nullptr;
    Clock* clock = nullptr;
    SettingsStore* settings = nullptr;
    // The folder whose server programs are started, without a trailing separator.
    QString serverFolder;
};
