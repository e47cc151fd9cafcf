#pragma once

#include <QObject>
#include <QString>

class LauncherCore;
class QLocalServer;
class QLocalSocket;

// The launcher's control socket, which corvanectl talks to: one request line per connection, as
// JSON ({"verb": "status"}), one answer line ({"ok": true, ...}). The socket lives in the user's
// private folder (0700), so the kernel refuses every other user; every action asked is logged
// with the user who asked, from the socket's peer credentials.
class ControlServer : public QObject {
    Q_OBJECT
public:
    ControlServer(LauncherCore& core, QObject* parent = nullptr);
    ~ControlServer() override;

    // Listens at the path; false, with error() saying why, when it cannot.
    bool listen(const QString& path);
    QString error() const { return error_; }

    // The control socket of the server folder's launcher, in the user's private folder; empty
    // when there is no such folder.
    static QString SocketPath(const QString& privateFolder, const QString& serverFolder);

    static constexpr qint64 kMaxRequestBytes = 4096;

private:
    void answer(QLocalSocket* socket);
    QByteArray handle(const QByteArray& request, const QString& who);

    LauncherCore& core_;
    QLocalServer* server_ = nullptr;
    QString error_;
};
