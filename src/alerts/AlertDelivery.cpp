#include "AlertDelivery.h"

#include "AlertQueue.h"
#include "AlertSender.h"
#include "CheckedFolder.h"
#include "Clock.h"
#include "InstallationKey.h"
#include "LauncherCore.h"

#include <QThread>
#include <QTimer>

AlertDelivery::AlertDelivery(LauncherCore& core, const QString& queueFolder, QObject* parent)
    : QObject(parent), core_(core), thread_(new QThread(this)), tmrFinish_(new QTimer(this)) {
    std::unique_ptr<CheckedFolder> folder;
    QString why;
    if (!queueFolder.isEmpty()) {
        folder = CheckedFolder::Open(queueFolder, true, &why);
        if (!folder)
            core_.log().note(
                QStringLiteral("Alerts waiting for delivery are kept in memory only: ") +
                queueFolder + QStringLiteral(" cannot be used (") + why + QStringLiteral(")."));
    }
    const QString fileName = QStringLiteral("alerts-") +
                             InstallationKey(core_.services().serverFolder) +
                             QStringLiteral(".json");
    const AlertsConfig& config = core_.installation().alerts;
    queue_ = std::make_unique<AlertQueue>(std::move(folder), fileName, config.queueLimit);
    if (const QString problem = queue_->load(); !problem.isEmpty())
        core_.log().note(QStringLiteral("The alerts queued by an earlier run cannot be read (") +
                         problem + QStringLiteral("); they are not sent."));

    sender_ = new AlertSender(*queue_, *core_.services().clock);
    sender_->moveToThread(thread_);
    connect(thread_, &QThread::finished, sender_, &QObject::deleteLater);
    connect(sender_, &AlertSender::note, this,
            [this](const QString& line) { core_.log().note(line); });
    connect(sender_, &AlertSender::delivered, this, &AlertDelivery::delivered);
    thread_->setObjectName(QStringLiteral("alerts"));
    thread_->start();

    connect(&core_.alerts(), &AlertWatch::alertRaised, this, &AlertDelivery::post);
    // Until the installation's settings are read, the endpoints of the queue file are kept.
    connect(&core_, &LauncherCore::installationRead, this, [this] { configure(true); });
    configure(false);

    tmrFinish_->setInterval(50);
    connect(tmrFinish_, &QTimer::timeout, this, [this] {
        if (!finished_)
            return tmrFinish_->stop();
        if (queue_->empty() || core_.services().clock->NowMs() >= finishByMs_) {
            tmrFinish_->stop();
            std::exchange(finished_, nullptr)();
        }
    });
}

AlertDelivery::~AlertDelivery() {
    thread_->quit();
    thread_->wait();
}

void AlertDelivery::configure(bool installationRead) {
    const AlertsConfig& config = core_.installation().alerts;
    QStringList names;
    for (const AlertEndpointConfig& endpoint : config.endpoints)
        names << endpoint.name;
    if (names != endpointNames_ && !names.isEmpty())
        core_.log().note(QStringLiteral("Alerts go to: ") + names.join(QStringLiteral(", ")) +
                         u'.');
    endpointNames_ = names;
    queue_->setLimit(config.queueLimit);
    if (installationRead)
        queue_->keepOnly(names);
    QMetaObject::invokeMethod(sender_, [sender = sender_, endpoints = config.endpoints] {
        sender->setEndpoints(endpoints);
    });
}

void AlertDelivery::post(const Alert& alert) {
    if (endpointNames_.isEmpty())
        return;
    const QString before = queue_->saveProblem();
    if (const int dropped = queue_->add(alert, endpointNames_); dropped > 0)
        core_.log().note(QStringLiteral("The alert queue is full; the oldest alert waiting was "
                                        "dropped to make room."));
    if (const QString problem = queue_->saveProblem(); !problem.isEmpty() && problem != before)
        core_.log().note(QStringLiteral("The alert queue cannot be saved (") + problem +
                         QStringLiteral("); alerts waiting are lost if the launcher ends."));
    QMetaObject::invokeMethod(sender_, &AlertSender::deliverDue);
}

void AlertDelivery::sendTest() {
    if (endpointNames_.isEmpty()) {
        core_.log().note(QStringLiteral("No test alert sent: no alert endpoint is set up (an "
                                        "[Alert <name>] section in ") +
                         core_.installationFile() + QStringLiteral(")."));
        return;
    }
    core_.log().note(QStringLiteral("Sending a test alert to ") +
                     endpointNames_.join(QStringLiteral(", ")) + QStringLiteral(" ..."));
    core_.alerts().sendTest();
}

bool AlertDelivery::queueEmpty() const {
    return queue_->empty();
}

void AlertDelivery::finishThen(std::function<void()> done, int maxMs) {
    if (queue_->empty()) {
        done();
        return;
    }
    finished_ = std::move(done);
    finishByMs_ = core_.services().clock->NowMs() + maxMs;
    tmrFinish_->start();
}
