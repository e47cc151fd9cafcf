#pragma once

#include "StatusSnapshot.h"

#include <QByteArray>

// The snapshot in Prometheus's text exposition format (version 0.0.4).
QByteArray PrometheusText(const StatusSnapshot& snapshot);

// The snapshot as a small JSON document for scripts and uptime checkers.
QByteArray StatusJson(const StatusSnapshot& snapshot);
