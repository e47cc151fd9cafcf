#pragma once

#include "ControlProtocol.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

class LauncherCore;

// What the launcher does for each verb a control client asks, whatever the client talks through:
// reads are answered at once, actions are checked as the window checks its buttons, logged with
// the user who asked, answered, and then taken (a start waits for each server in turn).
class ControlVerbs {
public:
    explicit ControlVerbs(LauncherCore& core);

    // What a read goes on sending once answered.
    struct Follow {
        enum Kind { None, Log, Console } kind = None;
        int server = -1;
        QStringList seen; // a console's lines as answered
    };
    struct Reply {
        QByteArray answer;
        Follow follow;
    };
    // The answer to one request of the user who (as "name (uid N)").
    Reply handle(const ControlRequest& request, const QString& who);

    // A console's lines, with no escape or control character left in them.
    QStringList consoleLines(int server) const;

    // The servers a request of a verb names.
    enum class Names { Any, None, One };

    // The operator's "Send Test Alert"; set by the launcher that delivers alerts.
    std::function<void()> sendTestAlert;

private:
    using Handler = Reply (ControlVerbs::*)(const ControlRequest&);
    struct Verb {
        const char* name;
        Handler handler;
        Names names;
        bool action;  // changes something: refused while the launcher ends, and logged
        bool confirm; // asks for --yes
    };
    static const Verb kVerbs[];

    Reply status(const ControlRequest& r);
    Reply read(const ControlRequest& r);
    Reply backups(const ControlRequest& r);
    Reply schedule(const ControlRequest& r);
    Reply testAlert(const ControlRequest& r);
    Reply startOrStop(const ControlRequest& r);
    Reply startOrStopAll(const QString& verb);
    Reply send(const ControlRequest& r);
    Reply backup(const ControlRequest& r);
    Reply restore(const ControlRequest& r);
    Reply skipNextRestart(const ControlRequest& r);
    void restartAll();
    void logAction(const QString& what);

    LauncherCore& core_;
    QString who_; // of the request being answered
};
