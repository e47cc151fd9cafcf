#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What tmux tells of a console before a capture (display-message -p kProbeFormat): which pane it
// is, its size, cursor and history, and the second of its window's last output.
struct ConsoleProbe {
    // The stamp of the last output is the last field, as ConsoleCaptureCache reads it.
    static constexpr const char* kFormat =
        "#{pane_id} #{pane_pid} #{pane_dead} #{pane_width}x#{pane_height} #{history_size} "
        "#{cursor_x},#{cursor_y} #{history_limit} #{window_activity}";

    std::string paneId;
    std::int64_t panePid = 0;
    std::int64_t width = 0, height = 0;
    std::int64_t historySize = 0;  // lines scrolled off the screen and kept
    std::int64_t historyLimit = 0; // past it tmux drops the oldest tenth of them at once

    // The pane, its size and its history are as in other: the lines of history are where they
    // were, unless the history was cleared or trimmed and grew back to the same size meanwhile.
    bool sameLines(const ConsoleProbe& other) const {
        return paneId == other.paneId && panePid == other.panePid && width == other.width &&
               height == other.height && historySize == other.historySize &&
               historyLimit == other.historyLimit;
    }

    // nullopt when the answer is not in kFormat.
    static std::optional<ConsoleProbe> Parse(const std::string& answer);
};
