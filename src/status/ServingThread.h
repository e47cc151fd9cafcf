#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QAbstractHttpServer;
class QHostAddress;
class QTcpServer;
class QThread;

// A thread of its own for a server: the server is made, bound and deleted there, so that every
// socket of it belongs to that thread and no client can hold up the thread that owns it.
class ServingThread {
public:
    ServingThread();
    ~ServingThread();
    ServingThread(const ServingThread&) = delete;
    ServingThread& operator=(const ServingThread&) = delete;

    // Starts the thread, named so, and runs make there, waiting for it: making and binding a
    // server takes microseconds. What make returns lives on the thread until end(); when it
    // returns null, the thread is ended again.
    QObject* start(const QString& name, const std::function<QObject*()>& make);
    // Deletes what was made, on its thread, and ends the thread.
    void end();

    // For make: http listening through tcp (a child of it) on the address and port, with the
    // port taken in *bound; null with the reason when it cannot listen, and http deleted.
    static QObject* Listen(QAbstractHttpServer* http, QTcpServer* tcp, const QHostAddress& address,
                           quint16 port, quint16* bound, QString* reason);

private:
    std::unique_ptr<QThread> thread_;
    QObject* made_ = nullptr; // lives in thread_
};
