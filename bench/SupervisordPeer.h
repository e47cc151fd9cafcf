#pragma once

#include "BenchWorld.h"
#include "DaemonPeer.h"

#include <sys/types.h>

// supervisord as a peer: its own configuration, socket, pid file and logs in a folder of the
// world, the world's three stand-ins as programs, set up for the fastest relaunch an operator can
// ask of it (see kProgramSettings), every console logged to a file. Its helpers are whatever it
// runs besides the servers. It ends with this object; supervisorctl is the operator's client.
class SupervisordPeer : public DaemonPeer {
public:
    explicit SupervisordPeer(BenchWorld& world);
    ~SupervisordPeer() override;

    // The settings of each program, as the configuration file has them.
    static const char* const kProgramSettings;
    // "supervisord 4.2.5", or empty when it is not installed.
    static std::string Version();

    std::string name() const override { return "supervisord"; }
    bool start() override;
    void requestStopAll() override;
    bool stopRequestDone() override;
    QString consoleLogFolder() const override { return folder_ + QStringLiteral("/logs"); }

protected:
    pid_t daemonPid() const override { return supervisord_; }
    std::string label() const override { return "supervisord"; }

private:
    bool writeConfiguration() const;
    // Starts program with arguments, its output into a file of the folder; its pid or -1.
    pid_t spawn(const std::vector<std::string>& arguments, const QString& output) const;

    BenchWorld& world_;
    QString folder_;
    pid_t supervisord_ = -1;
    pid_t client_ = -1;
};
