#pragma once

#include "BenchWorld.h"
#include "DaemonPeer.h"

#include <QJsonObject>
#include <sys/types.h>

// pm2 as a peer, as npm installed it for the benchmark (scripts/bench-common.sh): a PM2_HOME of
// its own in a folder of the world (never the user's ~/.pm2), an ecosystem file with the world's
// three stand-ins as apps, set up for the fastest relaunch an operator can ask of it (see
// AppSettings), every console logged to files. Its daemon (the "God Daemon") is found through its
// pid file; its helpers are whatever runs below the daemon besides the servers. Everything it
// started ends with this object: `pm2 kill` with its PM2_HOME, then the hard way.
class Pm2Peer : public DaemonPeer {
public:
    explicit Pm2Peer(BenchWorld& world);
    ~Pm2Peer() override;

    // The settings of each app, as the ecosystem file has them.
    static QJsonObject AppSettings();
    // Where npm installed pm2: $CORVANE_BENCH_PM2_PREFIX, else the build folder's pm2/.
    static QString Prefix();
    // "pm2 7.0.4", or empty when it is not installed there or node cannot be found.
    static std::string Version();

    std::string name() const override { return "pm2"; }
    bool start() override;
    void requestStopAll() override;
    bool stopRequestDone() override;
    QString consoleLogFolder() const override { return folder_ + QStringLiteral("/logs"); }

protected:
    pid_t daemonPid() const override { return daemon_; }
    std::string label() const override { return "pm2 daemon"; }

private:
    bool writeEcosystem() const;
    // Runs pm2 with arguments, its output appended to a file of the folder; its pid or -1.
    pid_t runPm2(const std::vector<std::string>& arguments, const QString& output) const;
    // The daemon's pid from its pid file, when that process runs; else -1.
    pid_t daemonFromPidFile() const;
    // pm2 kill, then a SIGKILL for whatever of the daemon and its processes is left.
    void endEverything();

    BenchWorld& world_;
    QString folder_;
    bool started_ = false;
    pid_t daemon_ = -1;
    pid_t client_ = -1;
};
