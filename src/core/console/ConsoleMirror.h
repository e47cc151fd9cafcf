#pragma once

#include "ConsoleStyle.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class Clock;
class PastedLines;
class modAPIs;
struct LauncherOptions;

// What the message pane shows: the console text of the selected server, captured on request, or a
// text of the launcher's own ("Servers are Offline."). Also types the operator's commands into the
// selected server's console. The pane observes paneChanged.
class ConsoleMirror : public QObject {
    Q_OBJECT
public:
    ConsoleMirror(modAPIs& apis, Clock& clock, const LauncherOptions& options,
                  QObject* parent = nullptr);

    // Whether the launcher is online, and whether a server's process runs; given by the fleet.
    std::function<bool()> online = [] { return false; };
    std::function<bool(int server)> serverRuns = [](int) { return false; };
    // A command line went into the server's console.
    std::function<void(int server, const QString& line)> typed = [](int, const QString&) {};

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
    // The same into the console of server, whichever the pane shows.
    CommandOutcome SendCommandTo(int server, const QString& line);

    // What became of a paste of several lines.
    struct LinesOutcome {
        QStringList sent; // the lines the console took, in order
        QString note;     // why some or all were not sent; empty: nothing to tell
    };
    // Types the paste's lines into the console of server (whichever the pane shows now), one after
    // another as SendCommand types one, then looks for the answer as SendCommand does. All of
    // them go, or none: none when one of them cannot go or the server is not running.
    LinesOutcome SendLines(int server, const PastedLines& paste);

signals:
    void paneChanged(const StyledText& pane);

private:
    void show(StyledText text);
    // Looks at the console of server at once and once more a moment later, for an answer.
    void lookForAnswer(int server);

    modAPIs& apis_;
    Clock& clock_;
    const LauncherOptions& options_;
    int selected_ = -1;
    StyledText pane_;
    std::optional<QString> lastCapture_; // the console text the pane shows, as captured
    bool captureRunning_ = false;
    int queuedCapture_ = -1;     // the server whose console was asked for last
    std::uint64_t ownTexts_ = 0; // texts of the launcher's own shown so far
};
