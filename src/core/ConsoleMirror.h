#pragma once

#include "ConsoleStyle.h"

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class modAPIs;
struct LauncherOptions;

// What the message pane shows: the console text of the selected server, captured on request, or a
// text of the launcher's own ("Servers are Offline."). Also types the operator's commands into the
// selected server's console. The pane observes paneChanged.
class ConsoleMirror : public QObject {
    Q_OBJECT
public:
    ConsoleMirror(modAPIs& apis, const LauncherOptions& options, QObject* parent = nullptr);

    // Whether the launcher is online, and whether a server's process runs; given by the fleet.
    std::function<bool()> online = [] { return false; };
    std::function<bool(int server)> serverRuns = [](int) { return false; };

    // The server whose console the pane mirrors: 0 to 2, or -1 for none (the options page).
    void SelectServer(int server) { selected_ = server; }
    int SelectedServer() const { return selected_; }

    // Captures the console of server index into the pane, unless the automatic message update
    // is off. A capture lets events run while it waits for the console: a request meanwhile is
    // taken up when it ends, and a capture made stale by a newer request or a text of the
    // launcher's own is not shown.
    void ShowServerMessages(int index);
    // The same for the selected server, if one is.
    void RefreshSelected();

    // Shows a text of the launcher's own in place of a console.
    void SetPaneText(const QString& text);
    const StyledText& pane() const { return pane_; }

    // What became of a command line typed under a server's console.
    struct CommandOutcome {
        bool sent = false;
        QString note; // why it was not sent, for the operator; empty: nothing to tell
    };
    // Types the line into the selected server's console, followed by Enter, then looks at the
    // console at once and once more a moment later, for the answer. An empty line sends nothing.
    CommandOutcome SendCommand(const QString& line);

signals:
    void paneChanged(const StyledText& pane);

private:
    void show(StyledText text);

    modAPIs& apis_;
    const LauncherOptions& options_;
    int selected_ = -1;
    StyledText pane_;
    std::optional<QString> lastCapture_; // the console text the pane shows, as captured
    bool captureRunning_ = false;
    int queuedCapture_ = -1;     // the server whose console was asked for last
    std::uint64_t ownTexts_ = 0; // texts of the launcher's own shown so far
};
