#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

class Clock;
class QTimer;
struct LauncherOptions;

// What the red notice under the options says. A server's crash is its first business, and the
// crash monitor times that notice. Between crashes it also tells that the status cannot be served,
// for as long as a crash's notice would stand. A crash's notice replaces such a notice at once;
// such a notice never covers a crash's.
class RedNotice : public QObject {
    Q_OBJECT
public:
    RedNotice(Clock& clock, const LauncherOptions& options, QObject* parent = nullptr);

    // The crash monitor's notice begins or ends.
    void crashNotice(bool shown, const QString& caption);
    // The status cannot be served: shown unless a crash's notice stands.
    void statusNotice(const QString& caption);
    // The end of the status notice, by its timer, once the launcher's clock says it is time.
    void tmrStatusNotice_Timer();

signals:
    void changed(bool shown, const QString& caption);

private:
    Clock& clock_;
    const LauncherOptions& options_;
    QTimer* tmrStatusNotice_;
    bool crashShown_ = false;
    bool statusShown_ = false;
    QString statusCaption_;
    std::int64_t statusEndsAtMs_ = 0;
};
