#pragma once

#include "TestFiles.h"
#include "linux/LinuxApis.h"
#include "linux/Pidfd.h"
#include "linux/TmuxClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

// Writes a program file with that content and mode.
inline bool WriteProgram(const QString& path, const QByteArray& content, mode_t mode) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size() && f.flush() &&
           chmod(QFile::encodeName(path).constData(), mode) == 0;
}

// What /proc tells about a process, for checks in tests.
struct proc {
    static QByteArray Read(int pid, const QString& file) {
        return ReadFile(QStringLiteral("/proc/%1/").arg(pid) + file);
    }
    static QString Link(int pid, const QString& link) {
        return QFileInfo(QStringLiteral("/proc/%1/").arg(pid) + link).symLinkTarget();
    }
    static QString Exe(int pid) { return Link(pid, "exe"); }
    static QString Cwd(int pid) { return Link(pid, "cwd"); }
    // Ids of the running processes whose program is that file (deleted or not), or lies in that
    // folder when inFolder is set.
    static QList<int> Running(const QString& path, bool inFolder = false) {
        QList<int> pids;
        for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
            const QString exe = Exe(entry.toInt()).remove(" (deleted)");
            if (entry.toInt() > 0 && (inFolder ? exe.startsWith(path + '/') : exe == path))
                pids << entry.toInt();
        }
        return pids;
    }
    // Targets of all its descriptors: files, folders, devices, pipes, sockets and anonymous ones.
    static QStringList Descriptors(int pid) {
        QStringList targets;
        for (const QString& fd :
             QDir(QStringLiteral("/proc/%1/fd").arg(pid))
                 .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot))
            targets << Link(pid, "fd/" + fd);
        targets.sort();
        return targets;
    }
    // Field n of its stat line (of one thread's, if given), counted from 1; "99" when unread.
    static QByteArray Stat(int pid, int n, const QString& task = QString()) {
        const QByteArray stat = Read(pid, task.isEmpty() ? "stat" : "task/" + task + "/stat");
        return stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(n - 3, "99");
    }
    // Its parent's id.
    static int Parent(int pid) { return Stat(pid, 4).toInt(); }
    // The processes it started that still run.
    static QList<int> Children(int pid) {
        QList<int> children;
        for (const QByteArray& child :
             Read(pid, QStringLiteral("task/%1/children").arg(pid)).split(' '))
            if (child.toInt() > 0)
                children << child.toInt();
        return children;
    }
    // Each thread's nice value.
    static QList<int> Nices(int pid) {
        QList<int> nices;
        for (const QString& tid : QDir(QStringLiteral("/proc/%1/task").arg(pid))
                                      .entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            nices << Stat(pid, 19, tid).toInt();
        return nices;
    }
};

// Whether the process a launch's handle holds has ended.
inline bool Ended(const ServerProcess& p) {
    return PidfdProcessEnded(static_cast<int>(p.hProcess.raw()));
}
// The id of the process a launch's handle holds.
inline int HeldPid(const ServerProcess& p) {
    return PidOfPidfd(static_cast<int>(p.hProcess.raw()));
}

// A private world for tests that start real servers: a temporary folder with a tmux socket folder
// and TMPDIR of its own, and the Linux backend pointed at them and at the built trampoline. When
// it goes (also after a failed check) it closes its tmux server.
class TmuxSandbox {
public:
    TmuxSandbox()
        : folder_(QDir::tempPath() + "/corvane-pt-XXXXXX"), tmuxDir_("TMUX_TMPDIR", mkdir("tmux")),
          tmpDir_("TMPDIR", mkdir("tmp")) {
        static int serial = 0;
        config_.tmuxSocketName = QStringLiteral("corvane-test-%1-%2")
                                     .arg(QCoreApplication::applicationPid())
                                     .arg(++serial);
        config_.trampolinePath = builtProgram("corvane-exec");
        // A busy machine may take longer than the launcher's short wait for the exec's verdict.
        config_.execVerdictWaitMs = 2000;
        apis_.emplace(config_);
    }
    // Closing the tmux server hangs up every console, which ends every well-behaved stand-in.
    // The backend goes first, as a launcher ends before its tmux server.
    ~TmuxSandbox() {
        apis_.reset();
        tmux({"kill-server"});
    }

    const LinuxBackendConfig& config() const { return config_; }
    LinuxApis& apis() { return *apis_; }
    QString path(const QString& relative) const { return folder_.filePath(relative); }
    static QString builtProgram(const QString& name) { return CORVANE_LAUNCHER_DIR "/" + name; }
    // Copies a built stand-in server (e.g. "login-server") to the path, making its folders.
    bool copyServer(const QString& server, const QString& to) const {
        return QDir().mkpath(QFileInfo(to).absolutePath()) && QFile::copy(builtProgram(server), to);
    }
    // Copies the built stand-in server to w/ in the sandbox, unless it is there, and launches it.
    ServerProcess launch(const QString& server, const QString& title, LinuxApis* with = nullptr) {
        const QString program = path("w/" + server);
        return QFile::exists(program) || copyServer(server, program)
                   ? (with ? *with : apis()).LaunchServer(program, title)
                   : ServerProcess::failed();
    }
    // The tmux server's id, 0 when it does not answer; whether it has a session of that name.
    int tmuxPid() const {
        return tmux({"display-message", "-p", "#{pid}"}).value_or("").trimmed().toInt();
    }
    bool hasSession(const QString& name) const {
        return tmux({"has-session", "-t", "=" + name.toStdString()}).has_value();
    }
    // Runs a tmux command on the sandbox's socket: its standard output, or nothing on failure.
    std::optional<QByteArray> tmux(const std::vector<std::string>& command) const {
        return Output(TmuxClient(config_).Run({command}));
    }
    static std::optional<QByteArray> Output(const CommandResult& result) {
        return result.succeeded() ? std::optional(QByteArray::fromStdString(result.output))
                                  : std::nullopt;
    }

private:
    QByteArray mkdir(const char* name) {
        QDir(folder_.path()).mkpath(name);
        return QFile::encodeName(path(name));
    }
    QTemporaryDir folder_;
    ScopedEnv tmuxDir_, tmpDir_;
    LinuxBackendConfig config_;
    std::optional<LinuxApis> apis_;
};
