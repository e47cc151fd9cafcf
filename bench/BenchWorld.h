#pragma once

#include "linux/LinuxApis.h"
#include "linux/LinuxBackendConfig.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// A private world for a benchmark that runs real servers: a temporary folder (under
// $CORVANE_BENCH_TMP when set) holding copies of the three stand-in servers, a settings folder,
// and a tmux socket and TMUX_TMPDIR of its own, with the Linux backend pointed at them. When it
// goes it closes its tmux server and kills whatever still runs from its folder.
class BenchWorld {
public:
    BenchWorld();
    ~BenchWorld();
    BenchWorld(const BenchWorld&) = delete;
    BenchWorld& operator=(const BenchWorld&) = delete;

    bool isValid() const { return valid_; }
    QString launcherFolder() const;
    QString settingsFolder() const;
    // Stores a launcher setting, for a launcher made afterwards to load.
    void presetSetting(const QString& key, const QString& value) const;
    const LinuxBackendConfig& config() const { return config_; }
    LinuxApis& apis() { return *apis_; }

    // Runs a tmux command on the private socket; its output, or nothing on failure.
    std::optional<QByteArray> tmux(const std::vector<std::string>& command) const;
    // The private tmux server's process id; -1 when none runs.
    pid_t tmuxServerPid() const;
    // Processes whose program lies in this world's folder.
    std::vector<pid_t> ownProcesses() const;

    // Closes the tmux server and ends every process of the folder; safe to call again.
    void endEverything();

private:
    QTemporaryDir folder_;
    bool valid_ = false;
    LinuxBackendConfig config_;
    std::unique_ptr<LinuxApis> apis_;
    mutable pid_t tmuxServer_ = -1;
};
