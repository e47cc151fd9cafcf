#pragma once

#include "ProcessHandle.h"

#include <QString>
#include <cstdint>

// The record of one launched server. A failed launch is exactly {no handle, -1, empty path}.
// The record is a plain value: whoever replaces or drops one must hand its handle back through
// modAPIs::ReleaseProcessHandle, or the handle leaks.
struct ServerProcess {
    ProcessHandle hProcess;
    std::int32_t lPID = 0;
    QString sExePath;

    static ServerProcess failed() { return ServerProcess{ProcessHandle{}, -1, QString()}; }
    bool isFailedLaunch() const { return lPID == -1; }
    friend bool operator==(const ServerProcess&, const ServerProcess&) = default;
};
