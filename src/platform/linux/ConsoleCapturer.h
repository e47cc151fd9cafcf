#pragma once

#include "ConsoleCaptureCache.h"
#include "ConsoleTail.h"
#include "TmuxClient.h"

#include <QHash>
#include <QString>

// Captures the text of the consoles through the launcher's tmux client, as cheaply as it can: a
// console that printed nothing since its last capture is not captured again, and one that did is
// asked only for its new lines and its screen where the lines kept from before still hold.
class ConsoleCapturer {
public:
    explicit ConsoleCapturer(const TmuxClient& tmux) : tmux_(tmux) {}

    // The console's last lineLimit lines (with colours, all lines kept, as SGR sequences: earlier
    // lines set the style of later ones); nullopt when there is no such console.
    std::optional<QString> capture(const QString& title, bool colours, int lineLimit);

private:
    void forget(const QString& key);

    const TmuxClient& tmux_;
    ConsoleCaptureCache unchanged_;
    QHash<QString, ConsoleTail> tails_;
};
