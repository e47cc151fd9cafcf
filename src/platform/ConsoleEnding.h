#pragma once

#include <QString>

// What became of a server's console once its process had ended.
struct ConsoleEnding {
    enum class State {
        NotKnown,     // this platform cannot tell, or its console service did not answer
        StillRunning, // the console's process has not ended (yet, as far as the console knows)
        Ended,        // the console is kept with the ended process's last lines
        Gone,         // no console has that title any more
    };
    State state = State::NotKnown;
    QString how;         // when Ended: "exit status 3", "killed by signal 9 (SIGKILL)"
    QString lastLines;   // when Ended: the console's last lines, oldest first
    int exitStatus = -1; // when Ended by an exit: its status; -1 when killed by a signal
};

// Where a server's console output is written: a file that is started afresh when it reaches
// maxBytes, keeping the kept newest older ones. An empty file: not written anywhere.
struct ConsoleLog {
    QString file;
    qint64 maxBytes = 0;
    int kept = 0;
};
