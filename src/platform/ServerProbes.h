#pragma once

#include "ProcessHandle.h"

#include <QFileInfo>
#include <QString>
#include <QtGlobal>
#include <cstdint>

// What the launcher asks of the machine about a server without touching it: whether its port
// answers, whose socket holds a port, whether its program's file is there. Nothing here blocks.
class ServerProbes {
public:
    virtual ~ServerProbes() = default;

    // A TCP connection to a port of this host (127.0.0.1), begun without waiting: whether a server
    // listens there and takes connections. BeginPortProbe gives a probe number for PortProbeAnswer,
    // or -1 when no probe could be begun (its answer is Refused). An answer other than NoAnswerYet
    // ends the probe; EndPortProbe gives one up that has none yet. Nothing here blocks.
    enum class PortAnswer { Accepting, Refused, NoAnswerYet };
    virtual std::int32_t BeginPortProbe(std::uint16_t port) {
        Q_UNUSED(port);
        return -1;
    }
    virtual PortAnswer PortProbeAnswer(std::int32_t probe) {
        Q_UNUSED(probe);
        return PortAnswer::Refused;
    }
    virtual void EndPortProbe(std::int32_t probe) { Q_UNUSED(probe); }

    // Whose socket holds a port of this host: a TCP socket listening there, or a UDP socket bound
    // to it. Server: one of the processes of the server that hProcess holds (its program, and its
    // process group as its latest usage reading found it); Other: only other processes' sockets;
    // Nobody: none at all; Unknown: this platform cannot tell (or may not read the server's
    // descriptors).
    enum class PortProtocol { Tcp, Udp };
    enum class PortHolder { Server, Other, Nobody, Unknown };
    virtual PortHolder PortHolderOf(ProcessHandle hProcess, std::uint16_t port,
                                    PortProtocol protocol) {
        Q_UNUSED(hProcess);
        Q_UNUSED(port);
        Q_UNUSED(protocol);
        return PortHolder::Unknown;
    }

    // True when a file (not a folder) exists at the path.
    virtual bool FileExists(const QString& sPath) = 0;
    // Whether a folder (or a link to one) is at sPath.
    virtual bool FolderExists(const QString& sPath) { return QFileInfo(sPath).isDir(); }
};
