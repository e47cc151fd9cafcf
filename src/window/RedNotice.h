#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>

class Clock;
class QTimer;
struct LauncherOptions;

// What the red notice under the options says. A server's crash is its first business, and the
// crash monitor times that notice. Between crashes it also tells that the status cannot be served,
// for as long as a crash's notice would stand. A crash's notice replaces such a notice at once;
// such a notice never covers a crash's. While a crash's notice stands, its tip names the servers
// that crashed, one line each.
class RedNotice : public QObject {
    Q_OBJECT
public:
    RedNotice(Clock& clock, const LauncherOptions& options, QObject* parent = nullptr);

    // The crash monitor's notice begins or ends.
    void crashNotice(bool shown, const QString& caption);
    // The crash monitor announced a crash of server (0 to 2); its notice follows, or stands. A
    // crash relaunched after the notice (delayMs CrashMonitor::kAfterTheNotice) is named by the
    // notice its relaunch begins, too.
    void serverCrashed(int server, qint64 delayMs);
    // The status cannot be served: shown unless a crash's notice stands.
    void statusNotice(const QString& caption);
    // The end of the status notice, by its timer, once the launcher's clock says it is time.
    void tmrStatusNotice_Timer();

signals:
    void changed(bool shown, const QString& caption, const QString& tip);

private:
    Clock& clock_;
    const LauncherOptions& options_;
    QTimer* tmrStatusNotice_;
    bool crashShown_ = false;
    QString crashCaption_;
    QStringList crashes_; // "Map Server crashed at 12:30:05", for the crash notice's tip
    QStringList carried_; // those of crashes_ that the next notice names too
    bool statusShown_ = false;
    QString statusCaption_;
    std::int64_t statusEndsAtMs_ = 0;
};
