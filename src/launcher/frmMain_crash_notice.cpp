#include "frmMain.h"

#include "Clock.h"

#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>

// The red crash notice stands for the chosen number of seconds while the launcher reads
// "crashed". It runs on a timer of its own, so that a crash during the notice is relaunched as
// soon as the first one was.

void frmMain::ShowCrashNotice() {
    lblCrashNotice->setText(QStringLiteral("Server Crashed! ") + Now());
    lblCrashNotice->setVisible(true);
    // Read once, when the notice begins; a later crash begins it again.
    const std::int64_t seconds = txtKeepIconFor->text().toInt();
    noticeEndsAtMs_ = services_.clock->NowMs() + seconds * 1000;
    noticeStops_ = stopCount_;
    tmrCrashNotice->start(static_cast<int>(seconds * 1000));
}

void frmMain::tmrCrashNotice_Timer() {
    const std::int64_t left = noticeEndsAtMs_ - services_.clock->NowMs();
    if (left > 0) {
        tmrCrashNotice->start(static_cast<int>(std::min<std::int64_t>(left, 60000)));
        return;
    }
    lblCrashNotice->setVisible(false);
    // After a stop meanwhile the launcher is offline, or online again by a new start.
    if (stopCount_ != noticeStops_)
        return;
    ServerState = LauncherState::Online;
    ChangeLauncherState(Transition::RefreshTray);
}
