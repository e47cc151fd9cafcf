#pragma once

#include "ControlVerbs.h"
#include "ServingThread.h"
#include "WebAudit.h"
#include "WebFeed.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class Clock;
struct HistoryView;
class LauncherCore;
class WebHttpServer;
struct WebConfig;

// The web panel of a launcher: served from a thread of its own, so that no browser can hold up
// the launcher, with what it asks of the launcher (the control verbs, the audit) taken on the
// launcher's thread. The audit is kept in the logs folder while the panel is open.
class WebPanel : public QObject {
    Q_OBJECT
public:
    WebPanel(LauncherCore& core, Clock& clock, QObject* parent = nullptr);
    ~WebPanel() override;

    // Listens as the section says, with the accounts of the file name in the folder; false with
    // the reason when it cannot, and then nothing listens.
    bool open(const WebConfig& config, const QString& accountsFolder, const QString& accountsFile,
              QString* why);
    void close();
    bool isOpen() const { return server_ != nullptr; }
    quint16 port() const { return port_; }

    // The operator's "Send Test Alert"; set by the launcher that delivers alerts.
    void setSendTestAlert(std::function<void()> send) { verbs_.sendTestAlert = std::move(send); }
    // Reads the history's view as of now and hands it to done on the launcher's thread, unless
    // receiver is gone by then (HistoryRecorder::load); without it the charts are empty.
    using HistoryLoad =
        std::function<void(QObject* receiver, std::function<void(const HistoryView&)> done)>;
    void setHistory(HistoryLoad load) { history_ = std::move(load); }

private:
    // Each action asked of the launcher and what came of it, from every surface that tells it.
    void record(const AuditEntry& entry);
    // Runs work on the launcher's thread for the panel's thread, which waits for it; given up,
    // with a refusal, once the panel closes.
    QByteArray onLauncherThread(std::function<QByteArray()> work);
    // The same for work that answers later, through reply, given up after mostMs (-1: never).
    using Reply = std::function<void(QByteArray answer)>;
    QByteArray onLauncherThread(std::function<void(const Reply& reply)> work, int mostMs);

    LauncherCore& core_;
    Clock& clock_;
    ControlVerbs verbs_;
    std::unique_ptr<WebAudit> audit_;
    HistoryLoad history_;
    WebFeed::ConsoleVersions consoleVersions_; // on the launcher's thread
    QByteArray historyJson_;                   // the latest reading, on the launcher's thread
    qint64 historyReadMs_ = 0;
    ServingThread thread_;
    WebHttpServer* server_ = nullptr; // lives in thread_
    std::atomic_bool closing_{false};
    quint16 port_ = 0;
};
