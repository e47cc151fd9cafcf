#pragma once

#include <QHash>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>

// The text last captured of each console, and when it is still what the console shows. Before a
// capture the launcher asks tmux for a probe of the console (ConsoleProbe::kFormat): which pane it
// is, its size, history and cursor, whether its program ended, and the second of the window's
// last output. When the probe is as it was at the last capture, and that last output came in a
// second before the capture started, nothing has been printed since: the kept text is the
// console's.
class ConsoleCaptureCache {
public:
    // The kept text of title, when probe (display-message's answer) says it is unchanged since a
    // capture of lineLimit lines.
    std::optional<QString> unchanged(const QString& title, const std::string& probe,
                                     int lineLimit) const;

    // Keeps text as the capture of title that started in the second captureStartSeconds (since
    // the epoch, as tmux stamps output), after the console answered probe.
    void remember(const QString& title, const std::string& probe, int lineLimit,
                  std::int64_t captureStartSeconds, const QString& text);

    void forget(const QString& title) { kept_.remove(title); }

private:
    struct Kept {
        std::string probe;
        int lineLimit = 0;
        bool quietSinceCapture = false; // the last output came before the capture's second
        QString text;
    };
    QHash<QString, Kept> kept_;
};
