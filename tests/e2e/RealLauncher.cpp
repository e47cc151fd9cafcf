#include "RealLauncher.h"

#include "Platform.h"
#include "ProcInspect.h"
#include "linux/Pidfd.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QThread>
#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>

RealLauncher::RealLauncher() : clock_(CreateSystemClock()) {
    folder_ = sandbox_.path(QStringLiteral("game world's $HOME=x;y"));
    ready_ = sandbox_.isValid();
    for (const char* server : {"login-server", "char-server", "map-server"})
        ready_ = ready_ && sandbox_.copyServer(QString::fromLatin1(server),
                                               folder_ + QLatin1Char('/') + QLatin1String(server));

    LauncherServices services;
    services.apis = &sandbox_.apis();
    services.clock = clock_.get();
    services.settings = &settings_;
    services.launcherFolder = [this] { return folder_; };
    services.trayAvailable = [] { return false; };
    services.endProgram = [] {};
    window_ = std::make_unique<frmMain>(services);
    window_->Form_Load();
}

RealLauncher::~RealLauncher() {
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

void RealLauncher::trackServers() {
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

QStringList RealLauncher::log() const {
    QStringList lines;
    for (int row = 0; row < window_->lstLog->count(); ++row)
        lines << window_->lstLog->item(row)->text();
    return lines;
}

QString RealLauncher::logLineWith(const QString& text) const {
    const QStringList lines = log().filter(text);
    return lines.isEmpty() ? QString() : lines.last();
}
