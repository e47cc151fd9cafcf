#include "FaultLauncher.h"

#include "Platform.h"
#include "ProcInspect.h"
#include "TabStrip.h"
#include "TmuxSandbox.h"
#include "VbScrollBar.h"
#include "linux/Pidfd.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QThread>
#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>

const QString FaultLauncher::kAwkwardFolderName =
    QStringLiteral("Spiel Welt's \"$HOME\"=x;y Ærø ünïcødé 服务器");

FaultLauncher::FaultLauncher(TmuxSandbox& sandbox, const QString& folderName, modAPIs* apis)
    : clock_(CreateSystemClock()) {
    folder_ = sandbox.path(folderName);
    ready_ = sandbox.isValid();
    for (const char* server : {"login-server", "char-server", "map-server"}) {
        const QString destination = folder_ + QLatin1Char('/') + QLatin1String(server);
        ready_ = ready_ && (QFile::exists(destination) ||
                            sandbox.copyServer(QString::fromLatin1(server), destination));
    }

    LauncherServices services;
    services.apis = apis != nullptr ? apis : &sandbox.apis();
    services.clock = clock_.get();
    services.settings = &settings_;
    services.launcherFolder = [this] { return folder_; };
    services.trayAvailable = [] { return false; };
    services.endProgram = [] {};
    window_ = std::make_unique<frmMain>(services);
    window_->Form_Load();
}

FaultLauncher::~FaultLauncher() {
    trackServers();
    window_.reset();
    // Servers that outlived the test get the console's hang-up first, then the hard way.
    for (const int fd : tracked_) {
        const pid_t pid = PidOfPidfd(fd);
        if (pid > 0)
            ::kill(pid, SIGHUP);
    }
    QElapsedTimer timer;
    timer.start();
    for (const int fd : tracked_) {
        while (!PidfdProcessEnded(fd) && timer.elapsed() < 2000)
            QThread::msleep(10);
        if (!PidfdProcessEnded(fd))
            syscall(SYS_pidfd_send_signal, fd, SIGKILL, nullptr, 0);
        close(fd);
    }
}

QString FaultLauncher::programPath(int server) const {
    static const char* const programs[] = {"login-server", "char-server", "map-server"};
    return folder_ + QLatin1Char('/') + QLatin1String(programs[server]);
}

void FaultLauncher::useQuickTicks() {
    window_->vsInterval->SetValue(-1);
    window_->vsKeepIconFor->SetValue(-5);
    window_->conTab->Select(4);
}

void FaultLauncher::trackServers() {
    if (!window_)
        return;
    for (const ServerProcess& record : window_->ServerProc) {
        if (record.lPID <= 0)
            continue;
        const int fd = OpenPidfd(record.lPID);
        if (fd < 0)
            continue;
        // Only a program of our own folder: the id may have gone to another process meanwhile.
        if (proc::Exe(record.lPID).startsWith(folder_))
            tracked_.push_back(fd);
        else
            close(fd);
    }
}

void FaultLauncher::dropWindow() {
    trackServers();
    droppedLog_ = log();
    window_.reset();
}

QStringList FaultLauncher::log() const {
    if (!window_)
        return droppedLog_;
    QStringList lines;
    for (int row = 0; row < window_->lstLog->count(); ++row)
        lines << window_->lstLog->item(row)->text();
    return lines;
}

int FaultLauncher::linesWith(const QString& text) const {
    return static_cast<int>(log().filter(text).size());
}

QString FaultLauncher::lastLineWith(const QString& text) const {
    const QStringList lines = log().filter(text);
    return lines.isEmpty() ? QString() : lines.last();
}

void FaultLauncher::printLog() const {
    for (const QString& line : log())
        qInfo("log: %s", qPrintable(line));
}
