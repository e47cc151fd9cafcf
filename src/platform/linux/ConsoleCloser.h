#pragma once

#include "CloseRequest.h"
#include "TmuxClient.h"

#include <QString>

// Delivers a close request to the server in the console titled title, without closing the
// console: the console lasts as long as its server, so a server that ignores the request keeps
// its console and can still be attached to. A signal goes to the console's process group (the
// server, and what a server script started); a line is typed into the console. True when it was
// delivered; false when there is no such console or it could not be reached.
bool DeliverCloseRequest(const TmuxClient& tmux, const QString& title, const CloseRequest& request);
