#pragma once

#include "ControlVerbs.h"
#include "ServingThread.h"
#include "WebAudit.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class Clock;
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

    // Each action asked of the launcher and what came of it, from every surface that tells it.
    void record(AuditEntry entry);
    // The operator's "Send Test Alert"; set by the launcher that delivers alerts.
    void setSendTestAlert(std::function<void()> send) { verbs_.sendTestAlert = std::move(send); }

private:
    // Runs work on the launcher's thread for the panel's thread, which waits for it; given up,
    // with a refusal, once the panel closes.
    QByteArray onLauncherThread(std::function<QByteArray()> work);

    LauncherCore& core_;
    Clock& clock_;
    ControlVerbs verbs_;
    std::unique_ptr<WebAudit> audit_;
    ServingThread thread_;
    WebHttpServer* server_ = nullptr; // lives in thread_
    std::atomic_bool closing_{false};
    quint16 port_ = 0;
};
