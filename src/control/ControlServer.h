#pragma once

#include "ControlVerbs.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class CheckedFolder;
class LauncherCore;
class QLocalServer;
class QLocalSocket;

// The launcher's control socket, which corvanectl talks to: one request line per connection and
// one answer line (ControlProtocol.h), answered by ControlVerbs. When a read follows, more
// {"lines": [...]} lines come as the log or the console grows, until the client hangs up. By
// default the socket lives in the user's private folder (0700), so the kernel refuses every other
// user; with a control group it lives in a folder of the server folder's that only that group may
// enter. Every action asked is logged with the user who asked, from the socket's peer credentials.
class ControlServer : public QObject {
    Q_OBJECT
public:
    ControlServer(LauncherCore& core, QObject* parent = nullptr);
    ~ControlServer() override;

    // Listens at the path; false, with error() saying why, when it cannot.
    bool listen(const QString& path);
    // Listens on the group-shared socket of the server folder (SharedSocketPath), whose folder is
    // made ours, 02750 and the group's, and the socket 0660; false, with error(), when it cannot.
    bool listenShared(const QString& serverFolder, const QString& group);
    QString error() const { return error_; }
    // The clients that follow the log or a console now.
    int followers() const { return followers_; }

    // The control socket of the server folder's launcher, in the user's private folder; empty
    // when there is no such folder.
    static QString SocketPath(const QString& privateFolder, const QString& serverFolder);
    // The socket a launcher with a control group listens on, in the server folder.
    static QString SharedSocketPath(const QString& serverFolder);

    // The operator's "Send Test Alert"; set by the launcher that delivers alerts.
    void setSendTestAlert(std::function<void()> send) { verbs_.sendTestAlert = std::move(send); }
    // Told each action taken through the socket, with the user who asked.
    void setAudit(std::function<void(const QString& who, const QString& what)> audit) {
        verbs_.audit = std::move(audit);
    }

    // What a request is answered with, and when it follows, what then streams to the socket.
    struct Reply {
        QByteArray answer;
        std::function<void(QLocalSocket*)> follow; // empty: the answer is all
    };
    // Answers one request line of the user who (as "name (uid N)").
    Reply handle(const QByteArray& request, const QString& who);

    // The console lines of now that came after those of before (the console's last lines as
    // captured then): all of now when the two have nothing in common.
    static QStringList NewConsoleLines(const QStringList& before, const QStringList& now);

    static constexpr qint64 kMaxRequestBytes = 16384;
    // The most lines a read asks for, and the most characters of them in its answer.
    static constexpr int kMaxLines = ControlRequest::kMaxLines;
    static constexpr qsizetype kMaxAnswerChars = ControlRequest::kMaxAnswerChars;
    // A follower this far behind in reading is let go.
    static constexpr qint64 kMaxUnreadBytes = 256 * 1024;
    // The most clients that follow at once.
    static constexpr int kMaxFollowers = 16;
    // How often a followed console is looked at.
    static constexpr int kConsolePollMs = 1000;

private:
    void accept();
    void answer(QLocalSocket* socket);
    void followLog(QLocalSocket* socket);
    void followConsole(QLocalSocket* socket, int server, QStringList seen);
    bool push(QLocalSocket* socket, const QStringList& lines);

    LauncherCore& core_;
    ControlVerbs verbs_;
    QLocalServer* server_ = nullptr;
    std::unique_ptr<CheckedFolder> sharedFolder_; // held while the shared socket is in it
    QString error_;
    int followers_ = 0;
};
