#pragma once

#include "Clock.h"
#include "modAPIs.h"

#include <QString>
#include <memory>

// The one place that knows which operating system the launcher runs on: the build picks the
// implementation file of these factories.

// The process primitives of this operating system, set up for the servers of serverFolder.
std::unique_ptr<modAPIs> CreatePlatformApis(const QString& serverFolder);

// The real clock.
std::unique_ptr<Clock> CreateSystemClock();
