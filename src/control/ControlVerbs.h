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
    // Told each action taken, with the user who asked; set by the launcher that audits them.
    std::function<void(const QString& who, const QString& what)> audit;

private:
    using Handler = Reply (ControlVerbs::*)(const ControlRequest&, const QString& who);
    struct Verb {
        const char* name;
        Handler handler;
        Names names;
        bool action;  // changes something: refused while the launcher ends, and logged
        bool confirm; // asks for --yes
    };
    static const Verb kVerbs[];

    Reply status(const ControlRequest& r, const QString& who);
    Reply read(const ControlRequest& r, const QString& who);
    Reply backups(const ControlRequest& r, const QString& who);
    Reply schedule(const ControlRequest& r, const QString& who);
    Reply testAlert(const ControlRequest& r, const QString& who);
    Reply startOrStop(const ControlRequest& r, const QString& who);
    Reply startOrStopAll(const QString& verb, const QString& who);
    Reply send(const ControlRequest& r, const QString& who);
    Reply backup(const ControlRequest& r, const QString& who);
    Reply restore(const ControlRequest& r, const QString& who);
    Reply skipNextRestart(const ControlRequest& r, const QString& who);
    void restartAll();
    void logAction(const QString& who, const QString& what);

    LauncherCore& core_;
};
