#pragma once

#include "../ConsoleEnding.h"

#include <QStringList>
#include <string>

// The command that tmux's pipe-pane runs for a console log. tmux hands it to /bin/sh and expands
// '#' formats in it first, so it is a fixed command line of the corvane-log helper with every word
// quoted for both: no path can become shell or format syntax.
std::string ConsoleLogCommand(const std::string& helper, const ConsoleLog& log,
                              const std::string& noticePipe);

// A word for /bin/sh, read back unchanged whatever bytes it holds.
std::string ShellQuote(const std::string& word);

// The pipe through which the corvane-log helpers tell the launcher what went wrong: a FIFO in a
// private folder of the runtime folder ($XDG_RUNTIME_DIR, else the temporary folder), read
// without ever waiting. The folder goes with this object.
class ConsoleLogNotices {
public:
    ConsoleLogNotices();
    ~ConsoleLogNotices();
    ConsoleLogNotices(const ConsoleLogNotices&) = delete;
    ConsoleLogNotices& operator=(const ConsoleLogNotices&) = delete;

    // Removes the notice folders of this user's launchers that are gone (a killed one cannot
    // remove its own). A folder's name carries its launcher's process id.
    static void RemoveStale();

    // The FIFO's path; "-" when none could be made (the helpers then tell nobody).
    const std::string& path() const { return path_; }
    // The pipe's reading end, to watch for notices; -1 when none could be made.
    int fd() const { return fd_; }

    // The notices that arrived since the last call, one text each.
    QStringList take();

private:
    std::string folder_;
    std::string path_ = "-";
    int fd_ = -1;
    std::string partial_;
};
