#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLockFile;

// One launcher per server folder and user. The first launcher on a folder holds a lock file and
// listens on a local socket named after the folder, both in a private folder under the user's
// home that every launcher of the user finds, whatever environment it was started with; a later
// start on the same folder finds the lock held, asks the first launcher through the socket to bring
// its window back, and ends. A lock or socket left behind by a launcher that was killed does not
// count: the lock names a process that no longer runs, and the socket is taken over.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // runtimeFolder: where the lock and the socket live (empty: the user's private state folder;
    // where that cannot be used, a private folder of the user's in the runtime or temporary
    // folder, see FallbackFolder).
    explicit SingleInstance(const QString& serverFolder, QString runtimeFolder = QString(),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    enum class Role {
        First,      // this launcher runs; raiseRequested tells of later starts
        HandedOver, // another launcher runs on the folder and was asked to show its window
        NoAnswer    // another launcher holds the folder but did not answer
    };
    // Decides this launcher's role. Waits at most about two seconds, for an answer from the
    // first launcher; nothing else is running yet when it is called.
    Role claim();

    // Where the lock and the socket go when the private state folder cannot be used (why): the
    // user's own folder inside sharedFolder, checked, else a new folder nobody else can have made.
    // note says which, and what it costs; unique tells the latter.
    static QString FallbackFolder(const QString& sharedFolder, const QString& why, QString* note,
                                  bool* unique);

    // Gives up the folder: no longer listens, and removes the socket, the lock and a folder of
    // its own. Also done when this goes; for a program that ends without running its destructors.
    void release();

    // The launcher holding the folder when claim() did not say First: "corvane-launcher (PID
    // 1234)", its program's name as far as this user may see it; empty when the lock names none.
    QString holder() const;

    // The socket's name (a path), for messages.
    QString socketPath() const { return socketPath_; }
    // Why the lock is not in the private state folder, when it is not; empty when it is.
    QString folderNote() const { return folderNote_; }
    // Why listening failed, when claim() said First but later starts cannot reach this one.
    QString listenError() const { return listenError_; }

signals:
    // A later start on the same folder asks for this launcher's window.
    void raiseRequested();

private:
    void answerRaiseRequests();
    bool askFirstToRaise(int timeoutMs);

    QString socketPath_;
    QString listenError_;
    QString folderNote_;
    QString ownFolder_; // made for this launcher alone, removed with it
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};
