#pragma once

#include <functional>

class QObject;

// The operating system asking the program to end (on Linux: SIGTERM, SIGINT or SIGHUP, as from
// kill, Ctrl-C or a closed terminal). From the first call on, each request runs onRequest from
// the event loop of context's thread, never inside the signal itself; without that it would end
// the program at once. Call once, from the main thread.
void WatchTerminationRequests(QObject* context, std::function<void()> onRequest);
