#pragma once

#include "ProcessHandle.h"

#include <QString>
#include <cstdint>
#include <utility>

// The record of one launched server. A failed launch is exactly {no handle, -1, empty path}, with
// the reason beside it. The record is a plain value: whoever replaces or drops one must hand its
// handle back through modAPIs::ReleaseProcessHandle, or the handle leaks.
struct ServerProcess {
    ProcessHandle hProcess;
    std::int32_t lPID = 0;
    QString sExePath;
    // Why the launch failed, in words for the operator's log; empty for one that did not.
    QString sError{};

    static ServerProcess failed(QString why = QString()) {
        return ServerProcess{ProcessHandle{}, -1, QString(), std::move(why)};
    }
    bool isFailedLaunch() const { return lPID == -1; }
    // The same process: the reason a launch failed is not part of the record.
    friend bool operator==(const ServerProcess& a, const ServerProcess& b) {
        return a.hProcess == b.hProcess && a.lPID == b.lPID && a.sExePath == b.sExePath;
    }
};
