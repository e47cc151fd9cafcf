#pragma once

#include "ProcessControl.h"
#include "ServerConsoles.h"
#include "ServerProbes.h"
#include "ServerUsageReader.h"

// The launcher's only contact with the operating system's processes and server consoles: the
// roles below, which one backend per operating system implements. Code that needs only one role
// takes that role's interface.
class modAPIs : public ProcessControl,
                public ServerConsoles,
                public ServerProbes,
                public ServerUsageReader {
public:
    ~modAPIs() override = default;
};
