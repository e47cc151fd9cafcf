#pragma once

#include <QString>
#include <vector>

// How a server is asked to stop: steps run in order, each wait bounded by its own time. A step
// that waits ends early when the server has ended; once it has, nothing more is sent to it.
struct StopStep {
    enum class Kind {
        CloseRequest, // the server's close request (SIGTERM, or what the settings choose)
        Console,      // text typed into its console, followed by Enter
        Signal,       // a signal to its process group
        AwaitLine,    // a console line matching pattern, within seconds
        AwaitSave,    // a console line matching the plan's save confirmation, within seconds
        AwaitEnd,     // the end of every process of the server, within seconds
    };
    Kind kind = Kind::CloseRequest;
    QString text; // Console: the line; AwaitLine: the pattern (a regular expression)
    int signal = 0;
    int seconds = 0;

    bool waits() const { return kind >= Kind::AwaitLine; }
};

struct StopPlan {
    std::vector<StopStep> steps;
    // A console line that confirms the server saved its world (a regular expression); empty
    // when the server prints none.
    QString saveConfirmation;
    // Killed (SIGKILL to every process of it) when it still runs after the steps.
    bool escalate = false;

    // The close request, then up to seconds for the end: what a stop does unless the
    // installation says otherwise. It logs nothing beyond the close request's own line.
    static StopPlan Default(int seconds);
    bool isDefault() const { return isDefault_; }

private:
    bool isDefault_ = false;
};
