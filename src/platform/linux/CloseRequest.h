#pragma once

#include <QString>
#include <optional>

// What asking a server's console to close does: a signal to the server in it, or a line typed
// into it. Written in settings as "SIGTERM", "SIGINT", "SIGHUP" or "console:" and the line.
struct CloseRequest {
    int signal = 0;       // when nonzero, the signal to send
    QString consoleInput; // otherwise, the line to type, followed by Enter

    // Most servers take SIGTERM as "shut down cleanly"; a hang-up makes many die unsaved.
    static CloseRequest Default();

    // The request that text names; nothing when it names none.
    static std::optional<CloseRequest> FromText(const QString& text);
};
