#pragma once

#include "Fakes.h"
#include "Platform.h"
#include "ProcInspect.h"
#include "TabStrip.h"
#include "TmuxSandbox.h"
#include "VbScrollBar.h"
#include "frmMain.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <csignal>

// The real main window on the real Linux backend of a sandbox, with the stand-in servers copied
// into a launcher folder of awkward name inside it; only the settings and the end of the program
// are pretend. A 20 ms timer of its own notes the longest stall of the event loop. Every server
// process the window started is ended when this goes, also after a failed check.
class RealLauncher {
public:
    explicit RealLauncher(TmuxSandbox& sandbox)
        : clock_(CreateSystemClock()),
          folder_(sandbox.path("Spiel Welt's \"$HOME\"=x;y Ærø 服务器")) {
        ready_ = sandbox.isValid();
        for (int i = 0; i < 3; ++i)
            ready_ =
                ready_ && (QFile::exists(programPath(i)) ||
                           sandbox.copyServer(programPath(i).section('/', -1), programPath(i)));
        window_ = std::make_unique<frmMain>(LauncherServices{&sandbox.apis(), clock_.get(),
                                                             &settings_, [this] { return folder_; },
                                                             [] { return false; }, [] {}});
        window_->Form_Load();
        QObject::connect(&probe_, &QTimer::timeout, [this] {
            longestStall_ = std::max(longestStall_, sinceProbe_.restart() - 20);
        });
        sinceProbe_.start();
        probe_.start(20);
    }
    // Servers that outlived the test get the console's hang-up first, then the hard way.
    ~RealLauncher() {
        for (const int pid : runningFrom(QString(), true))
            ::kill(pid, SIGHUP);
        if (!QTest::qWaitFor([this] { return runningFrom(QString(), true).isEmpty(); }, 2000))
            for (const int pid : runningFrom(QString(), true))
                ::kill(pid, SIGKILL);
    }

    bool isReady() const { return ready_; }
    frmMain& window() { return *window_; }
    QString folder() const { return folder_; }
    QString programPath(int server) const { return folder_ + ServerTable::programFiles()[server]; }
    // A 1-second status tick and a 5-second crash notice, options tab selected; then Start.
    void startWithQuickTicks() {
        window_->vsInterval->SetValue(-1);
        window_->vsKeepIconFor->SetValue(-5);
        window_->conTab->Select(4);
        window_->cmdServerStart_Click();
    }
    // The window goes as if the launcher were killed: nothing is stopped or saved.
    void dropWindow() {
        droppedLog_ = log();
        window_.reset();
    }
    QStringList log() const {
        QStringList lines = droppedLog_;
        for (int row = 0; window_ && row < window_->lstLog->count(); ++row)
            lines << window_->lstLog->item(row)->text();
        return lines;
    }
    int linesWith(const QString& text) const { return static_cast<int>(log().filter(text).size()); }
    // Ids of the running processes whose program is that file, or lies in the launcher folder.
    QList<int> runningFrom(const QString& path, bool wholeFolder = false) const {
        QList<int> pids;
        for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
            const QString exe = proc::Exe(entry.toInt()).remove(" (deleted)");
            if (entry.toInt() > 0 && (wholeFolder ? exe.startsWith(folder_ + '/') : exe == path))
                pids << entry.toInt();
        }
        return pids;
    }
    qint64 longestStallMs() const { return longestStall_; }

private:
    std::unique_ptr<Clock> clock_;
    FakeSettings settings_;
    QString folder_;
    bool ready_ = false;
    std::unique_ptr<frmMain> window_;
    QStringList droppedLog_;
    QTimer probe_;
    QElapsedTimer sinceProbe_;
    qint64 longestStall_ = 0;
};

// Runs the event loop until the condition holds or timeoutMs of clock time have passed, checking
// every 5 ms from a timer, so also while a status tick waits inside the event loop; runs the
// action the first time the condition holds, as an operator's click would come then.
inline bool WhenSeen(
    const std::function<bool()>& condition, int timeoutMs,
    const std::function<void()>& action = [] {}) {
    bool seen = false;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (!seen && condition()) {
            seen = true;
            check.stop();
            action();
        }
    });
    check.start(5);
    return QTest::qWaitFor([&] { return seen; }, timeoutMs);
}
