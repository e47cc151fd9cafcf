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

// A folder of this user's own where every launcher the user starts finds it, whatever its
// environment says (XDG_RUNTIME_DIR, HOME, TMPDIR): under the home folder of the user's account.
// Created private when missing. Empty, with the reason in *error, when it cannot be made or is
// not safe: a link, another user's folder, or one others may enter.
QString PrivateStateFolder(QString* error);
